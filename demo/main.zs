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
#   emblem      a tile turning and growing and shrinking in the top right
#               corner: each frame the hidden emblemsrc is rotated into it
#               (bilinear) and the result scaled to its size of the frame;
#               it lights up (add mode) while the pointer is over one of its
#               visible pixels (command 4 reads the alpha under the mouse)
#   spark       a short animation from a frame sequence with alpha
#               (image/spark.seq), one frame every four passes
#   photosrc    the photo as drawn, never shown: the photo of the second
#               scene is its sepia copy (a flashback), the first its plain copy
#   msgblur     the panel group blurred (a box blur), behind the message window
#   opening     a small screen at the top left where the opening movie
#               (movie/opening.ogv, Theora, two seconds) plays as the demo
#               starts; a click skips it, and the screen goes with it
#   msgwin      the message window: a panel at opacity 200 with a name, and
#     msgline1/ .. msgline3/   three lines of text, each typed out by a
#               group that widens by a character a frame over its text
#
# Two scenes take turns: in the first the photo wipes in and the title fades
# in, in the second both go again and the panel drops to the middle. Each
# scene holds for five seconds; a click, Return, Space or a gamepad button
# skips the rest of that wait and moves on at once, with a click. Music
# (sound/bgm.ogg) fades in half a second after the start and loops. Escape ends the demo;
# the window's close button asks first ("終了します。よろしいですか？").
# F11 or Alt+Return switches between the window and fullscreen; the window
# can be resized by its frame and keeps the screen's shape. A second window
# (window 1, "マップ") shows a small map of the screen with the ball on it.
# F5 saves the scene (its integers and the background picture) into
# save\demo.sd and memory row 0; F9 loads it back, from the row once this
# run has saved, else from the file an earlier run left.
# The right button opens a menu of the same: save, load, fullscreen and
# quit. The map window has a menu bar (drawn by the engine as a strip at
# the top of the window) whose "閉じる" closes it; its title greets the
# player by the name asked for on the first run.
# F8 opens a one-line EDIT field at the bottom left (type a name, with the
# input method too); F8 again closes it and writes the name to the debug
# log (debuglog.txt). F12 exports the background as save\shot.png, asks
# command 21 whether it exists, and logs the answer and the file's tokens.

# frame counts the passes since the scene began; hold is how many it lasts.
int frame
int hold
int scene = 1
int ball_x
int ball_dx = 4
# The ball's step a frame: 4 at first; each time the first scene comes back
# a random 2..6 (command 60), taken at the ball's next turn.
int step = 4
int pointer_shown
# typed counts the frames since the message page began.
int typed
int level
real quick_saved
int music
# spin counts every pass: the emblem turns 5 degrees a pass; size is its
# width and height of the frame, 60 to 92 pixels and back.
int spin
int size
# hover is the emblem's alpha under the mouse (-1 off it); spark_frames the
# spark sequence's frame count.
int hover
int spark_frames
# The system services: the EDIT field is open, the name typed in it, the
# answer of command 21, and the tokens of a logged line.
int editing
str typed_name
int shot_exists
str tokens[8]
int token_kinds[8]
int comment_state
int token_count
int ref_tokens
int ref_kinds
int ref_state
# opening counts the frames of the opening movie; -1 once it has gone.
int opening
# fullscreen is 1 while the main window covers its monitor.
int fullscreen
# The player's name, and whether an earlier run kept it (save\player.sd).
str player_name
int named
# The item chosen from a menu this pass (0: none): 1 save, 2 load,
# 3 fullscreen, 4 quit, 11 the map window's "閉じる".
int chosen

# Read-only system variables, declared by number: the held/released counter
# of each input (1 on the frame a key or button went down), the joystick
# buttons (32 a joystick) and the mouse position in game coordinates.
int held[1024] at 144
int pad_button[512] at 280
int mouse_x at 133
int mouse_y at 138
# The last menu item chosen (its id), cleared once taken.
int menu_command at 132

label SYSTEM_START
# Five seconds at 60 frames a second, read from a text (command 60).
math result=hold, text="5 * 60", eval=1
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

# The message window: smoothed text with a one-pixel edge and a gradient,
# drawn by the image operation command into transparent lines.
# The emblem's source, and the photo as drawn, are never shown.
layer name="emblemsrc", priority=1, file="image/tile.bmp", visible=0
layer name="emblem", priority=65, file="image/tile.bmp"
layer name="photosrc", priority=1, file="image/photo.bmp", visible=0

# The spark: an empty layer that the sequence's frames fill.
layer name="spark", priority=58, x=588, y=428, file=""
sequence name="spark", file="image/spark.seq", frame=0
sequenceinfo name="spark", count=1, result=spark_frames

# Behind the message window: the left part of the panel group, blurred.
layer name="msgblur", priority=44, x=4, y=318, file="image/textline.bmp"
editcg name="panel/", other="msgblur", blur4=1, value=6, x1=0, y1=0, x2=149, y2=119

