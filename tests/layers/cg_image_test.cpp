// Layer images: the block size rule and its limits, resizing with the
// current pixels kept on the block, reference counting and the freeing of
// nodes and subtrees (the sanitizer build checks that nothing leaks or is
// freed twice), loading with the alpha-0 fill, attribute copies and blank
// group layers.
#include "layers/cg_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "base/format.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "base/system_text.h"
#include "core/window_record.h"
#include "layers/dirty_rect.h"
#include "platform/ui.h"
#include "storage/file_source.h"

namespace zk {

namespace {

// Stand-ins for the structures other files hang on a record (their types
// belong to those files, so the stand-in is only an address that is never
// read): each release counts, so a test sees every one released exactly
// once.
int releases = 0;
alignas(16) unsigned char attachment_stand_in[16];
template <class T>
void CountRelease(T*) {
    ++releases;
}
template <class T>
CgOwned<T> Owned() {
    return CgOwned<T>(reinterpret_cast<T*>(attachment_stand_in), CountRelease<T>);
}

uint32_t PixelAt(const CgImage& image, int64_t index) {
    const uint8_t* p = image.current_pixels + index * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class CgImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitPathCharTable();
        ResetEngineState();
        ResetErrorReporter();
        platform::InstallUi(&ui_);
        root_.reset(CreateRootNode());
        ASSERT_NE(root_, nullptr);
        CreateWindowRecords();
        TheRootTrees().layers = root_.get();
        releases = 0;
        loaders_ = TheCgFileLoaders();
    }
    void TearDown() override {
        TheCgFileLoaders() = loaders_;
        TheRootTrees().layers = nullptr;
        DestroyWindowRecords();
        root_.reset();
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
    }

    NamedTreeNode* Layer(std::string_view path, bool group = false) {
        NamedTreeNode* node = CreateTreeNode(root_.get(), path, group, 0);
        EXPECT_NE(node, nullptr);
        return node;
    }
    // The last report's message, or "" when nothing was reported.
    std::string LastReport() const { return ErrorReporter().reports == 0 ? "" : ErrorReporter().message; }
    bool Reported(const char* utf8_text) const { return LastReport().find(Sjis(utf8_text)) != std::string::npos; }

