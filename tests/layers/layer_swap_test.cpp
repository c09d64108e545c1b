// Layer deletion (command 3) and the layer swap, on layers that command 1
// lines made: what is left in the tree, what the window shows afterwards,
// and that every node stays findable under its name and kind.
#include "tests/layers/layer_command_test_support.h"
#include "engine/window_proc.h"
#include "layers/layer_delete_swap.h"

namespace zk::layer_test {
namespace {

uint32_t Red(int64_t x, int64_t y) { return 0xFFC00000u | uint32_t(x * 30) << 8 | uint32_t(y * 30); }
uint32_t Green(int64_t x, int64_t y) { return 0xFF00C000u | uint32_t(x * 20) << 16 | uint32_t(y * 40); }
PixelFn Solid(uint32_t colour) {
    return [colour](int64_t, int64_t) { return colour; };
}
PixelFn Placed(int64_t px, int64_t py, int64_t w, int64_t h, PixelFn inside, PixelFn outside) {
    return [=](int64_t x, int64_t y) {
        if (x >= px && x < px + w && y >= py && y < py + h) return inside(x - px, y - py);
        return outside(x, y);
    };
}

class LayerSwapTest : public LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        WriteBmp("red.bmp", 4, 4, Red);
        WriteBmp("green.bmp", 6, 3, Green);
    }
    // layer name=<name> no=<no> file=<file> x=<x> y=<y>
    NamedTreeNode* Make(const std::string& name, int no, const std::string& file, int x = 0, int y = 0) {
        EXPECT_EQ(Run("layer", {{"name", "\"" + name + "\""},
                                {"no", std::to_string(no)},
                                {"file", "\"" + file + "\""},
                                {"x", std::to_string(x)},
                                {"y", std::to_string(y)}}),
                  0);
        return Leaf("W0/" + name + "." + std::to_string(no));
    }
    // layer name=<name>/ priority=<order> width=<w> height=<h>
    NamedTreeNode* MakeGroup(const std::string& name, int order, int w = 16, int h = 16) {
        EXPECT_EQ(Run("layer", {{"name", "\"" + name + "/\""},
                                {"priority", std::to_string(order)},
                                {"width", std::to_string(w)},
                                {"height", std::to_string(h)}}),
                  0);
        return Group("W0/" + name);
    }
};

// ------------------------------------------------------------ command 3

TEST_F(LayerSwapTest, DeleteRemovesTheLayerAndItsPicture) {
    Make("bg", 1, "red.bmp");
    Make("bg", 2, "green.bmp", 10, 5);
    ASSERT_EQ(Frame(), 0);
    // dellayer name="bg" no=2
    ASSERT_EQ(Run("dellayer", {{"name", R"("bg")"}, {"no", "2"}}), 0);
    ExpectClean();
    EXPECT_EQ(Leaf("W0/bg.2"), nullptr);
    ASSERT_NE(Leaf("W0/bg.1"), nullptr);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(0, 0, 4, 4, Red, Solid(0)), "after the delete");

    // Nothing of that name, or no name at all: nothing happens.
    ASSERT_EQ(Run("dellayer", {{"name", R"("bg")"}, {"no", "2"}}), 0);
    ASSERT_EQ(Run("dellayer", {{"name", R"("none/")"}}), 0);
    ExpectClean();
    // A space in a folder of the name.
    EXPECT_EQ(Run("dellayer", {{"name", R"("a b/c")"}}), -1);
    ExpectFatal(kErrTreeNameSpace);
}

TEST_F(LayerSwapTest, DeleteGroupTakesEverythingUnderIt) {
    MakeGroup("ui", 2);
    Make("ui/a", 1, "red.bmp");
    MakeGroup("ui/inner", 3, 8, 8);
    Make("ui/inner/b", 1, "green.bmp");
    Make("keep", 5, "red.bmp");
    const int32_t children = w0_->child_count;
    // dellayer name="ui/"
    ASSERT_EQ(Run("dellayer", {{"name", R"("ui/")"}}), 0);
    ExpectClean();
    EXPECT_EQ(Group("W0/ui"), nullptr);
    EXPECT_EQ(Leaf("W0/ui/a.1"), nullptr);
    EXPECT_EQ(w0_->child_count, children - 1);
    EXPECT_NE(Leaf("W0/keep.5"), nullptr);
    // The sanitizer build checks that every node and record was freed once.
}

TEST_F(LayerSwapTest, DeletingOneOfTwoSharersKeepsThePicture) {
    Make("bg", 1, "red.bmp");
    // layer name="copy" no=2 share="bg.1" x=8
    ASSERT_EQ(Run("layer", {{"name", R"("copy")"}, {"no", "2"}, {"share", R"("bg.1")"}, {"x", "8"}}), 0);
    const CgImage* picture = LayerImage(Leaf("W0/copy.2"));
    ASSERT_EQ(Run("dellayer", {{"name", R"("bg")"}, {"no", "1"}}), 0);
    EXPECT_EQ(picture->reference_count, 1);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(8, 0, 4, 4, Red, Solid(0)), "the sharer left");
}

