// Frame sequences: loading (with the checks that keep the XOR pass and the
// decodes inside the file), the engine-wide decompressor that shows the
// frames, and commands 109..111.
//
// The decompressor is made at the first frame decode and kept, idle between
// decodes (jpeg_abort_decompress), so that showing a frame costs only its
// JPEG decode. A libjpeg error jumps back to the step that set the jump
// (see jpeg_source.h): each such step is a function of its own that keeps
// its state in the decoder record, and the caller destroys the decompressor
// after a jump; the next decode makes it again.
#include "images/frame_sequence.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/byte_reader.h"
#include "base/never.h"
#include "base/sjis.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "images/jpeg_source.h"
#include "layers/layer_command.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"
#include "storage/file_source.h"

namespace zk {

namespace {

constexpr int32_t kNoPixels = -1;
constexpr int32_t kLibraryError = -2;

// Keyword numbers of commands 109..111.
constexpr uint8_t kSequenceLayer = 0;
constexpr uint8_t kSequenceFile = 2;
constexpr uint8_t kSequenceFrame = 3;
constexpr uint8_t kSequenceResult = 2;
constexpr uint8_t kSequenceCount = 3;  // 3..6: count, value 1, value 2, value 3

// ---- the file ----------------------------------------------------------------------

struct PartSpan {
    int64_t start = 0;
    int64_t length = 0;  // 0 or less: an empty part
};

int32_t TableEntry(const ByteReader& reader, uint64_t table, int64_t frame) {
    const std::optional<int32_t> entry = reader.PeekAt<int32_t>(table + uint64_t(frame) * 4);
    if (ZK_NEVER(!entry)) return 0;  // the caller checked that the tables lie inside the file
    return *entry;
}

// The colour and the alpha part of a frame, where the tables put them.
std::array<PartSpan, 2> FrameParts(int64_t offset, int64_t colour_length, int64_t alpha_length) {
    return {PartSpan{offset, colour_length}, PartSpan{offset + colour_length, alpha_length}};
}

bool PartInside(const PartSpan& part, uint64_t size) {
    if (part.length <= 0) return true;
    return part.start >= 0 && uint64_t(part.start) + uint64_t(part.length) <= size;
}

std::span<const uint8_t> PartBytes(const std::vector<uint8_t>& data, const PartSpan& part) {
    if (part.length <= 0) return {};
    if (ZK_NEVER(!PartInside(part, data.size()))) return {};  // checked at load
    return std::span<const uint8_t>(data).subspan(size_t(part.start), size_t(part.length));
}

// The key byte of position p in a part that starts at s is 0x10 + ((p - s)
// mod 16): it depends only on p mod 16 and s mod 16. The key of a byte that
// several parts cover is the XOR of their keys; `keys` holds it for each
// p mod 16, and a part starting or ending toggles its start residue's keys.
void ToggleResidue(std::array<uint8_t, 16>& keys, uint64_t residue) {
    for (uint64_t q = 0; q < 16; ++q) keys[q] ^= uint8_t(0x10 | ((q - residue) & 15));
}

void XorRange(std::vector<uint8_t>& data, uint64_t from, uint64_t to, const std::array<uint8_t, 16>& keys,
              bool covered) {
    if (!covered) return;  // only for speed: the keys of no covering part are all 0
    for (uint64_t p = from; p < to; ++p) data[size_t(p)] ^= keys[p & 15];
}

}  // namespace

bool FrameSequenceFileFits(std::span<const uint8_t> file) {
    ByteReader reader(file);
    const std::optional<int32_t> count = reader.PeekAt<int32_t>(8);
    if (file.size() < kSequenceHeaderBytes || !count) return false;
    const int64_t n = *count;
    if (n <= 0) return true;
    if (kSequenceHeaderBytes + 12 * uint64_t(n) > file.size()) return false;
    for (int64_t i = 0; i < n; ++i) {
        const auto parts = FrameParts(TableEntry(reader, kSequenceHeaderBytes, i),
                                      TableEntry(reader, kSequenceHeaderBytes + 4 * uint64_t(n), i),
                                      TableEntry(reader, kSequenceHeaderBytes + 8 * uint64_t(n), i));
        for (const PartSpan& part : parts) {
            if (!PartInside(part, file.size())) return false;
        }
    }
    return true;
}

void UnscrambleFrameSequence(std::vector<uint8_t>& data, std::span<const int32_t> offsets,
                             std::span<const int32_t> colour_lengths, std::span<const int32_t> alpha_lengths) {
    const size_t n = std::min({offsets.size(), colour_lengths.size(), alpha_lengths.size()});
    // Parts of a well-made file do not overlap and their lengths add up to
    // less than the file: the XOR runs over each part in turn. Parts that
    // cover the same bytes many times over would make that pass quadratic,
    // so then the same XOR is made in one sweep over the file: where every
    // part starts and ends the set of covering start residues changes, and
    // each byte is XORed once with the key of that set (XOR is
    // order-free, so the bytes come out as the part-by-part pass leaves them).
    uint64_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        for (const PartSpan& part : FrameParts(offsets[i], colour_lengths[i], alpha_lengths[i])) {
            if (part.length > 0 && PartInside(part, data.size())) total += uint64_t(part.length);
        }
    }
    if (total <= 2 * uint64_t(data.size()) + 64) {
        for (size_t i = 0; i < n; ++i) {
            for (const PartSpan& part : FrameParts(offsets[i], colour_lengths[i], alpha_lengths[i])) {
                if (part.length <= 0 || !PartInside(part, data.size())) continue;
                uint8_t* bytes = data.data() + part.start;
                for (int64_t j = 0; j < part.length; ++j) bytes[j] ^= uint8_t(0x10 + (j & 15));
            }
        }
        return;
    }
    // Each event: position << 4 | start residue; a part toggles its residue
    // at its start and at its end.
    std::vector<uint64_t> events;
    events.reserve(n * 4);
    for (size_t i = 0; i < n; ++i) {
        for (const PartSpan& part : FrameParts(offsets[i], colour_lengths[i], alpha_lengths[i])) {
            if (part.length <= 0 || !PartInside(part, data.size())) continue;
            const uint64_t residue = uint64_t(part.start) & 15;
            events.push_back(uint64_t(part.start) << 4 | residue);
            events.push_back((uint64_t(part.start) + uint64_t(part.length)) << 4 | residue);
        }
    }
    std::sort(events.begin(), events.end());
    std::array<uint8_t, 16> keys{};
    uint16_t starts = 0;  // bit r: an odd number of parts starting at r mod 16 cover the bytes
    uint64_t at = 0;
    for (uint64_t event : events) {
        const uint64_t position = event >> 4;
        XorRange(data, at, position, keys, starts != 0);
        at = position;
        starts ^= uint16_t(1u << (event & 15));
        ToggleResidue(keys, event & 15);
    }
}

