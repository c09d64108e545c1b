// Writer of a single-file game: the engine executable with a pack (and, for
// a screen saver, a preview picture) appended behind a "ZKER" block, and its
// ZK_RES resource patched to point at that block.
//
// Layout of the result: the executable's bytes up to V (its own size, or,
// when it already carries appended data, where that began), then at V:
//   "ZKER", uint32 P = 16 + S, uint32 S, 4 zero bytes, S preview bytes,
// then the pack at V + P, unchanged (pack offsets are relative to its base).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zk::tools {

// The new executable image, or nullopt with `why` set: not an ELF file with
// a resource section, an executable of 4 GiB or more, a preview that is not
// an uncompressed 24-bit BMP whose width is a multiple of 4 (the only
// picture the screen-saver preview shows), or sizes that do not fit the
// block's 32-bit fields.
std::optional<std::vector<uint8_t>> BuildAppendedExecutable(std::span<const uint8_t> executable,
                                                            std::span<const uint8_t> pack,
                                                            std::span<const uint8_t> preview, std::string* why);

}  // namespace zk::tools
