# The start of the game and its main loop: a background, a message window
# whose text is typed out one character a frame, click-to-advance, a
# choice, music, and save (F5) and load (F9). The pages are in story.zs.

# page is the page of the story on screen; typed counts the frames since it
# began; choice is 0 until the player picks 1 or 2.
int page
int typed
int choice

# Read-only system variables, declared by their numbers: the key and button
# counters (1 on the frame it went down) and the mouse position.
int held[1024] at 144
int mouse_x at 133
int mouse_y at 138

label SYSTEM_START
layer name="bg", priority=10, file="image/bg.bmp"
layer name="msgwin", priority=45, x=4, y=318, file="image/window.bmp", opacity=200

# Two text lines, each inside a group one pixel wide that the loop widens:
# that is what types the text out.
layer name="line1/", priority=46, x=10, y=340, width=1, height=22
layer name="line2/", priority=46, x=10, y=366, width=1, height=22
layer name="line1/text", no=1, file="image/textline.bmp"
layer name="line2/text", no=1, file="image/textline.bmp"
textstyle size=14, height=16, smooth=1, mode=1, colour=0xFFFFFF

# The music fades in over a second and loops; the click plays once a go.
sound name="bgm", file="sound/bgm.ogg", volume=160, play=1, fade=1000
sound name="click", file="sound/click.wav", loop=1

page = 1
call SHOW_PAGE

loop
  typed += 1
  layer name="line1/", width=typed * 14 + 4
  if typed > 10
    layer name="line2/", width=(typed - 10) * 14 + 4
  end

  if page == 2
    # The choice: key 1 or 2, or a click on its line.
    if held[49] == 1 || (held[1] == 1 && mouse_y >= 340 && mouse_y < 362)
      choice = 1
    elseif held[50] == 1 || (held[1] == 1 && mouse_y >= 366 && mouse_y < 388)
      choice = 2
    end
    if choice > 0
      page = 3
      call SHOW_PAGE
    end
  elseif held[1] == 1 || held[13] == 1 || held[32] == 1
    # A click, Return or Space: the next page.
    sound name="click", loop=1, play=1
    call NEXT_PAGE
  end

  # F5 saves every integer (block 1) into save/slot1.sd; F9 loads it back.
  if held[116] == 1
    save no=1, int1=1
    save file="slot1"
  end
  if held[120] == 1
    load file="slot1", no=1
    call SHOW_PAGE
  end

  # Escape ends the game.
  if held[27] == 1
    endprogram
  end
  wait 1
end