namespace {

// ---- the decompressor ---------------------------------------------------------------------

struct SequenceDecoder {
    jpeg_decompress_struct info{};
    JpegErrorManager errors{};
    JpegMemorySource source{};
    bool created = false;
    uint64_t creations = 0;
    JSAMPARRAY rows = nullptr;  // kRowBatch output rows, in the library's image pool
    // A block made for a frame of a new size, installed once the decode has
    // started (kept here: a jump would skip a local's destructor).
    PixelBlock pending;

    SequenceDecoder() = default;
    SequenceDecoder(const SequenceDecoder&) = delete;
    SequenceDecoder& operator=(const SequenceDecoder&) = delete;
    ~SequenceDecoder() { Destroy(); }

    void Destroy() {
        if (created) jpeg_destroy_decompress(&info);
        created = false;
        rows = nullptr;
        pending.Reset();
    }
};

SequenceDecoder& TheSequenceDecoder() {
    static SequenceDecoder decoder;
    return decoder;
}

bool CreateDecoder(SequenceDecoder& d) {
    d.info.err = InstallJpegErrors(d.errors);
    if (setjmp(d.errors.jump)) return false;
    jpeg_create_decompress(&d.info);
    d.created = true;
    ++d.creations;
    return true;
}

// The decompressor, made when there is none. False (and none) when libjpeg
// could not make it.
bool EnsureDecoder(SequenceDecoder& d) {
    if (d.created) return true;
    if (CreateDecoder(d)) return true;
    // A failed creation may have left the memory manager behind.
    jpeg_destroy_decompress(&d.info);
    d.created = false;
    return false;
}

// Reads the part's header and works out the output size. Colour images
// come out of the library as B, G, R, A (alpha 0xFF): the same bytes as R,
// G, B reordered, written straight into the layer's rows.
int32_t OpenPart(SequenceDecoder& d, std::span<const uint8_t> part, bool colour) {
    InstallJpegMemorySource(&d.info, d.source, part);
    if (setjmp(d.errors.jump)) return kLibraryError;
    jpeg_read_header(&d.info, TRUE);
#ifdef JCS_EXTENSIONS
    if (colour && d.info.out_color_space == JCS_RGB) d.info.out_color_space = JCS_EXT_BGRA;
#else
    (void)colour;
#endif
    jpeg_calc_output_dimensions(&d.info);
    return 0;
}

// Rows are read a batch at a time: one call into the library per batch.
constexpr JDIMENSION kRowBatch = 16;

int32_t StartPart(SequenceDecoder& d) {
    if (setjmp(d.errors.jump)) return kLibraryError;
    jpeg_start_decompress(&d.info);
    const JDIMENSION row_bytes = d.info.output_width * JDIMENSION(d.info.output_components) + 16;
    d.rows = (*d.info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d.info), JPOOL_IMAGE, row_bytes,
                                         kRowBatch);
    return 0;
}