layer name="msgwin", priority=45, x=4, y=318, file="image/window.bmp", opacity=200
layer name="msgline1/", priority=46, x=10, y=348, width=1, height=22
layer name="msgline2/", priority=46, x=10, y=374, width=1, height=22
layer name="msgline3/", priority=46, x=10, y=400, width=1, height=22
layer name="msgline1/text", no=1, file="image/textline.bmp"
layer name="msgline2/text", no=1, file="image/textline.bmp"
layer name="msgline3/text", no=1, file="image/textline.bmp"
textstyle size=14, height=16, smooth=1, mode=1, colour=0xFFE070
editcg name="msgwin", drawtext=1, text="ミナ", x1=8, y1=6
call MESSAGE_PAGE

# The opening movie: 30 frames a second into the screen layer, whatever
# the frame rate.
layer name="opening", priority=95, x=8, y=164, file="image/screen.bmp"
layermovie name="opening", file="movie/opening.ogv"
# The map window's own layer set W1: the background scaled to a quarter,
# the ball as a small dot. Closing the window closes only it.
layer name=":W1/", priority=1, width=160, height=120
layer name=":W1/map", priority=1, file="image/bg.bmp"
editcg name=":W1/map", scale20=1, width=160, height=120
layer name=":W1/dot", priority=2, file="image/ball.bmp"
editcg name=":W1/dot", scale20=1, width=16, height=16

# The right button's menu, and the map window's menu bar.
menuitem path="main/", caption="メニュー", order=1
menuitem path="main/save", caption="セーブ(&S)", order=1, id=1
menuitem path="main/load", caption="ロード(&L)", order=2, id=2
menuitem path="main/sep", caption="", order=3
menuitem path="main/fullscreen", caption="フルスクリーン(&F)", order=4, id=3
menuitem path="main/sep2", caption="", order=5
menuitem path="main/quit", caption="終了(&X)", order=6, id=4
menuitem path="mapbar/", caption="マップ", order=2
menuitem path="mapbar/map/", caption="マップ(&M)", order=1
menuitem path="mapbar/map/close", caption="閉じる(&C)", order=1, id=11

# Gamepads are read only when a script asks for them.
input gamepad=1

# The player's name: asked once, by an input box on the first run, and
# kept in save\player.sd (data block 3), so a later run knows the player
# without asking. A run without a display answers with the initial text.
filequery file="save/player.sd", exists=1, result=named
if named == 1
  load file="player", no=3, var=player_name
else
  msgbox caption="ZORVEK デモ", text="お名前を入力してください。", input=1, initial="プレイヤー", limit=16, textresult=player_name
  save no=3, var=player_name
  save file="player"
end