TEST_F(LayerSwapTest, DeletingTheWindowRootLeavesTheWindowWithoutOne) {
    Make("bg", 1, "red.bmp");
    // dellayer name=":W0/"
    ASSERT_EQ(Run("dellayer", {{"name", R"(":W0/")"}}), 0);
    ExpectClean();
    w0_ = nullptr;
    EXPECT_EQ(GetWindowRecord(0)->shown_layer_set, nullptr);
    EXPECT_EQ(root_->first_child, nullptr);
    EXPECT_EQ(ComposeWindow(0), 0) << "a window without a root layer composes nothing";
}

// The drag layer (a press on its visible pixels moves the window) is a
// layer like any other: the script may delete it, or the group it is in.
TEST_F(LayerSwapTest, DeletingTheDragLayerOrItsGroupTurnsItOff) {
    struct Case {
        const char* name;
        std::vector<Kw> line;  // dellayer ...
        bool forgotten;
    };
    const Case cases[] = {
        {"another layer", {{"name", R"("keep")"}, {"no", "5"}}, false},
        {"the layer", {{"name", R"("ui/grip")"}, {"no", "1"}}, true},
        {"its group", {{"name", R"("ui/")"}}, true},
        {"the window's whole tree (last: it takes the window root)", {{"name", R"(":W0/")"}}, true},
    };
    WindowRecord& record = *GetWindowRecord(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeGroup("ui", 2);
        LayerImage(Group("W0/ui"))->x = 10;
        LayerImage(Group("W0/ui"))->y = 5;
        NamedTreeNode* grip = Make("ui/grip", 1, "red.bmp", 2, 3);  // 4 x 4 at (12, 8) in the window
        Make("keep", 5, "green.bmp");
        SetDragLayer(grip);
        record.mouse_x = 15;
        record.mouse_y = 8;
        ASSERT_TRUE(PressIsOnDragLayer(record));
        record.mouse_x = 16;
        EXPECT_FALSE(PressIsOnDragLayer(record)) << "right of the layer";
        record.mouse_x = 15;

        ASSERT_EQ(Run("dellayer", c.line), 0);
        if (Group("W0") == nullptr) w0_ = nullptr;  // freed with the tree
        EXPECT_EQ(TheDragLayer().node.load() == nullptr, c.forgotten);
        EXPECT_EQ(PressIsOnDragLayer(record), !c.forgotten);
        // Start the next case from an empty window tree.
        SetDragLayer(nullptr);
        if (w0_ != nullptr) FreeLayerChildren(w0_);
    }
}

// ------------------------------------------------------------ the swap

TEST_F(LayerSwapTest, SwapWithAttributesTradesPlaces) {
    NamedTreeNode* a = Make("a", 1, "red.bmp", 1, 2);
    NamedTreeNode* b = Make("b", 2, "green.bmp", 20, 10);
    CgImage& image_a = *LayerImage(a);
    CgImage& image_b = *LayerImage(b);
    image_a.mask_level = 100;
    image_a.tone = 0x707070;
    image_b.opacity = 128;
    image_b.blend_mode = 1;
    image_b.mask_softness = 7;
    image_b.visible = 0;
    image_b.placement[0] = 55;

    ASSERT_EQ(SwapLayers(a, b, kSwapAttributes), 0);
    // A's former name finds B, with its picture, at A's former place.
    EXPECT_EQ(Leaf("W0/a.1"), b);
    EXPECT_EQ(Leaf("W0/b.2"), a);
    EXPECT_EQ(b->order_key, 1);
    EXPECT_EQ(a->order_key, 2);
    EXPECT_EQ(w0_->first_child, b);
    EXPECT_EQ(image_b.width, 6);
    EXPECT_EQ(image_b.x, 1);
    EXPECT_EQ(image_b.y, 2);
    EXPECT_EQ(image_b.x100, 100);
    EXPECT_EQ(image_b.y100, 200);
    EXPECT_EQ(image_b.visible, 1);
    EXPECT_EQ(image_b.opacity, 256);
    EXPECT_EQ(image_b.mask_level, 100);
    EXPECT_EQ(image_b.mask_softness, 0);
    EXPECT_EQ(image_b.blend_mode, 0);
    EXPECT_EQ(image_a.x, 20);
    EXPECT_EQ(image_a.opacity, 128);
    EXPECT_EQ(image_a.mask_softness, 7);
    EXPECT_EQ(image_a.blend_mode, 1);
    EXPECT_EQ(image_a.visible, 0);
    // What is not exchanged stays with the picture.
    EXPECT_EQ(image_a.tone, 0x707070u);
    EXPECT_EQ(image_b.placement[0], 55);
    EXPECT_EQ(image_a.width, 4);
}

