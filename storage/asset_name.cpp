#include "storage/asset_name.h"

#include <array>
#include <vector>

#include "base/ascii.h"
#include "base/nul_text.h"
#include "base/sjis.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/settings.h"
#include "storage/pack_index.h"
#include "base/never.h"

namespace zk {

namespace {

struct KindEnding {
    std::string_view ending;
    FileKind kind;
};
constexpr std::array<KindEnding, 10> kKindEndings = {{
    {".bmp", kFileKindBmp},
    {".png", kFileKindPng},
    {".jpg", kFileKindJpg},
    {".gif", kFileKindGif},
    {".wav", kFileKindWav},
    {".ogg", kFileKindOgg},
    {".psd", kFileKindPsd},
    {".zcg", kFileKindZcg},
    {".psb", kFileKindPsb},
    {".webp", kFileKindWebp},
}};

// The endings a name may already carry in each mode; such a name is looked
// up as it is.
constexpr std::array<std::string_view, 6> kImageEndings = {".bmp", ".png", ".jpg", ".gif", ".psb", ".webp"};
constexpr std::array<std::string_view, 2> kSoundEndings = {".wav", ".ogg"};

// The order lists' codes. Code 0 and codes past the table are empty slots.
constexpr std::array<std::string_view, 7> kImageOrderCodes = {"", ".png", ".bmp", ".jpg", ".gif", ".psb", ".webp"};
constexpr std::array<std::string_view, 3> kSoundOrderCodes = {"", ".ogg", ".wav"};
// How many bytes of each configuration field are order slots.
constexpr size_t kImageOrderSlots = 7;
constexpr size_t kSoundOrderSlots = 2;
static_assert(kImageOrderSlots <= std::tuple_size_v<decltype(EngineSettings::image_extension_order)>);
static_assert(kSoundOrderSlots <= std::tuple_size_v<decltype(EngineSettings::sound_extension_order)>);

template <size_t N>
bool EndsWithAny(std::string_view name, const std::array<std::string_view, N>& endings) {
    for (std::string_view ending : endings)
        if (AsciiEndsWithIgnoreCase(name, ending)) return true;
    return false;
}

// The extension of an order-list code, or empty for an empty slot.
template <size_t N>
std::string_view OrderExtension(const std::array<std::string_view, N>& codes, uint8_t code) {
    return code < codes.size() ? codes[code] : std::string_view();
}

// Whether NormaliseNodePath can take the name without refusing it: it
// measures the name after a leading ':' (and a '/' after that) or a leading
// '/' is dropped. A longer name cannot name a file this engine can open, so
// it is "not found" rather than a fatal path error.
bool FitsTreePath(std::string_view name) {
    if (!name.empty() && name.front() == ':') {
        name.remove_prefix(1);
        if (!name.empty() && name.front() == '/') name.remove_prefix(1);
    } else if (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    return name.size() <= kMaxTreePathBytes;
}

// The pack a failed probe was opening (the probe records its number first),
// or, when no pack is known, the file that was looked for.
std::string_view FailedPackName(const FileSource& source, const std::string& candidate) {
    const std::vector<std::string>& names = ThePackIndex().pack_names;
    if (source.pack_number >= 0 && static_cast<size_t>(source.pack_number) < names.size())
        return names[static_cast<size_t>(source.pack_number)];
    return candidate;
}

// Runs the probe order on one candidate: 0 found, 1 not found, -1 after
// reporting a source that failed. Every caller of ResolveAssetName takes -1
// as already reported, so the report is made here.
int32_t ProbeCandidate(FileSource& source, const std::string& candidate) {
    source.pack_number = -1;
    int32_t result = ResolveFileSource(source, candidate);
    if (result > 0) return 0;
    if (result == 0) return 1;
    if (result == -2) {
        ReportEngineErrorF(kErrPackNotOpened, true, {FormatArg(FailedPackName(source, candidate))});
    } else {
        ReportEngineErrorF(kErrFileUnreadable, true, {FormatArg(std::string_view(candidate))});
    }
    return -1;
}

}  // namespace

FileKind KindByExtension(std::string_view name) {
    for (const KindEnding& entry : kKindEndings)
        if (AsciiEndsWithIgnoreCase(name, entry.ending)) return entry.kind;
    return kFileKindOther;
}

int32_t ResolveAssetName(FileSource& source, std::string& out_name, std::string& name, uint8_t mode) {
    out_name.clear();
    if (mode != kAssetModeImage && mode != kAssetModeSound && mode != kAssetModeExact) return -1;

    // Script texts end at their first NUL; so does every name handed on to
    // the file system.
    name.resize(UpToNul(name).size());
    name = SjisReplaceByte(name, '\\', '/');
    if (!FitsTreePath(name)) {
        source.state = 0;
        source.kind = 0;
        return 1;
    }
    std::string working;
    if (ZK_NEVER(NormaliseNodePath(working, name, {}, true) < 0)) {
        // The length was checked above and spaces are allowed.
        source.state = 0;
        source.kind = 0;
        return 1;
    }
    SjisLowerAsciiInPlace(working);
    working = SjisReplaceByte(working, '/', '\\');

    bool known_ending = mode == kAssetModeExact ||
                        (mode == kAssetModeImage ? EndsWithAny(working, kImageEndings)
                                                 : EndsWithAny(working, kSoundEndings));
    if (known_ending) {
        out_name = working;
        return ProbeCandidate(source, out_name);
    }

    const EngineSettings& settings = Settings();
    size_t slots = mode == kAssetModeImage ? kImageOrderSlots : kSoundOrderSlots;
    source.state = 0;
    source.kind = 0;
    for (size_t slot = 0; slot < slots; ++slot) {
        std::string_view extension = mode == kAssetModeImage
                                         ? OrderExtension(kImageOrderCodes, settings.image_extension_order[slot])
                                         : OrderExtension(kSoundOrderCodes, settings.sound_extension_order[slot]);
        if (extension.empty()) continue;
        // A normalised name is at most kMaxTreePathBytes, so with any
        // extension it fits kMaxAssetNameBytes.
        static_assert(kMaxTreePathBytes + 5 <= kMaxAssetNameBytes);
        out_name = working;
        out_name.append(extension);
        int32_t result = ProbeCandidate(source, out_name);
        if (result != 1) return result;
    }
    return 1;
}

}  // namespace zk
