# The ZORVEK demo: what the engine draws and plays so far, on one 640 x 480 screen.
# Compiled by zk_mkgame into the game's first script file; the pictures
# under image/ are drawn by tools/lib/demo_images.cpp.
#
#   bg          the dusk gradient behind everything
#   panel/      a group layer: its children are placed in it and clipped to it
#     add, multiply, screen   one tile in three blend modes
#     ball      a ball that sticks out of the panel and is cut at its edge
#   photo       a picture wiped in from the left through the mask layer wipe
#   title       a banner that fades in
#   ball        a ball that bounces from side to side, one step a frame
#   pointer     a small ball that follows the mouse once it moves
#
# Two scenes take turns: in the first the photo wipes in and the title fades
# in, in the second both go again and the panel drops to the middle. Each
# scene holds for five seconds; a click, Return, Space or a gamepad button
# skips the rest of that wait and moves on at once, with a click. Music
# (sound/bgm.ogg) fades in half a second after the start and loops. Escape ends the demo;
# the window's close button asks first ("終了します。よろしいですか？").

# frame counts the passes since the scene began; hold is how many it lasts.
int frame
int hold = 300
int scene = 1
int ball_x
int ball_dx = 4
int pointer_shown
int music

# Read-only system variables, declared by number: the held/released counter
# of each input (1 on the frame a key or button went down), the joystick
# buttons (32 a joystick) and the mouse position in game coordinates.
int held[1024] at 144
int pad_button[512] at 280
int mouse_x at 133
int mouse_y at 138

label SYSTEM_START
layer name="bg", priority=10, file="image/bg.bmp"

layer name="panel/", priority=20, x=40, y=40, width=480, height=120
layer name="panel/add", priority=1, x=10, y=10, file="image/tile.bmp", blend=1
layer name="panel/multiply", priority=2, x=125, y=10, file="image/tile.bmp", blend=3
layer name="panel/screen", priority=3, x=240, y=10, file="image/tile.bmp", blend=5
layer name="panel/ball", priority=4, x=440, y=28, file="image/ball.bmp"

# The mask is a layer of its own, never shown: its blue channel decides
# which pixels of the photo the mask level lets through.
layer name="wipe", priority=1, file="image/wipe.bmp", visible=0
layer name="photo", priority=30, x=400, y=290, file="image/photo.bmp", mask="wipe", softness=256, masklevel=0

layer name="title", priority=40, x=160, y=400, file="image/title.bmp", opacity=0
layer name="ball", priority=50, x=0, y=200, file="image/ball.bmp"
layer name="pointer", priority=60, file="image/ball.bmp", visible=0, opacity=160

# Gamepads are read only when a script asks for them.
input gamepad=1

# One pass a frame: a wipe or a fade takes 32 frames, the ball never stops.
loop
  frame += 1
  # Half a second in, the music starts: it fades in over two seconds to
  # volume 160 and loops. The click is loaded then too, and played on each
  # advance (loop=1: one pass, then it stops and the next play loads it
  # again).
  if music == 0 && frame == 30
    music = 1
    sound name="bgm", file="sound/bgm.ogg", volume=160, play=1, fade=2000
    sound name="click", file="sound/click.wav", loop=1
  end
  if scene == 1
    if frame <= 32
      layer name="photo", masklevel+=8
      layer name="title", opacity+=8
    end
  else
    if frame <= 32
      layer name="photo", masklevel-=8
      layer name="title", opacity-=8
      layer name="panel/", y+=5
    end
  end
  ball_x += ball_dx
  if ball_x >= 576
    ball_dx = -4
  elseif ball_x <= 0
    ball_dx = 4
  end
  layer name="ball", x=ball_x

  # The pointer ball appears with the first mouse move (input 7).
  if held[7] == 1 && pointer_shown == 0
    pointer_shown = 1
    layer name="pointer", visible=1
  end
  if pointer_shown == 1
    layer name="pointer", x=mouse_x - 32, y=mouse_y - 32
  end

  # Escape (virtual key 27) ends the demo.
  if held[27] == 1
    endprogram
  end

  # The scene's time is up, or the player skips the rest of its wait: the
  # left button (1), Return (13), Space (32) or button 1 of any of the
  # first four gamepads.
  if frame >= hold || held[1] == 1 || held[13] == 1 || held[32] == 1 || pad_button[0] == 1 || pad_button[32] == 1 || pad_button[64] == 1 || pad_button[96] == 1
    if scene == 1
      # The photo and the title may not be whole yet: show them whole so the
      # next scene takes them away from there.
      layer name="photo", masklevel=256
      layer name="title", opacity=256
      scene = 2
    else
      layer name="photo", masklevel=0
      layer name="title", opacity=0
      layer name="panel/", y=40
      scene = 1
    end
    frame = 0
    sound name="click", loop=1, play=1
  end
  wait 1
end