TEST_F(LayerSwapTest, SwappedPositionsReachTheWindow) {
    NamedTreeNode* a = Make("a", 1, "red.bmp", 1, 2);
    NamedTreeNode* b = Make("b", 2, "green.bmp", 20, 10);
    ASSERT_EQ(Frame(), 0);
    ASSERT_EQ(SwapLayers(a, b, kSwapPositions), 0);
    ASSERT_EQ(Frame(), 0);
    // Green is larger than red: the area it now covers was never dirty
    // before the swap, and must be drawn all the same.
    ExpectWindow(Placed(1, 2, 6, 3, Green, Placed(20, 10, 4, 4, Red, Solid(0))), "swapped");
    // The names follow: a command 1 line on "a.1" now moves the green picture.
    ASSERT_EQ(Run("layer", {{"name", R"("a")"}, {"no", "1"}, {"x", "0"}, {"y", "0"}}), 0);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(0, 0, 6, 3, Green, Placed(20, 10, 4, 4, Red, Solid(0))), "moved by its new name");
}

TEST_F(LayerSwapTest, SwappedGroupsKeepTheirKindAndTheirChildren) {
    NamedTreeNode* g1 = MakeGroup("g1", 2);
    NamedTreeNode* g2 = MakeGroup("g2", 3);
    NamedTreeNode* x = Make("g1/x", 1, "red.bmp");
    NamedTreeNode* y = Make("g2/y", 1, "green.bmp");
    ASSERT_EQ(SwapLayers(g1, g2, kSwapNamesOnly), 0);
    EXPECT_EQ(Group("W0/g1"), g2);
    EXPECT_EQ(Group("W0/g2"), g1);
    EXPECT_EQ(g1->key, TreeNameKey("g2", true));
    EXPECT_EQ(g2->key, TreeNameKey("g1", true));
    EXPECT_EQ(Leaf("W0/g1"), nullptr) << "a group is never found as a leaf";
    // The children are found through their parents' new names.
    EXPECT_EQ(Leaf("W0/g1/y.1"), y);
    EXPECT_EQ(Leaf("W0/g2/x.1"), x);
    // A line on a child under the new name reaches it.
    ASSERT_EQ(Run("layer", {{"name", R"("g1/y")"}, {"no", "1"}, {"x", "3"}}), 0);
    EXPECT_EQ(LayerImage(y)->x, 3);
    // And the groups can be deleted by their new names.
    ASSERT_EQ(Run("dellayer", {{"name", R"("g1/")"}}), 0);
    EXPECT_EQ(Group("W0/g1"), nullptr);
    EXPECT_EQ(Group("W0/g2"), g1);
    ExpectClean();
}

TEST_F(LayerSwapTest, LeavesUnderDifferentParentsStayInTheirParentsIndexes) {
    NamedTreeNode* g1 = MakeGroup("g1", 2);
    NamedTreeNode* g2 = MakeGroup("g2", 3);
    NamedTreeNode* p = Make("g1/p", 1, "red.bmp");
    NamedTreeNode* q = Make("g2/q", 1, "green.bmp");
    ASSERT_EQ(SwapLayers(p, q, kSwapNamesOnly), 0);
    EXPECT_EQ(p->parent, g1);
    EXPECT_EQ(q->parent, g2);
    EXPECT_EQ(Leaf("W0/g1/q.1"), p);
    EXPECT_EQ(Leaf("W0/g2/p.1"), q);
    EXPECT_EQ(Leaf("W0/g1/p.1"), nullptr);
    EXPECT_EQ(g1->child_index->entries, 1);
    EXPECT_EQ(g2->child_index->entries, 1);
    // Deleting by the new names frees the right nodes.
    ASSERT_EQ(Run("dellayer", {{"name", R"("g1/q")"}, {"no", "1"}}), 0);
    EXPECT_EQ(g1->child_count, 0);
    EXPECT_EQ(g1->child_index->entries, 0);
    EXPECT_EQ(Leaf("W0/g2/p.1"), q);
}

TEST_F(LayerSwapTest, RefusedPairsChangeNothing) {
    NamedTreeNode* group = MakeGroup("ui", 2);
    NamedTreeNode* leaf = Make("s", 1, "red.bmp", 4, 4);
    const int64_t group_order = group->order_key;
    // A group and a leaf cannot take each other's names.
    EXPECT_EQ(SwapLayers(group, leaf, kSwapAttributes), -1);
    EXPECT_EQ(Group("W0/ui"), group);
    EXPECT_EQ(Leaf("W0/s.1"), leaf);
    EXPECT_EQ(group->order_key, group_order);
    EXPECT_EQ(LayerImage(leaf)->x, 4);
    EXPECT_EQ(SwapLayers(nullptr, leaf, kSwapPositions), -1);
    EXPECT_EQ(SwapLayers(root_, w0_, kSwapPositions), -1) << "a tree root has no name to give";
    EXPECT_EQ(SwapLayers(leaf, leaf, kSwapAttributes), 0);
    EXPECT_EQ(Leaf("W0/s.1"), leaf);

    EXPECT_EQ(SwapLayerPriorities(nullptr, leaf), 0);
    EXPECT_EQ(leaf->order_key, 1);
    NamedTreeNode* other = Make("t", 7, "red.bmp");
    EXPECT_EQ(SwapLayerPriorities(leaf, other), 1);
    EXPECT_EQ(leaf->order_key, 7);
    EXPECT_EQ(other->order_key, 1);
    EXPECT_EQ(w0_->last_child, leaf);
}

}  // namespace
}  // namespace zk::layer_test
