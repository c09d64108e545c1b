# The ZORVEK demo: what the engine draws so far, on one 640 x 480 screen.
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

# frame counts the passes since the scene was set up.
int frame
int ball_x
int ball_dx = 4

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

# One pass a frame: the wipe and the fade take 32 frames, the ball never stops.
loop
  frame += 1
  if frame <= 32
    layer name="photo", masklevel+=8
    layer name="title", opacity+=8
  end
  ball_x += ball_dx
  if ball_x >= 576
    ball_dx = -4
  elseif ball_x <= 0
    ball_dx = 4
  end
  layer name="ball", x=ball_x
  wait 1
end