// Reads the next batch of rows into d.rows: their count, 0 only when the
// library reads nothing (which a memory source never makes it do).
JDIMENSION ReadRowBatch(SequenceDecoder& d) {
    const JDIMENSION count = std::min(kRowBatch, d.info.output_height - d.info.output_scanline);
    return jpeg_read_scanlines(&d.info, d.rows, count);
}

void FinishPart(SequenceDecoder& d) {
    jpeg_finish_decompress(&d.info);
    jpeg_abort_decompress(&d.info);  // idle until the next frame
}

int32_t ReadColourRows(SequenceDecoder& d, uint8_t* pixels) {
    if (setjmp(d.errors.jump)) return kLibraryError;
    jpeg_decompress_struct& info = d.info;
    const size_t stride = size_t(info.output_width) * 4;
#ifdef JCS_EXTENSIONS
    if (info.out_color_space == JCS_EXT_BGRA) {
        std::array<JSAMPROW, kRowBatch> rows{};
        while (info.output_scanline < info.output_height) {
            const JDIMENSION y = info.output_scanline;
            const JDIMENSION count = std::min(kRowBatch, info.output_height - y);
            for (JDIMENSION i = 0; i < count; ++i) rows[i] = pixels + stride * (y + i);
            if (ZK_NEVER(jpeg_read_scanlines(&info, rows.data(), count) == 0)) return kLibraryError;  // as below
        }
        FinishPart(d);
        return 0;
    }
#endif
    // RGB, grey, and any other layout read as grey from its first bytes.
    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        const JDIMENSION count = ReadRowBatch(d);
        if (ZK_NEVER(count == 0)) return kLibraryError;  // a memory source does not suspend
        for (JDIMENSION r = 0; r < count; ++r) ConvertJpegRow(info, d.rows[r], pixels + stride * (y + r));
    }
    FinishPart(d);
    return 0;
}

