# The pages of the story. A page is two lines of at most ten full-width
# characters (or twenty Latin letters): the text lines are 144 pixels wide.

# Draws the page into fresh, empty text lines and starts typing it.
label SHOW_PAGE
layer name="line1/text", no=1, file="image/textline.bmp"
layer name="line2/text", no=1, file="image/textline.bmp"
if page == 1
  editcg name="line1/text", no=1, drawtext=1, text="ある晴れた朝。", value=1, x1=2, y1=2
  editcg name="line2/text", no=1, drawtext=1, text="Good morning!", value=1, x1=2, y1=2
elseif page == 2
  editcg name="line1/text", no=1, drawtext=1, text="1: 海へ行く", value=1, x1=2, y1=2
  editcg name="line2/text", no=1, drawtext=1, text="2: 山へ行く", value=1, x1=2, y1=2
elseif page == 3
  if choice == 1
    editcg name="line1/text", no=1, drawtext=1, text="波の音がする。", value=1, x1=2, y1=2
  else
    editcg name="line1/text", no=1, drawtext=1, text="風が涼しい。", value=1, x1=2, y1=2
  end
  editcg name="line2/text", no=1, drawtext=1, text="(The end)", value=1, x1=2, y1=2
end
typed = 0
return

# After page 3 the story starts again from page 1.
label NEXT_PAGE
page += 1
if page > 3
  page = 1
  choice = 0
end
call SHOW_PAGE
return