    platform::RecordingUi ui_;
    TreeNodePtr root_;
    CgFileLoaders loaders_{};
};

TEST_F(CgImageTest, BlockSizeRuleAndItsLimits) {
    struct Case {
        int64_t width, height;
        uint64_t bytes;  // 0: refused
    };
    const Case cases[] = {
        {1, 1, 12},
        {3, 2, 3 * 4 * 3 + 4},
        {0, 5, 4},
        {8192, 8192, 8192ull * 4 * 8193 + 4},
        {8193, 1, 0},
        {-1, 1, 0},
        {1, -1, 0},
        // Beyond what the engine addresses: refused without overflow.
        {8192, 65535, 0},
        {8192, INT32_MAX, 0},
        {8192, INT64_MAX, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(CgPixelBlockBytes(c.width, c.height), c.bytes) << c.width << " x " << c.height;
}

TEST_F(CgImageTest, WidthAboveTheLimitShowsTheSizeAndReportsMemory) {
    CgImage image;
    ASSERT_TRUE(AllocCgPixels(image, 8192, 1));
    EXPECT_EQ(image.owned_block.size(), 8192u * 4 * 2 + 4);
    EXPECT_EQ(ErrorReporter().reports, 0u);

    EXPECT_FALSE(AllocCgPixels(image, 8193, 7));
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, FormatBounded(Sjis("ＣＧサイズが大きすぎます。X=%d, Y=%d"), {int64_t{8193}, int64_t{7}}));
    EXPECT_TRUE(Reported("メモリ不足です。"));
    EXPECT_NE(QuitFlag.load(), 0) << "fatal";
    EXPECT_EQ(image.current_pixels, nullptr);
    EXPECT_TRUE(image.owned_block.empty());
}

TEST_F(CgImageTest, BlockTooLargeToHoldIsRefusedAsOutOfMemory) {
    CgImage image;
    EXPECT_FALSE(AllocCgPixels(image, 8192, 1 << 20));
    EXPECT_TRUE(ui_.boxes.empty()) << "the width is acceptable; only the block is not";
    EXPECT_TRUE(Reported("メモリ不足です。"));
    EXPECT_EQ(image.current_pixels, nullptr);
}

TEST_F(CgImageTest, ResizeKeepsContentsAndMovesCurrentPixelsWithTheBlock) {
    CgImage image;
    ASSERT_TRUE(AllocCgPixels(image, 2, 2));
    std::memset(image.owned_block.data(), 0x5A, 16);
    // A derived copy in use: a resize must not leave composition reading it.
    ASSERT_TRUE(image.derived_copy.Resize(image.owned_block.size()));
    image.current_pixels = image.derived_copy.data();
    image.derived_copy_frame = 9;

    ASSERT_TRUE(AllocCgPixels(image, 64, 64));
    EXPECT_EQ(image.current_pixels, image.owned_block.data());
    EXPECT_TRUE(image.derived_copy.empty());
    EXPECT_EQ(image.owned_block.size(), CgPixelBlockBytes(64, 64));
    EXPECT_EQ(image.owned_block.data()[15], 0x5A) << "contents up to the old size stay";
    EXPECT_EQ(image.owned_block.data()[16], 0) << "new bytes are zero";
    EXPECT_EQ(image.allocated_width, 64);
    EXPECT_EQ(image.allocated_height, 64);
}

TEST_F(CgImageTest, GroupCanvasResizeClearsTheCanvas) {
    CgImage image;
    ASSERT_TRUE(AllocCgPixels(image, 4, 4));
    std::memset(image.owned_block.data(), 0x77, image.owned_block.size());
    ASSERT_TRUE(image.derived_copy.Resize(16));
    image.current_pixels = image.derived_copy.data();

    ASSERT_TRUE(ResizeGroupCanvas(image, 3, 2));
    EXPECT_EQ(image.current_pixels, image.owned_block.data());
    EXPECT_TRUE(image.derived_copy.empty());
    for (int i = 0; i < 3 * 2 * 4; ++i) ASSERT_EQ(image.owned_block.data()[i], 0) << i;

    EXPECT_FALSE(ResizeGroupCanvas(image, 100, 1 << 30));
    EXPECT_TRUE(Reported("メモリ不足のため[]ファイルを\n読み込めませんでした。"));
    EXPECT_EQ(image.current_pixels, nullptr);
}

TEST_F(CgImageTest, SharedRecordLivesUntilItsLastNodeIsFreed) {
    NamedTreeNode* a = Layer("a");
    NamedTreeNode* b = Layer("b");
    CgImage* image = CreateCgImage(a);
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(AllocCgPixels(*image, 2, 2));
    image->frame_sequence = Owned<FrameSequence>();
    EXPECT_EQ(image->reference_count, 1);

    EXPECT_EQ(ShareCgImage(b, image), image);
    EXPECT_EQ(image->reference_count, 2);
    EXPECT_EQ(ShareCgImage(b, image), image);
    EXPECT_EQ(image->reference_count, 2) << "a node holds its record once";

    FreeLayerNode(a);
    EXPECT_EQ(image->reference_count, 1);
    EXPECT_EQ(releases, 0);
    EXPECT_EQ(image->current_pixels, image->owned_block.data()) << "pixels intact";
    EXPECT_EQ(FindNodeByPath(root_.get(), "a", kFindLeaf), nullptr);

    FreeLayerNode(b);  // the sanitizer build sees the record freed exactly once
    EXPECT_EQ(releases, 1);
}

TEST_F(CgImageTest, SharingAndCreationEdgeCases) {
    NamedTreeNode* a = Layer("a");
    CgImage* image = CreateCgImage(a);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ShareCgImage(nullptr, image), nullptr);
    EXPECT_EQ(ShareCgImage(a, nullptr), nullptr);
    EXPECT_EQ(a->payload, image);
    EXPECT_EQ(CreateCgImage(nullptr), nullptr);

    // A fresh record with the defaults.
    EXPECT_EQ(image->width, 1);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(image->visible, 1);
    EXPECT_EQ(image->opacity, 256);
    EXPECT_EQ(image->current_pixels, nullptr);

    // A second creation on the node releases the record it replaces.
    image->gif_frames = Owned<GifFrameTable>();
    CgImage* second = CreateCgImage(a);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(a->payload, second);
}

TEST_F(CgImageTest, FreeingAGroupFreesItsSubtreeAndEveryAttachment) {
    NamedTreeNode* group = Layer("g", true);
    NamedTreeNode* inner = Layer("g/h", true);
    NamedTreeNode* leaf = Layer("g/h/leaf");
    NamedTreeNode* other = Layer("g/other");
    for (NamedTreeNode* node : {group, inner, leaf, other}) ASSERT_NE(CreateCgImage(node), nullptr);
    CgImage* leaf_image = LayerImage(leaf);
    leaf_image->gif_frames = Owned<GifFrameTable>();
    leaf_image->frame_sequence = Owned<FrameSequence>();
    leaf_image->textures = Owned<TextureGrid>();
    leaf_image->emote_player = Owned<EmotePlayer>();
    leaf_image->texture_kind = kTextureKindEmote;

    // Window 2 shows the inner group: freeing it must leave the window
    // without a root, not with a dangling one.
    GetWindowRecord(2)->shown_layer_set = inner;
    LayerImage(inner)->window_root = 1;
    GetWindowRecord(0)->shown_layer_set = group;  // as "W0" is: a root without the mark

    FreeLayerChildren(group);
    EXPECT_EQ(group->first_child, nullptr);
    EXPECT_EQ(releases, 4);
    EXPECT_EQ(GetWindowRecord(2)->shown_layer_set, nullptr);
    EXPECT_EQ(GetWindowRecord(0)->shown_layer_set, group) << "the group itself stays";

    FreeLayerSubtree(group);
    EXPECT_EQ(GetWindowRecord(0)->shown_layer_set, nullptr);
    EXPECT_EQ(root_->first_child, nullptr);

    // Freeing a group with FreeLayerNode alone still frees its children.
    NamedTreeNode* g2 = Layer("g2", true);
    NamedTreeNode* child = Layer("g2/c");
    ASSERT_NE(CreateCgImage(g2), nullptr);
    ASSERT_NE(CreateCgImage(child), nullptr);
    LayerImage(child)->textures = Owned<TextureGrid>();
    FreeLayerNode(g2);
    EXPECT_EQ(releases, 5);
    FreeLayerNode(nullptr);
}

TEST_F(CgImageTest, LoadingNothingLeavesOneTransparentGreyPixel) {
    TheCgFileLoaders().resolve_image_name = [](FileSource&, std::string&, std::string_view) { return int32_t{1}; };
    for (std::string_view name : {std::string_view(), std::string_view("bg\\nothing_has_this")}) {
        CgImage image;
        image.alpha_in_use = 1;
        image.width = 5;
        ASSERT_EQ(LoadCgFile(image, name), 0);
        EXPECT_EQ(image.width, 1);
        EXPECT_EQ(image.height, 1);
        EXPECT_EQ(image.alpha_in_use, 0);
        EXPECT_EQ(image.owned_block.size(), 12u);
        EXPECT_EQ(PixelAt(image, 0), kTransparentFillColour);
    }
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

// A decoder double: a 3 x 1 image whose pixels the test chooses.
std::vector<uint32_t> decoded_pixels;
int32_t DecodeFixture(FileSource&, CgImage& image, std::string_view) {
    image.width = int32_t(decoded_pixels.size());
    image.height = 1;
    image.alpha_in_use = 1;
    if (!AllocCgPixels(image, image.width, image.height)) return -1;
    std::memcpy(image.owned_block.data(), decoded_pixels.data(), decoded_pixels.size() * 4);
    return 0;
}
int32_t FoundAlways(FileSource&, std::string& found, std::string_view name) {
    found.assign(name);
    return 0;
}

TEST_F(CgImageTest, LoadFillsAlphaZeroPixelsAndDropsTheDerivedCopy) {
    TheCgFileLoaders().resolve_image_name = FoundAlways;
    TheCgFileLoaders().decode_image_file = DecodeFixture;
    decoded_pixels = {0x00123456, 0x01123456, 0xFF000000, 0x00000000};
    CgImage image;
    ASSERT_TRUE(image.derived_copy.Resize(64));
    image.current_pixels = image.derived_copy.data();
    ASSERT_EQ(LoadCgFile(image, "picture.bmp"), 0);
    EXPECT_EQ(PixelAt(image, 0), kTransparentFillColour);
    EXPECT_EQ(PixelAt(image, 1), 0x01123456u) << "alpha 1..255 keeps its colour";
    EXPECT_EQ(PixelAt(image, 2), 0xFF000000u);
    EXPECT_EQ(PixelAt(image, 3), kTransparentFillColour);
    EXPECT_TRUE(image.derived_copy.empty());
    EXPECT_EQ(image.current_pixels, image.owned_block.data());
    EXPECT_EQ(image.allocated_width, 4);
    EXPECT_EQ(image.allocated_height, 1);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(CgImageTest, LoadFailures) {
    TheCgFileLoaders().resolve_image_name = FoundAlways;
    TheCgFileLoaders().decode_image_file = nullptr;  // no decoders yet
    ErrorTextTable& table = ErrorReporter().table;
    table.count = 1;
    table.codes[0] = 100030;
    table.texts[0] = "E100030 %s";
    CgImage image;
    EXPECT_EQ(LoadCgFile(image, "x.bmp"), -1);
    EXPECT_NE(LastReport().find("E100030 x.bmp"), std::string::npos) << LastReport();

    TheCgFileLoaders().decode_image_file = [](FileSource&, CgImage&, std::string_view) { return int32_t{-1}; };
    EXPECT_EQ(LoadCgFile(image, "x.bmp"), -1);
    TheCgFileLoaders().resolve_image_name = [](FileSource&, std::string&, std::string_view) { return int32_t{-1}; };
    EXPECT_EQ(LoadCgFile(image, "x.bmp"), -1);
}

TEST_F(CgImageTest, InstallReplacesPixelsAndRefusesATooSmallBlock) {
    CgImage image;
    ASSERT_TRUE(AllocCgPixels(image, 2, 2));
    ASSERT_TRUE(image.derived_copy.Resize(32));
    image.current_pixels = image.derived_copy.data();
    image.derived_copy_frame = 5;

    EXPECT_EQ(InstallCgPixels(image, PixelBlock::Allocate(8), 3, 3), -1);
    EXPECT_EQ(image.width, 1) << "nothing changed";

    PixelBlock block = PixelBlock::Allocate(size_t(CgPixelBlockBytes(3, 3)));
    const uint8_t* bytes = block.data();
    EXPECT_EQ(InstallCgPixels(image, std::move(block), 3, 3), 0);
    EXPECT_EQ(image.owned_block.data(), bytes);
    EXPECT_EQ(image.current_pixels, bytes);
    EXPECT_TRUE(image.derived_copy.empty());
    EXPECT_EQ(image.derived_copy_frame, 0);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.allocated_height, 3);
}

TEST_F(CgImageTest, CopyLayerAttributesCopiesTheDisplayOnly) {
    NamedTreeNode* from_node = Layer("from");
    NamedTreeNode* to_node = Layer("to");
    CgImage* from = CreateCgImage(from_node);
    CgImage* to = CreateCgImage(to_node);
    from->visible = 0;
    from->opacity = 77;
    from->x = -5;
    from->y = 9;
    from->blend_mode = 3;
    from->mask_layer_name = "mask";
    from->drawing_text = "text";
    from->zoom_x = 123;
    from->angles = {1.5f, 2.5f, 3.5f};
    from->tone = 0x102030;
    from->saturation = 10;
    from->width = 40;
    to->width = 2;
    to->gif_frames = Owned<GifFrameTable>();
    ASSERT_TRUE(AllocCgPixels(*to, 2, 1));
    const uint8_t* pixels = to->current_pixels;

    EXPECT_EQ(CopyLayerAttributes(from_node, to_node), 0);
    EXPECT_EQ(to->visible, 0);
    EXPECT_EQ(to->opacity, 77);
    EXPECT_EQ(to->x, -5);
    EXPECT_EQ(to->y, 9);
    EXPECT_EQ(to->blend_mode, 3);
    EXPECT_EQ(to->mask_layer_name, "mask");
    EXPECT_EQ(to->drawing_text, "text");
    EXPECT_EQ(to->zoom_x, 123);
    EXPECT_EQ(to->angles[2], 3.5f);
    EXPECT_EQ(to->tone, 0x808080u) << "tone is not copied";
    EXPECT_EQ(to->saturation, 128);
    EXPECT_EQ(to->width, 2);
    EXPECT_EQ(to->current_pixels, pixels);
    EXPECT_EQ(to->gif_frames, nullptr);
    EXPECT_EQ(releases, 1) << "the destination's frames are released, not dropped";
    EXPECT_EQ(CopyLayerAttributes(nullptr, to_node), -1);
}

TEST_F(CgImageTest, BlankGroupLayerIsTransparentBlackAndWhollyDirty) {
    CgImage* image = CreateBlankGroupLayer("canvas", 3, 2, 5);
    ASSERT_NE(image, nullptr);
    NamedTreeNode* node = FindNodeByPath(root_.get(), "canvas", kFindGroup);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->payload, image);
    EXPECT_EQ(node->order_key, 5);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->allocated_height, 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(PixelAt(*image, i), 0u);
    EXPECT_EQ(image->whole_dirty, 1);
    EXPECT_EQ(image->dirty_valid, 1);
    EXPECT_EQ(image->dirty_rect, (std::array<int64_t, 4>{0, 0, 2, 1}));

    EXPECT_EQ(CreateBlankGroupLayer("wide", 8193, 2, 0), nullptr);
    EXPECT_EQ(ui_.boxes.size(), 1u);
    EXPECT_TRUE(Reported("メモリ不足です。"));
    NamedTreeNode* wide = FindNodeByPath(root_.get(), "wide", kFindGroup);
    ASSERT_NE(wide, nullptr) << "the node stays, without pixels";
    EXPECT_EQ(LayerImage(wide)->current_pixels, nullptr);
}

}  // namespace
}  // namespace zk
