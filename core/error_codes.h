// Every numbered error the engine reports, one name each. The texts live in
// zkbin\zke.zbn (a few are built in, core/error_report.cpp); the comment
// after a code lists the arguments its text formats, in order.
#pragma once

#include <cstdint>

namespace zk {

// ---- 100000: memory, images, layers ----------------------------------------
inline constexpr uint32_t kErrLicenseNotice = 100000;       // the built-in credits text ("/info")
inline constexpr uint32_t kErrOutOfMemory = 100010;         // no memory for an engine record or block
inline constexpr uint32_t kErrUnknownFileKind = 100030;     // no decoder reads the file's kind (an image; a sound neither WAVE nor Ogg)
inline constexpr uint32_t kErrBmpNotBm = 100070;            // not "BM", or too short for its headers
inline constexpr uint32_t kErrBmpOffset = 100080;           // pixel data offset, palette or rows outside the file
inline constexpr uint32_t kErrBmpCompressed = 100090;       // compressed 4- or 8-bit image
inline constexpr uint32_t kErrImageSize = 100091;           // width or height outside 1..8192
inline constexpr uint32_t kErrBmpTopDown = 100092;          // negative height
inline constexpr uint32_t kErrPngRefused = 100200;
inline constexpr uint32_t kErrJpegFailed = 100210;
inline constexpr uint32_t kErrGifFailed = 100215;
inline constexpr uint32_t kErrPsdRefused = 100220;           // file name
inline constexpr uint32_t kErrTreeFolderMissing = 100230;   // the missing folder segment
inline constexpr uint32_t kErrLayerWithoutOrder = 100240;   // command
inline constexpr uint32_t kErrTreeNameSpace = 100242;       // the name with the space
inline constexpr uint32_t kErrLayerResizeHalf = 100243;     // command
inline constexpr uint32_t kErrMaskSize = 100310;            // layer, width, height, mask, width, height

// ---- 101000: command arguments, variables, layers, tasks -------------------
inline constexpr uint32_t kErrOutOfRange = 101000;          // command, keyword, v, min, max
inline constexpr uint32_t kErrBelowMinimum = 101010;        // command, keyword, v, min
inline constexpr uint32_t kErrNotColour = 101020;           // command, keyword, v
inline constexpr uint32_t kErrNotColourNoAlpha = 101030;    // command, keyword, v
inline constexpr uint32_t kErrTooManyElements = 101100;     // 4000000
inline constexpr uint32_t kErrNoElements = 101110;
inline constexpr uint32_t kErrWrongVariableType = 101140;
inline constexpr uint32_t kErrSystemVariableReadOnly = 101150;
inline constexpr uint32_t kErrAboveThree = 101210;          // command, keyword, v, 3
inline constexpr uint32_t kErrNegative = 101220;            // command, keyword, v
inline constexpr uint32_t kErrLayerMissing = 101230;        // command, path
inline constexpr uint32_t kErrFontNumberTooLarge = 101240;  // command, keyword, n, the font count
inline constexpr uint32_t kErrLayerNotFound = 101250;       // command, path: no layer (or layer set) of that name
inline constexpr uint32_t kErrGroupWithImage = 101280;
inline constexpr uint32_t kErrWindowValue = 101310;         // command, keyword, v: a window value out of its range
inline constexpr uint32_t kErrWindowNeedsTitle = 101320;    // command: a new window without its title
inline constexpr uint32_t kErrHideMainWindow = 101330;      // command, keyword: window 0 cannot be hidden      // command
inline constexpr uint32_t kErrSwapWithRectangle = 101281;   // command, keyword
inline constexpr uint32_t kErrRotateWithRectangle = 101282; // command, keyword
inline constexpr uint32_t kErrMosaicWithRectangle = 101283; // command, keyword
inline constexpr uint32_t kErrShuffleWithRectangle = 101284; // command, keyword
inline constexpr uint32_t kErrOtherLayerIsGroup = 101291;   // command, path
inline constexpr uint32_t kErrSoundGroupWithFile = 101292;  // command name
inline constexpr uint32_t kErrTaskPathRefused = 101293;     // command name, path
inline constexpr uint32_t kErrPixelNeedsPoint = 101295;    // command, keyword
inline constexpr uint32_t kErrCopyWithoutOther = 101296;    // command, keyword
inline constexpr uint32_t kErrSwapWithoutOther = 101297;    // command, keyword
inline constexpr uint32_t kErrDrawWithoutOther = 101298;    // command, keyword
inline constexpr uint32_t kErrNoOpenConstruct = 101300;     // command, command, opening command
inline constexpr uint32_t kErrTaskMissing = 101400;         // command name, path
inline constexpr uint32_t kErrSystemTaskEnd = 101420;       // command name
inline constexpr uint32_t kErrEmptyText = 101450;          // command, keyword
inline constexpr uint32_t kErrMoviePathEmpty = 101510;      // command: a window movie with no file
inline constexpr uint32_t kErrDepthLimit = 101600;          // opening command twice, limit
inline constexpr uint32_t kErrTextBufferFull = 102000;     // (no arguments)
inline constexpr uint32_t kErrTextValueTooLong = 102030;   // (no arguments)
inline constexpr uint32_t kErrFontUnusable = 102040;       // (no arguments)
inline constexpr uint32_t kErrSaveOpenForLoad = 102100;    // command, keyword 0's name, file name
inline constexpr uint32_t kErrSaveNoSuchBlock = 102110;    // command, keyword 2's name
inline constexpr uint32_t kErrSaveTypeMismatch = 102120;   // command, the declaration command of the variable's type
inline constexpr uint32_t kErrPositionFileUnknown = 102130; // command 95's name, the file name
inline constexpr uint32_t kErrSaveCannotWrite = 102140;    // command, file name, error number, its text
inline constexpr uint32_t kErrSaveNameHasFolder = 102150;  // command, file name
inline constexpr uint32_t kErrSaveNameTooLong = 102160;    // command, file name
inline constexpr uint32_t kErrSaveBlockPending = 102170;   // command, keyword 2's name, data number

// ---- 104000: files and packs -----------------------------------------------
inline constexpr uint32_t kErrFileUnreadable = 104010;      // file name (damaged files too)
inline constexpr uint32_t kErrFileNoMemory = 104030;        // file name (empty, or 0, for an image block)
inline constexpr uint32_t kErrFileMissing = 104060;         // file name
inline constexpr uint32_t kErrPackEntryDamaged = 104100;    // pack name, file name
inline constexpr uint32_t kErrTreeTooManyChildren = 104110;
inline constexpr uint32_t kErrTreePathTooLong = 104111;
inline constexpr uint32_t kErrPackFormat = 104120;          // pack name
inline constexpr uint32_t kErrTooManyPacks = 104130;        // the limit
inline constexpr uint32_t kErrTooManyPackEntries = 104140;  // the limit
inline constexpr uint32_t kErrPackEntryTwice = 104150;      // file name (not fatal)

// ---- 105000 and up: tables, unpacking, evaluation --------------------------
inline constexpr uint32_t kErrVariableTableVersion = 105000;
inline constexpr uint32_t kErrFullscreenFailed = 105210;   // the display mode switch failed (not fatal)
inline constexpr uint32_t kErrUnpackNoMemory = 106010;      // file name
inline constexpr uint32_t kErrSubscriptRange = 107010;
inline constexpr uint32_t kErrSubscriptCount = 107020;
inline constexpr uint32_t kErrVariableMissing = 108010;
inline constexpr uint32_t kErrSaveBadMagic = 108030;
inline constexpr uint32_t kErrSaveBadVersion = 108040;
inline constexpr uint32_t kErrSaveImageIntoVariable = 108050;
inline constexpr uint32_t kErrSaveDataTooLong = 108070;
inline constexpr uint32_t kErrSaveDimensionCount = 108080;
inline constexpr uint32_t kErrSaveDimensionSize = 108090;
inline constexpr uint32_t kErrSaveVariableIntoLayer = 108100;
inline constexpr uint32_t kErrSaveBadImageHeader = 108110;
inline constexpr uint32_t kErrLoopEndWithoutLoop = 108120;
inline constexpr uint32_t kErrLabelMissing = 108180;        // the name
// A task ran on past its file's last command (no jump, return or task end
// there); reported at that last command's line.
inline constexpr uint32_t kErrRanPastEnd = 108190;
inline constexpr uint32_t kErrConversionTypes = 108200;    // command 102: no number and text pair
inline constexpr uint32_t kErrNotANumber = 108210;
inline constexpr uint32_t kErrNotText = 108220;            // a text option on a variable that is no text
// A write through a variable reference (system variables 50, 51, 52) to a
// variable of another type, or to no script variable.
inline constexpr uint32_t kErrReferenceTypeMismatch = 108230;
inline constexpr uint32_t kErrSubstringStart = 120010;     // substring: start beyond the text
inline constexpr uint32_t kErrSubstringLength = 120020;    // substring: count beyond the text
inline constexpr uint32_t kErrRemoveStart = 120110;        // removal: start beyond the text
inline constexpr uint32_t kErrRemoveLength = 120120;       // removal: count beyond the text

// ---- 110000: sound ---------------------------------------------------------
inline constexpr uint32_t kErrSoundQueueFull = 110200;      // the sound request ring is full (not fatal)
inline constexpr uint32_t kErrTextNumberMix = 160010;

// ---- 900000: damaged script data and internal errors -----------------------
inline constexpr uint32_t kErrBadPositionString = 900000;
inline constexpr uint32_t kErrNullTreePath = 900020;
// Script code the engine cannot run: an unknown opcode, a bad payload, a
// limit passed, or a command index outside its file.
inline constexpr uint32_t kErrMalformedCode = 900030;
inline constexpr uint32_t kErrUnpackBufferShort = 900040;   // file name
inline constexpr uint32_t kErrUndefinedCommand = 900050;
inline constexpr uint32_t kErrNotBuilt = 900060;           // command: an option this build does not carry yet
inline constexpr uint32_t kErrDefinitionBeyondTable = 900070;  // definition number
inline constexpr uint32_t kErrConfigTitleTooLong = 901000;  // zkcfg.zbn
inline constexpr uint32_t kErrConfigValue = 901020;         // a zkcfg.zbn value out of range
inline constexpr uint32_t kErrFileNumberOutOfList = 901030;  // file number
inline constexpr uint32_t kErrPackNotOpened = 901040;       // pack name

}  // namespace zk
