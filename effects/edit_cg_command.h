// Command 2 (`CmdEditCg`): the script's one command for changing the pixels
// of layer images. A line names a target layer and up to three other
// layers, a rectangle and a value or two, and runs exactly one operation,
// chosen by the first mode keyword present in a fixed order: scaling,
// rotation, a filter, text drawn glyph by glyph, drawing one layer onto
// another, trimming, canvas margins, swapping two layers, or the sprite
// transfers. The text slot and the text itself may come first and carry on
// to a later operation.
//
// Script thread only; the command never yields its task.
#pragma once

#include <cstdint>

namespace zk {

inline constexpr uint8_t kCmdEditCg = 2;

// Keyword numbers of command 2.
enum EditCgKeyword : uint32_t {
    kEditTarget = 0,
    kEditOther1 = 1,
    kEditTargetNumber = 4,
    kEditValue = 9,
    kEditValue2 = 10,
    kEditText = 11,
    kEditX1 = 12,
    kEditY1 = 13,
    kEditX2 = 14,
    kEditY2 = 15,
    kEditWidth = 16,
    kEditHeight = 17,
    kEditX1Hundredths = 18,
    kEditWidthHundredths = 22,
    kEditHeightHundredths = 23,
    kEditScale = 24,
    kEditRotate = 29,
    kEditRotateSmooth = 30,
    kEditDraw = 34,
    kEditTrim = 40,
    kEditCanvas = 41,
    kEditMosaic = 46,
    kEditShuffle = 53,
    kEditTextSlot = 63,
    kEditDrawText = 64,
    kEditCopyAttributes = 65,
    kEditCopy = 66,
    kEditSwap = 67,
    kEditSwapAttributes = 68,
    kEditPasteSprite = 69,
    kEditCapture = 70,
};

int32_t CmdEditCg();

// Command 2 into the command table.
void RegisterEditCgCommand();

}  // namespace zk