# One pass a frame: a wipe or a fade takes 32 frames, the ball never stops.
loop
  frame += 1
  # Two seconds of movie at 60 frames a second, or a click: the movie and
  # its screen go.
  if opening >= 0
    opening += 1
    if opening >= 120 || held[1] == 1
      stoplayermovie
      dellayer name="opening"
      opening = -1
    end
  end
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
    ball_dx = 0 - step
  elseif ball_x <= 0
    ball_dx = step
  end
  layer name="ball", x=ball_x
  layer name=":W1/dot", x=ball_x / 4, y=50

  # The emblem: rotated from its source, then scaled, its centre kept on
  # (580, 100).
  spin += 1
  # The map window opens once the main window is up (and has the focus).
  if spin == 2
    window no=1, title="マップ：" + player_name, width=160, height=120, layerset=":W1/", close=3, x=20, y=20, menu="mapbar/"
  end
  size = spin % 64
  if size > 32
    size = 64 - size
  end
  size += 60
  editcg name="emblemsrc", other="emblem", rotatesmooth=1, value=spin * 5
  editcg name="emblem", scale20=1, width=size, height=size
  layer name="emblem", x=580 - size / 2, y=100 - size / 2
  # A hit test: the emblem lights up while the pointer is over a visible
  # pixel of it, not over the transparent corners its turning leaves.
  layerinfo name="emblem", alpha=0, result=hover
  if hover > 128
    layer name="emblem", blend=1
  else
    layer name="emblem", blend=0
  end
  if spark_frames > 0
    sequence name="spark", frame=spin / 4 % spark_frames
  end

  # One character a frame (a full-width one, or two Latin letters), line
  # after line: the text starts 2 pixels in and has a one-pixel edge, so
  # the n-th character's box with its edge ends at n * 14 + 4.
  typed += 1
  if typed <= 10
    layer name="msgline1/", width=typed * 14 + 4
  elseif typed <= 20
    layer name="msgline2/", width=(typed - 10) * 14 + 4
  elseif typed <= 30
    layer name="msgline3/", width=(typed - 20) * 14 + 4
  end

  # The pointer ball appears with the first mouse move (input 7).
  if held[7] == 1 && pointer_shown == 0
    pointer_shown = 1
    layer name="pointer", visible=1
  end
  if pointer_shown == 1
    layer name="pointer", x=mouse_x - 32, y=mouse_y - 32
  end

  # The right button (input 2) opens the menu; the item chosen comes back
  # as the menu command on a later pass.
  if held[2] == 1
    popupmenu menu="main/", show=1
  end
  chosen = menu_command
  menu_command = 0
  if chosen == 11
    hidewindow no=1
  end

  # F11 (122), or Return with Alt (18) held, switches the screen mode.
  if held[122] == 1 || (held[13] == 1 && held[18] > 0) || chosen == 3
    windowinfo result=fullscreen, fullscreen=1
    window screenmode=1 - fullscreen
  end

  # Escape (virtual key 27) ends the demo.
  if held[27] == 1 || chosen == 4
    endprogram
  end

  # F5 (virtual key 116): block 1 every integer of group 1, block 2 the
  # background; written into the file, then built again for the row.
  if held[116] == 1 || chosen == 1
    save no=1, int1=1
    save no=2, layer="bg"
    save file="demo"
    save no=1, int1=1
    save no=2, layer="bg"
    save row=0
    quick_saved = 1.0
  end
  # F8 (119): the EDIT field opens with the focus, or closes into the log.
  if held[119] == 1
    if editing == 0
      system code=10102, text1="name", int1=40, int2=440, int3=200, int4=20
      system code=20005
      editing = 1
    else
      system code=10105, result=typed_name
      system code=10103
      system code=52, text1="name: " + typed_name
      editing = 0
    end
  end
  # F12 (123): the background exported, checked and logged; the logged
  # line is split into tokens (command 116 code 22) by reference.
  if held[123] == 1
    fileop folder="save", mkdir=1
    fileop path="save/shot", layer="bg"
    filequery file="save/shot.png", exists=1, result=shot_exists
    system code=52, text1="shot: save\\shot.png exists=" + str(shot_exists)
    ref_tokens = #tokens
    ref_kinds = #token_kinds
    ref_state = #comment_state
    system code=22, result=token_count, int1=ref_tokens, int2=ref_kinds, int3=ref_state, text1="shot = 1 // saved"
  end
  # F9 (120): the picture first, then the integers; loading the list ends
  # this pass, and the next one puts the layers where the restored scene
  # has them.
  if held[120] == 1 || chosen == 2
    if quick_saved == 1.0
      load row=0, no=2, layer="bg"
      load row=0, no=1
    else
      load file="demo", no=2, layer="bg"
      load file="demo", no=1
    end
    layer name="bg", priority=10
    level = frame * 8
    if frame > 32
      level = 256
    end
    if scene == 1
      editcg name="photosrc", other="photo", copy=1
      layer name="photo", masklevel=level
      layer name="title", opacity=level
      layer name="panel/", y=40
    else
      editcg name="photosrc", other="photo", sepia=1
      layer name="photo", masklevel=256 - level
      layer name="title", opacity=256 - level
      layer name="panel/", y=40 + level * 5 / 8
    end
    layer name="ball", x=ball_x
  end

  # The scene's time is up, or the player skips the rest of its wait: the
  # left button (1), Return (13), Space (32) or button 1 of any of the
  # first four gamepads.
  if frame >= hold || held[1] == 1 || (held[13] == 1 && held[18] <= 0) || held[32] == 1 || pad_button[0] == 1 || pad_button[32] == 1 || pad_button[64] == 1 || pad_button[96] == 1
    if scene == 1
      # The photo and the title may not be whole yet: show them whole so the
      # next scene takes them away from there.
      layer name="photo", masklevel=256
      layer name="title", opacity=256
      scene = 2
      # The second scene remembers the photo in sepia as it wipes out.
      editcg name="photosrc", other="photo", sepia=1
    else
      layer name="photo", masklevel=0
      layer name="title", opacity=0
      layer name="panel/", y=40
      scene = 1
      editcg name="photosrc", other="photo", copy=1
      math result=step, x=2, y=6, random=1
    end
    frame = 0
    call MESSAGE_PAGE
    sound name="click", loop=1, play=1
  end
  wait 1
end

# The message of the scene: the lines drawn whole into fresh transparent
# lines, hidden behind groups one pixel wide that the loop widens.
label MESSAGE_PAGE
layer name="msgline1/text", no=1, file="image/textline.bmp"
layer name="msgline2/text", no=1, file="image/textline.bmp"
layer name="msgline3/text", no=1, file="image/textline.bmp"
layer name="msgline1/", width=1
layer name="msgline2/", width=1
layer name="msgline3/", width=1
textstyle size=14, height=16, smooth=1, mode=1, gradient=1, colour=0xFFFFFF, colour2=0x90B8FF
if scene == 1
  editcg name="msgline1/text", no=1, drawtext=1, text="ようこそ、ZORVEKへ！", value=1, x1=2, y1=2
  editcg name="msgline2/text", no=1, drawtext=1, text="文字は一字ずつ", value=1, x1=2, y1=2
  editcg name="msgline3/text", no=1, drawtext=1, text="描かれます。", value=1, x1=2, y1=2
else
  editcg name="msgline1/text", no=1, drawtext=1, text="クリックかキーで", value=1, x1=2, y1=2
  editcg name="msgline2/text", no=1, drawtext=1, text="次のページへ。", value=1, x1=2, y1=2
  editcg name="msgline3/text", no=1, drawtext=1, text="Enjoy the demo!", value=1, x1=2, y1=2
end
typed = 0
return