// Sample x of `alpha` into the alpha byte of pixel x: whole pixels, so
// that the compiler can do a row in vector steps.
void MergeAlphaRow(uint8_t* pixels, const JSAMPLE* alpha, JDIMENSION width) {
    for (JDIMENSION x = 0; x < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, pixels + size_t(x) * 4, 4);
        pixel = (pixel & 0x00FFFFFFu) | uint32_t(alpha[x]) << 24;
        std::memcpy(pixels + size_t(x) * 4, &pixel, 4);
    }
}

int32_t ReadAlphaRows(SequenceDecoder& d, uint8_t* pixels) {
    if (setjmp(d.errors.jump)) return kLibraryError;
    jpeg_decompress_struct& info = d.info;
    // Anything but one component is no alpha: the decode ends as a library
    // error would, and the alpha bytes stay as the colour decode left them.
    if (info.out_color_components != 1) return kLibraryError;
    const size_t stride = size_t(info.output_width) * 4;
    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        const JDIMENSION count = ReadRowBatch(d);
        if (ZK_NEVER(count == 0)) return kLibraryError;  // as above
        for (JDIMENSION r = 0; r < count; ++r) MergeAlphaRow(pixels + stride * (y + r), d.rows[r], info.output_width);
    }
    FinishPart(d);
    return 0;
}

int32_t Fail(SequenceDecoder& d) {
    d.Destroy();
    return kLibraryError;
}

// ---- layers and commands ----------------------------------------------------------------

void DeleteFrameSequence(FrameSequence* sequence) { std::default_delete<FrameSequence>()(sequence); }

// The layer of keywords 0 and 1, looked up as a leaf. False after a failed
// path or error 101250 (reported).
bool FindSequenceLayer(uint8_t command, NamedTreeNode*& node) {
    const CommandArgBlock& args = Args();
    const RootTrees& trees = TheRootTrees();
    std::string name;
    BuildLayerName(args, name);
    std::string path;
    if (NormaliseNodePath(path, name, trees.layer_folder, false) < 0) return false;
    node = trees.layers != nullptr ? FindNodeByPath(trees.layers, path, kFindLeaf) : nullptr;
    if (node == nullptr) {
        ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(command), std::string_view(path)});
        return false;
    }
    return true;
}

}  // namespace

PixelBlock AllocFramePixels(int32_t width, int32_t height) {
    if (width > kMaxCgWidth) {
        ReportCgTooWide(width, height);
        return {};
    }
    const uint64_t bytes = CgPixelBlockBytes(width, height);
    PixelBlock block;
    if (bytes == 0 || !block.Resize(bytes)) {
        ReportEngineErrorF(kErrFileNoMemory, true, {std::string_view()});
        return {};
    }
    return block;
}

int32_t DecodeSequenceColour(std::span<const uint8_t> part, NamedTreeNode* node) {
    CgImage* image = LayerImage(node);
    if (image == nullptr) return kNoPixels;
    SequenceDecoder& d = TheSequenceDecoder();
    if (!EnsureDecoder(d)) return kLibraryError;
    if (OpenPart(d, part, true) != 0) return Fail(d);
    // Both at most 65535 (libjpeg's limit).
    const auto width = static_cast<int32_t>(d.info.output_width);
    const auto height = static_cast<int32_t>(d.info.output_height);
    const bool same_size = width == image->width && height == image->height && OwnedBlockHoldsImage(*image);
    if (!same_size) {
        // The block is made before the decode starts, so that a size the
        // engine refuses costs no decode and leaves the old pixels.
        InvalidateLayer(node);
        d.pending = AllocFramePixels(width, height);
        if (d.pending.empty()) {
            jpeg_abort_decompress(&d.info);
            return kNoPixels;
        }
    }
    if (StartPart(d) != 0) return Fail(d);
    if (!same_size) {
        InstallCgPixels(*image, std::move(d.pending), width, height);
        d.pending.Reset();
        InvalidateLayer(node);
    } else {
        // The rows go into the layer's own block; a toned copy of the old
        // frame would hide them, so the compositor makes it again.
        OwnedPixelsForWriting(*image);
    }
    if (ReadColourRows(d, image->owned_block.data()) != 0) return Fail(d);
    return 0;
}

