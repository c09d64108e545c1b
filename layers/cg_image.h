// The image payload of a layer (CgImage): BGRA pixels, top row first, pitch
// width * 4, in a block of width * 4 * (height + 1) + 4 bytes (a spare row
// and four spare bytes that row kernels may touch), together with everything
// that decides how the layer is shown; and the layer lifecycle around it:
// creation, sharing by several layer nodes under a reference count, the
// pixel block rules, loading a file into a layer, replacing its pixels,
// copying its display attributes and freeing layer nodes and subtrees.
//
// Threading: the thread that runs the script and the frame step. Workers
// read and write pixels only while a poster waits for them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/window_record.h"
#include "layers/pixel_block.h"

namespace zk {

constexpr uint32_t kTransparentFillColour = 0x00808080;
constexpr int32_t kMaxCgWidth = 8192;
// Largest pixel block the engine makes: every byte offset into a block, and
// so every pixel count, then fits the signed 32-bit arithmetic that row and
// file code is written in. Larger sizes are refused as out of memory.
constexpr uint64_t kMaxPixelBlockBytes = 0x7FFFFFFF;

constexpr size_t kCgTextMax = 260;  // the two text fields: 261-byte blocks with the terminator

struct NamedTreeNode;
struct FileSource;

// Structures other parts of the layers and renderer code hang on a record.
// The record owns them and hands each to the release function its maker
// stored with it (a model player's release also asks for a full redraw).
struct GifFrameTable;
struct FrameSequence;
struct TextureGrid;
struct EmotePlayer;
template <class T>
using CgOwned = std::unique_ptr<T, void (*)(T*)>;

enum : uint8_t {
    kTextureKindCpu = 0,    // CPU pixels, drawn by the compositor
    kTextureKindGrid = 1,   // texture tiles, drawn by the GPU path
    kTextureKindEmote = 2,  // a model player
};

struct CgImage {
    uint8_t window_root = 0;  // 1 while the layer is a window's root layer
    int32_t previous_dirty_count = 0;
    int32_t dirty_count = 0;
    std::array<int64_t, 4> presented_rect{};  // left, top, right, bottom (inclusive)
    std::array<int64_t, 4> dirty_rect{};      // in the layer's own pixels, inclusive
    uint8_t dirty_valid = 0;
    uint8_t whole_dirty = 0;
    std::string mask_layer_name;  // at most kCgTextMax bytes; empty = no mask
    int64_t reference_count = 1;  // layer nodes that hold this record
    int64_t user_value1 = 0, user_value2 = 0;
    int64_t x = 0, y = 0;  // top-left corner in the parent's pixels
    int32_t saturation = 128;
    uint32_t tone = 0x808080;
    int32_t width = 1, height = 1;
    int16_t opacity = 256;
    int16_t mask_level = 256;
    int16_t mask_softness = 0;
    uint8_t alpha_in_use = 0;
    uint8_t blend_mode = 0;
    uint8_t visible = 1;
    // The pixels composition reads: owned_block's bytes or derived_copy's,
    // never anything else; null while the record has no block.
    uint8_t* current_pixels = nullptr;
    PixelBlock owned_block;
    PixelBlock derived_copy;  // a toned or desaturated copy, kept between frames
    int64_t derived_copy_frame = 0;  // the frame it was made in
    // The tone and saturation it was made with: a second composition in the
    // same frame reuses the copy only while these still hold.
    uint32_t derived_copy_tone = 0x808080;
    int32_t derived_copy_saturation = 128;
    int32_t allocated_width = 1, allocated_height = 1;
    uint8_t changed = 0;
    uint8_t keep_block = 0;
    CgOwned<GifFrameTable> gif_frames{nullptr, nullptr};
    CgOwned<FrameSequence> frame_sequence{nullptr, nullptr};
    // The texture part: kind, option and the texture grid.
    uint8_t texture_kind = kTextureKindCpu;
    uint8_t texture_option = 0;
    CgOwned<TextureGrid> textures{nullptr, nullptr};
    int64_t x100 = 0, y100 = 0;  // position in 1/100 pixel
    int64_t zoom_x = 10000, zoom_y = 10000;
    std::array<int64_t, 5> placement{};
    std::array<float, 3> angles{};
    int32_t saturation2 = 128;
    uint32_t tone2 = 0x808080;
    uint8_t drawing_option = 0;
    std::string drawing_text;  // at most kCgTextMax bytes
    int16_t drawing_level = 0;
    CgOwned<EmotePlayer> emote_player{nullptr, nullptr};
};

// Bytes of a pixel block for a size, computed in 64 bits; 0 when the size
// cannot be held (negative, wider than kMaxCgWidth, or over
// kMaxPixelBlockBytes).
uint64_t CgPixelBlockBytes(int64_t width, int64_t height);

// An image wider than kMaxCgWidth was asked for: shows "ＣＧサイズが大きすぎ
// ます。X=%d, Y=%d" with the size, then reports 100010 (fatal).
void ReportCgTooWide(int64_t width, int64_t height);

// Gives `image` a pixel block for width x height: its owned block is
// resized (contents kept up to the smaller size, new bytes zero) or made.
// The current pixels then point at the owned block, the derived copy is
// dropped, and the allocated size is width x height; width and height are
// the caller's to set. A width above 8192 shows "ＣＧサイズが大きすぎます。
// X=%d, Y=%d" and reports 100010; a block that cannot be had (or is too
// large to hold) reports 100010; both fatal, and leave the image with no
// block and no current pixels. True when the block exists.
bool AllocCgPixels(CgImage& image, int32_t width, int32_t height);

// The group canvas resize of layer command 1: as AllocCgPixels, but a block
// that cannot be had reports 104030 with no file name, and the first
// width * 4 * height bytes are zeroed. True when the block exists.
bool ResizeGroupCanvas(CgImage& image, int32_t width, int32_t height);

// A new record with the defaults, owned by the caller (std::bad_alloc when
// the heap is exhausted: for the engine's own records at start-up).
std::unique_ptr<CgImage> NewCgImageRecord();
// Hands an image to a window record as its canvas.
CanvasOwner OwnCanvas(std::unique_ptr<CgImage> image);

// True when the image's owned block holds width x height pixels.
bool OwnedBlockHoldsImage(const CgImage& image);

// The pixels an operation that changes a layer in place writes: the owned
// block. A toned or desaturated copy is made from the owned block by the
// compositor, so a drawing into the copy would never show; the copy is
// dropped and the current pixels point at the owned block again, for the
// compositor to derive a new copy from the drawing. Null, with nothing
// changed, when the owned block does not hold the image.
uint8_t* OwnedPixelsForWriting(CgImage& image);

// Gives the node a new record with a reference count of 1 as its payload.
// A payload the node already had is released first. 0, or 1 after error
// 100010 (fatal) when the record cannot be had (the node keeps no payload).
int32_t NewCgImage(NamedTreeNode* node);
// NewCgImage, then the new record; null for a null node or after 100010.
CgImage* CreateCgImage(NamedTreeNode* node);
// Makes `image` the node's payload too, adding 1 to its reference count
// (the node's earlier payload, when another, is released). Null for a null
// node; nothing happens and null comes back for a null image.
CgImage* ShareCgImage(NamedTreeNode* node, CgImage* image);

// The payload_free of every layer node: drops one reference and frees the
// record when none is left.
void ReleaseCgImagePayload(void* payload);

// Creates the group node `path` under the layer root with the order key and
// a new record of width x height transparent black pixels, all of it dirty,
// and propagates the dirty rectangle. Null when the node or record cannot be
// made, after the size message and 100010 for a width above 8192 (the node
// stays with no block), or after 104030 (no file name) when the block
// cannot be had.
CgImage* CreateBlankGroupLayer(std::string_view path, int32_t width, int32_t height, int64_t order_key);

// Loads an image file into the layer's record: the empty name, or a name no
// source has, leaves a 1 x 1 image of kTransparentFillColour and no error.
// After a decode every pixel with alpha 0 becomes kTransparentFillColour,
// the derived copy is dropped and the frame pacer's reference time
// restarts. 0, or -1 (reported by the resolver or the decoder).
int32_t LoadCgFile(CgImage& image, std::string_view name);
// Makes the image one pixel of kTransparentFillColour with alpha not in
// use. 0, or -1 when the block cannot be had (reported).
int32_t ResetCgToEmpty(CgImage& image);
// Every pixel with alpha 0 becomes kTransparentFillColour.
void FillTransparentPixels(CgImage& image);
// Replaces the image's pixels by `block` (width x height): the old block and
// the derived copy are freed and the new block becomes both the owned block
// and the current pixels. 0; -1 with nothing changed when the block is too
// small for the size (a caller's fault).
int32_t InstallCgPixels(CgImage& image, PixelBlock block, int32_t width, int32_t height);
// Copies the display attributes of the source layer's record to the
// destination's and releases the destination's GIF frames. Pixels, size,
// tone, saturation, texture part and reference count stay. 0; -1 when a
// node or record is missing.
int32_t CopyLayerAttributes(const NamedTreeNode* source, NamedTreeNode* destination);

// Frees a layer node with everything below it, each node dropping its
// reference to its record; a window whose root layer goes loses its root.
// A null node is ignored.
void FreeLayerNode(NamedTreeNode* node);
// Frees every descendant of a layer node, not the node itself.
void FreeLayerChildren(NamedTreeNode* node);
// FreeLayerChildren, then FreeLayerNode.
void FreeLayerSubtree(NamedTreeNode* node);
// Frees the record's frame sequence (nothing for a null image or one
// without a sequence).
void ReleaseFrameSequenceData(CgImage* image);

// Where a file load finds its name and its decoder. Filled at start-up;
// tests put doubles in.
struct CgFileLoaders {
    // Resolves a script's image name: 0 found (`found_name` is the name the
    // source holds it under; `source` is probed, not loaded), 1 no source
    // has it, -1 a failure the resolver has reported. Default:
    // ResolveImageName.
    int32_t (*resolve_image_name)(FileSource& source, std::string& found_name, std::string_view name);
    // The decoder dispatch by file kind, filled by the image decoders: loads
    // the file through its source, sets width, height, alpha in use and the
    // pixel block (AllocCgPixels), and reports its own errors. 0 or -1.
    // While it is empty every file counts as a kind without a decoder:
    // error 100030 (fatal) with the found name.
    int32_t (*decode_image_file)(FileSource& source, CgImage& image, std::string_view found_name);
};
CgFileLoaders& TheCgFileLoaders();
// ResolveAssetName in image mode.
int32_t ResolveImageName(FileSource& source, std::string& found_name, std::string_view name);

}  // namespace zk
