// Layer command 1: the script's one command for creating a layer and
// changing any of its properties (image, size, position, visibility,
// opacity, tone, saturation, blend mode, mask, order among its siblings,
// texture form and drawing parameters). It works on the layer tree and the
// CgImage records and leaves redrawing to the dirty rectangles: the old
// area is made dirty before a visibility, position or size change, and the
// new area at the end of the line.
//
// Also the start-up registration of the layer commands (1 and 3).
//
// Threading: the script thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/error_codes.h"

namespace zk {

struct CommandArgBlock;
struct NamedTreeNode;

inline constexpr uint8_t kCmdSetLayer = 1;
inline constexpr uint8_t kCmdDeleteLayer = 3;

// Keyword numbers of command 1 (0-based; 11..23, 49 and 55 are not read).
enum LayerKeyword : uint8_t {
    kLayerName = 0,
    kLayerNumber = 1,
    kLayerVisible = 2,
    kLayerOpacity = 3,
    kLayerX = 4,
    kLayerY = 5,
    kLayerPriority = 6,
    kLayerSaturation = 7,
    kLayerTone = 8,
    kLayerWidth = 9,
    kLayerHeight = 10,
    kLayerTextureOption = 24,
    kLayerTextureForm = 25,
    kLayerCapture = 26,
    kLayerDrawNow = 27,
    kLayerX100 = 28,
    kLayerY100 = 29,
    kLayerZoomX = 30,
    kLayerZoomY = 31,
    kLayerAngle1 = 32,  // 32..34
    kLayerPlacement1 = 35,  // 35..39
    kLayerSaturation2 = 40,
    kLayerTone2 = 41,
    kLayerDrawingOption = 42,
    kLayerDrawingText = 43,
    kLayerDrawingLevel = 44,
    kLayerKeepBlock = 45,
    kLayerFile = 46,
    kLayerShare = 47,
    kLayerMaskSource = 48,
    kLayerMaskLevel = 50,
    kLayerMaskName = 51,
    kLayerMaskNumber = 52,
    kLayerMaskSoftness = 53,
    kLayerBlendMode = 54,
    kLayerUser1 = 56,
    kLayerUser2 = 57,
};

// The sizes of a pixel-block resize cannot be negative; -1 stands for "not
// given", any other negative width or height is refused with the range
// error 101010 (command, keyword, value, -1).
inline constexpr int64_t kLayerSizeNotGiven = -1;

// The name a layer command addresses: keyword 0's text, followed by "." and
// keyword 1's value in decimal when keyword 1 is given. True when it is.
bool BuildLayerName(const CommandArgBlock& args, std::string& out);

// The layer a command's name keywords address, for the commands that only
// look a layer up: its node (null when there is none) and the path's kind
// (1 for a group path, 0 for a leaf). Empty when the name is no path
// (already reported).
struct AddressedLayer {
    NamedTreeNode* node = nullptr;
    int32_t kind = 0;
};
std::optional<AddressedLayer> FindAddressedLayer(const CommandArgBlock& args);

// Command 1. 0 when done (also when it quietly does nothing), -1 after an
// error (reported; changes made before the failing step stay).
//
// No line leaves a layer in a state that later lines trip over:
// - a new leaf whose image cannot be had (a failed share, a share source
//   without an image, an empty share name) is freed again;
// - a new group whose canvas cannot be had is freed again;
// - with both a file and a share source a new leaf loads the file (the
//   share is ignored): the shared picture is never loaded over;
// - a width or height below -1 is refused before anything changes.
int32_t CmdSetLayer();

// Puts the handlers of commands 1 and 3 into the CommandTable. Called once
// at start-up (and by tests); safe to call again.
void InstallLayerCommands();

}  // namespace zk