int32_t DecodeSequenceAlpha(std::span<const uint8_t> part, NamedTreeNode* node) {
    CgImage* image = LayerImage(node);
    if (image == nullptr) return kNoPixels;
    SequenceDecoder& d = TheSequenceDecoder();
    if (!EnsureDecoder(d)) return kLibraryError;
    if (OpenPart(d, part, false) != 0) return Fail(d);
    // An alpha image of another size than the layer's has no pixel to go to.
    if (int64_t{d.info.output_width} != image->width || int64_t{d.info.output_height} != image->height ||
        !OwnedBlockHoldsImage(*image)) {
        jpeg_abort_decompress(&d.info);
        return kNoPixels;
    }
    if (StartPart(d) != 0) return Fail(d);
    if (ReadAlphaRows(d, image->owned_block.data()) != 0) return Fail(d);
    return 0;
}

void SelectSequenceFrame(NamedTreeNode* node, int32_t n) {
    CgImage* image = LayerImage(node);
    if (image == nullptr || image->frame_sequence == nullptr) return;
    const FrameSequence& sequence = *image->frame_sequence;
    if (sequence.data.empty() || sequence.frame_count <= 0) return;
    const auto frame = size_t(std::clamp(n, 0, sequence.frame_count - 1));
    image->alpha_in_use = sequence.alpha_flag == 1 ? 1 : 0;
    const auto parts =
        FrameParts(sequence.offsets[frame], sequence.colour_lengths[frame], sequence.alpha_lengths[frame]);
    const int32_t colour = DecodeSequenceColour(PartBytes(sequence.data, parts[0]), node);
    // An alpha part over pixels the colour part did not give would land on
    // the previous frame, or on a block of another size.
    if (sequence.alpha_flag != 0 && colour == 0) DecodeSequenceAlpha(PartBytes(sequence.data, parts[1]), node);
    InvalidateLayer(node);
}

int32_t LoadFrameSequenceBytes(NamedTreeNode* node, std::vector<uint8_t> bytes, std::string_view name) {
    CgImage* image = LayerImage(node);
    if (image == nullptr) return 0;
    if (!FrameSequenceFileFits(bytes)) {
        ReportScriptErrorF(kErrFileUnreadable, true, {name});
        return -1;
    }
    ReleaseFrameSequenceData(image);
    try {
        auto sequence = std::make_unique<FrameSequence>();
        const ByteReader reader(bytes);
        sequence->frame_count = reader.PeekAt<int32_t>(8).value_or(0);
        sequence->alpha_flag = reader.PeekAt<int32_t>(12).value_or(0);
        sequence->value1 = reader.PeekAt<int32_t>(16).value_or(0);
        sequence->value2 = reader.PeekAt<int32_t>(20).value_or(0);
        sequence->value3 = reader.PeekAt<int32_t>(24).value_or(0);
        const int64_t n = std::max(sequence->frame_count, 0);
        for (int64_t i = 0; i < n; ++i) {
            sequence->offsets.push_back(TableEntry(reader, kSequenceHeaderBytes, i));
            sequence->colour_lengths.push_back(TableEntry(reader, kSequenceHeaderBytes + 4 * uint64_t(n), i));
            sequence->alpha_lengths.push_back(TableEntry(reader, kSequenceHeaderBytes + 8 * uint64_t(n), i));
        }
        sequence->data = std::move(bytes);
        UnscrambleFrameSequence(sequence->data, sequence->offsets, sequence->colour_lengths,
                                sequence->alpha_lengths);
        image->frame_sequence = CgOwned<FrameSequence>(sequence.release(), DeleteFrameSequence);
    } catch (const std::bad_alloc&) {
        ReportEngineError(kErrOutOfMemory, true);
    }
    return 0;
}

