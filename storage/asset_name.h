// Asset names: how a script's name for an image or a sound ('/' or '\',
// any letter case, often without an extension) becomes the exact relative
// file name under which a file source holds it, trying the extensions of
// the game configuration in the game's own order. Also the file kinds by
// extension, which packs store per entry, and the Shift-JIS aware
// lower-casing that every identity path goes through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/file_source.h"

namespace zk {

// The kind of a file by its extension. Stored as a byte in every pack
// entry and in FileSource, so the numbers are fixed.
enum FileKind : uint8_t {
    kFileKindOther = 0,
    kFileKindBmp = 1,
    kFileKindPng = 2,
    kFileKindJpg = 3,
    kFileKindGif = 4,
    kFileKindWav = 5,
    kFileKindOgg = 6,
    kFileKindPsd = 7,
    kFileKindZcg = 8,
    kFileKindPsb = 9,
    kFileKindWebp = 10,
};

// The kind of the name's ending, ignoring ASCII case (".jpeg" and ".tga"
// are kFileKindOther).
FileKind KindByExtension(std::string_view name);

// ResolveAssetName modes.
constexpr uint8_t kAssetModeImage = 0;
constexpr uint8_t kAssetModeSound = 1;
constexpr uint8_t kAssetModeExact = 9;

// A resolved name, its extension included, fits in this many bytes (the
// engine's 264-byte name buffers less the terminator).
constexpr size_t kMaxAssetNameBytes = 263;

// Finds the file a script names. `name` is changed in place: every
// single-byte '\' becomes '/'. The name is normalised as a tree path
// (spaces allowed), lower-cased, and given '\' separators; a name that ends
// with an extension the mode knows (mode kAssetModeExact: any name) is
// looked up as it is, any other is tried with each extension of the game
// configuration's order list for the mode, in list order.
//
// Returns 0 found: `out_name` is the name the source holds and `source`
// has that source's state and kind, ready for LoadFromSource(source,
// out_name). 1 not found: `out_name` is the last name tried (empty when the
// name is too long to be a file name, which is not an error). -1: a pack
// that cannot be opened (reported here: 901040 with the pack's name,
// fatal), or a mode other than 0, 1 and 9 (a caller's mistake, not
// reported).
int32_t ResolveAssetName(FileSource& source, std::string& out_name, std::string& name, uint8_t mode);

}  // namespace zk