int32_t LoadFrameSequence(NamedTreeNode* node, std::string_view name) {
    if (LayerImage(node) == nullptr) return 0;
    FileSource source;
    const int32_t found = ResolveFileSource(source, name);
    if (found <= 0) {
        if (found == 0) ReportEngineErrorF(kErrFileMissing, true, {name});
        if (found == -2) ReportEngineErrorF(kErrPackNotOpened, true, {name});
        ReportScriptErrorF(kErrFileUnreadable, true, {name});
        return -1;
    }
    if (LoadFromSource(source, name) != 0) {
        ReportScriptErrorF(kErrFileUnreadable, true, {name});
        return -1;
    }
    return LoadFrameSequenceBytes(node, std::move(source.data), name);
}

bool SequenceDecoderExists() { return TheSequenceDecoder().created; }
uint64_t SequenceDecoderCreations() { return TheSequenceDecoder().creations; }
void ResetSequenceDecoder() { TheSequenceDecoder().Destroy(); }

int32_t CmdLoadFrameSequence() {
    if (DecodeCommandArgs(kCmdLoadFrameSequence) != 0) return -1;
    if (!Args().Given(kSequenceLayer)) return 0;
    NamedTreeNode* node = nullptr;
    if (!FindSequenceLayer(kCmdLoadFrameSequence, node)) return -1;
    // Read before the load: nothing decodes in between, but the block is
    // the engine's, not this command's.
    const CommandArgSlot* file = Args().Find(kSequenceFile);
    const std::string name = file != nullptr ? SjisReplaceByte(SjisLowerAscii(file->Text()), '/', '\\') : std::string();
    const CommandArgSlot* frame = Args().Find(kSequenceFrame);
    const bool show = frame != nullptr;
    const auto frame_number = static_cast<int32_t>(show ? frame->value : 0);
    if (file != nullptr) LoadFrameSequence(node, name);
    if (show) SelectSequenceFrame(node, frame_number);
    return 0;
}

int32_t CmdReleaseFrameSequence() {
    if (DecodeCommandArgs(kCmdReleaseFrameSequence) != 0) return -1;
    if (!Args().Given(kSequenceLayer)) return 0;
    NamedTreeNode* node = nullptr;
    if (!FindSequenceLayer(kCmdReleaseFrameSequence, node)) return -1;
    ReleaseFrameSequenceData(LayerImage(node));
    return 0;
}

int32_t CmdQueryFrameSequence() {
    if (DecodeCommandArgs(kCmdQueryFrameSequence) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (!args.Given(kSequenceLayer)) return 0;
    NamedTreeNode* node = nullptr;
    if (!FindSequenceLayer(kCmdQueryFrameSequence, node)) return -1;
    const CommandArgSlot* result = args.Find(kSequenceResult);
    if (result == nullptr) return 0;
    const CgImage* image = LayerImage(node);
    if (image == nullptr || image->frame_sequence == nullptr) {
        // 0 or 0.0; an element outside the variable takes nothing, another
        // type is 101140.
        SetNumberElement(result->var_number, result->var_element, 0);
        return 0;
    }
    const FrameSequence& sequence = *image->frame_sequence;
    const int32_t values[] = {sequence.frame_count, sequence.value1, sequence.value2, sequence.value3};
    for (uint8_t i = 0; i < 4; ++i) {
        if (args.Given(kSequenceCount + i)) {
            SetNumberElement(result->var_number, result->var_element, int64_t{values[i]});
            return 0;
        }
    }
    return 0;
}

void InstallFrameSequenceCommands() {
    RegisterCommandHandler(kCmdLoadFrameSequence, CmdLoadFrameSequence);
    RegisterCommandHandler(kCmdReleaseFrameSequence, CmdReleaseFrameSequence);
    RegisterCommandHandler(kCmdQueryFrameSequence, CmdQueryFrameSequence);
}

}  // namespace zk
