// Named object trees: path normalisation, the three lookup
// modes, creation with the hashed child index, sibling order, unlinking, the
// n-th child, the limits and freeing.
#include "core/named_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "base/hashes.h"
#include "platform/ui.h"

namespace zk {
namespace {

class NamedTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitPathCharTable();
        ResetEngineState();
        platform::InstallUi(&ui_);
        ResetReports();
        root_.reset(CreateRootNode());
        ASSERT_NE(root_, nullptr);
    }
    void TearDown() override {
        root_.reset();
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
    }

    // A fresh reporter and quit flag between cases of one test.
    static void ResetReports() {
        ResetErrorReporter();
        ResetEngineState();
        // Texts for the codes without a built-in text, so that a message
        // shows which code was reported and with which argument.
        ErrorTextTable& table = ErrorReporter().table;
        table.count = 3;
        table.codes[0] = 900020;
        table.texts[0] = "E900020";
        table.codes[1] = 100230;
        table.texts[1] = "E100230 %s";
        table.codes[2] = 100242;
        table.texts[2] = "E100242 %s";
    }

    // No report since SetUp.
    static void ExpectNoReport() {
        EXPECT_EQ(ErrorReporter().reports, 0u) << ErrorReporter().message;
        EXPECT_EQ(QuitFlag.load(), 0);
    }
    // Exactly one fatal report with this message.
    static void ExpectFatalReport(const std::string& message) {
        EXPECT_EQ(ErrorReporter().reports, 1u);
        EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
        EXPECT_EQ(ErrorReporter().message, message);
        EXPECT_NE(QuitFlag.load(), 0);
    }

    NamedTreeNode* Create(NamedTreeNode* parent, std::string_view path, bool group, int64_t order) {
        return CreateTreeNode(parent, path, group, order);
    }

    platform::RecordingUi ui_;
    TreeNodePtr root_;
};

// The names of a node's children in sibling order.
std::vector<std::string> ChildNames(const NamedTreeNode* node) {
    std::vector<std::string> names;
    for (const NamedTreeNode* c = node->first_child; c != nullptr; c = c->next_sibling) names.push_back(c->name);
    return names;
}

// The list and index invariants of one node.
void ExpectConsistent(const NamedTreeNode* node) {
    int32_t count = 0;
    const NamedTreeNode* prev = nullptr;
    for (const NamedTreeNode* c = node->first_child; c != nullptr; c = c->next_sibling) {
        EXPECT_EQ(c->parent, node);
        EXPECT_EQ(c->prev_sibling, prev);
        if (prev != nullptr) {
            EXPECT_LE(prev->order_key, c->order_key);
        }
        EXPECT_EQ(c->name_length, static_cast<int32_t>(c->name.size()));
        prev = c;
        ++count;
    }
    EXPECT_EQ(node->last_child, prev);
    EXPECT_EQ(node->child_count, count);
    const ChildIndex* index = node->child_index.get();
    if (index == nullptr) {
        EXPECT_EQ(count, 0);
        return;
    }
    EXPECT_EQ(index->entries, count);
    EXPECT_EQ(index->bucket_start[0], 0);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(index->bucket_start[b + 1], index->bucket_start[b] + index->bucket_count[b]) << "bucket " << b;
        for (int i = index->bucket_start[b]; i < index->bucket_start[b] + index->bucket_count[b]; ++i) {
            EXPECT_EQ(static_cast<int>(index->keys[i] >> 24), b);
        }
    }
    for (int i = 0; i < index->entries; ++i) {
        EXPECT_EQ(index->nodes[i]->key, index->keys[i]);
        EXPECT_EQ(index->nodes[i]->parent, node);
        if (i > 0) {
            EXPECT_LE(index->keys[i - 1], index->keys[i]);
        }
    }
}

TEST_F(NamedTreeTest, PathCharTableHoldsDotSlashColon) {
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(PathCharTable[c], (c == '.' || c == '/' || c == ':') ? 1 : 0) << c;
    }
}

TEST_F(NamedTreeTest, KeyIsGroupBitOverMaskedMurmurHash2) {
    const uint32_t h = MurmurHash2(std::string_view("bg"), 0) & 0x7FFFFFFF;
    EXPECT_EQ(TreeNameKey("bg", false), h);
    EXPECT_EQ(TreeNameKey("bg", true), h | 0x80000000u);
    NamedTreeNode* leaf = Create(root_.get(), "bg", false, 0);
    NamedTreeNode* group = Create(root_.get(), "bg", true, 0);
    EXPECT_EQ(leaf->key, h);
    EXPECT_EQ(group->key, h | 0x80000000u);
    EXPECT_EQ(leaf->group, 0);
    EXPECT_EQ(group->group, 1);
}

struct NormaliseCase {
    const char* folder;
    const char* name;
    bool allow_spaces;
    int32_t result;
    const char* out;
};

TEST_F(NamedTreeTest, NormaliseNodePathTable) {
    const NormaliseCase cases[] = {
        // folder, name, spaces allowed -> result, path
        {"W0", "bg", false, 0, "W0/bg"},          // a leaf
        {"W0", "bg/", false, 1, "W0/bg"},         // a group
        {"W0", ":sys/x", false, 0, "sys/x"},      // ':' is absolute
        {"W0", ":/sys/x", false, 0, "sys/x"},     // one '/' after ':' goes too
        {"W0", "/x", false, 0, "W0/x"},           // a leading '/' is not absolute
        {"", "W0/a/../b", false, 0, "W0/b"},
        {"", "W0/./a", false, 0, "W0/a"},
        {"", "../a", false, 0, "a"},              // ".." at the root
        {"W0", "a/b/../../c", false, 0, "W0/c"},
        {"W0", "../../x", false, 0, "x"},
        {"W0", "../", false, 0, ""},
        {"W0", "./", false, 1, "W0"},
        {"W0", "x/..", false, 0, "W0/x/.."},      // ".." without '/' is copied
        {"W0", "x/.", false, 0, "W0/x/."},
        {"W0", "a//b", false, 0, "W0/a//b"},      // a '/' run is copied
        {"W0", "a//../b", false, 0, "W0/b"},      // ".." takes the run before its segment
        {"W0", "bg//", false, 1, "W0/bg/"},       // only one trailing '/' is removed
        {"W0", "..a/b", false, 0, "W0/..a/b"},
        {"", "x", false, 0, "x"},                 // no folder
        {"", "x/", false, 1, "x"},
        {"W0", ":", false, 0, ""},
        {"W0", ":/", false, 0, ""},
        {"W0", "a b", false, 0, "W0/a b"},        // no '.', '/' or ':': spaces not tested
        {"W0", "a b/", true, 1, "W0/a b"},        // spaces allowed
        {"W0", "\x81/", false, 0, "W0/\x81/"},    // a trail byte is never a separator
        {"W0", "\x83\x5C/", false, 1, "W0/\x83\x5C"},
    };
    for (const NormaliseCase& c : cases) {
        std::string out = "junk";
        EXPECT_EQ(NormaliseNodePath(out, c.name, c.folder, c.allow_spaces), c.result)
            << "folder '" << c.folder << "' name '" << c.name << "'";
        EXPECT_EQ(out, c.out) << "folder '" << c.folder << "' name '" << c.name << "'";
    }
    ExpectNoReport();
}

TEST_F(NamedTreeTest, SpaceInAPathIsRefusedWith100242) {
    // name "a b/" (letter a, space, letter b, '/'), spaces not allowed
    std::string out;
    EXPECT_EQ(NormaliseNodePath(out, "a b/", "W0", false), -1);
    EXPECT_EQ(out, "");
    ExpectFatalReport("E100242 W0/a b/");  // the joined text
}

TEST_F(NamedTreeTest, OverLongPathsAreRefusedWith104111) {
    const std::string too_deep(LookupErrorText(104111));
    std::string out;
    // A plain name: "W0/" + 252 bytes = 255, the limit.
    EXPECT_EQ(NormaliseNodePath(out, std::string(252, 'a'), "W0", false), 0);
    EXPECT_EQ(out.size(), 255u);
    EXPECT_EQ(NormaliseNodePath(out, std::string(255, 'a'), "", false), 0);
    // Segments and joined texts through the walk.
    EXPECT_EQ(NormaliseNodePath(out, "x/" + std::string(250, 'a'), "W0", false), 0);
    EXPECT_EQ(out.size(), 255u);
    EXPECT_EQ(NormaliseNodePath(out, ":" + std::string(255, 'a'), "W0", false), 0);
    // ".." makes the result shorter, but the joined text is what counts.
    EXPECT_EQ(NormaliseNodePath(out, std::string(250, 'a') + "/../b", "", false), 0);
    EXPECT_EQ(out, "b");
    ExpectNoReport();
    EXPECT_EQ(NormaliseNodePath(out, std::string(251, 'a') + "/../b", "", false), -1);
    ExpectFatalReport(too_deep);

    const std::string refused[][2] = {
        {"W0", std::string(253, 'a')},
        {"", std::string(256, 'a')},
        {"W0", "x/" + std::string(251, 'a')},
        {"W0", ":" + std::string(256, 'a')},
        {"W0", "/" + std::string(253, 'a') + "/"},
        {std::string(300, 'f'), "x"},
        {"W0", std::string(100000, '/')},
    };
    for (const auto& r : refused) {
        ResetReports();
        out = "junk";
        EXPECT_EQ(NormaliseNodePath(out, r[1], r[0], false), -1) << r[0].size() << " " << r[1].size();
        EXPECT_EQ(out, "");
        ExpectFatalReport(too_deep);
    }
}

TEST_F(NamedTreeTest, CreateTreeNodeRefusesAPathOver255Bytes) {
    NamedTreeNode* ok = Create(root_.get(), std::string(255, 'a'), false, 0);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->name_length, 255);
    ExpectNoReport();
    EXPECT_EQ(Create(root_.get(), std::string(256, 'a'), false, 0), nullptr);
    ExpectFatalReport(std::string(LookupErrorText(104111)));
    EXPECT_EQ(root_->child_count, 1);
}

TEST_F(NamedTreeTest, CreatesAndFindsThroughFolders) {
    NamedTreeNode* w0 = Create(root_.get(), "W0", true, 1);
    ASSERT_NE(w0, nullptr);
    NamedTreeNode* bg = Create(root_.get(), "W0/bg", false, 0);
    ASSERT_NE(bg, nullptr);
    EXPECT_EQ(bg->parent, w0);
    EXPECT_EQ(bg->name, "bg");
    EXPECT_EQ(bg->name_length, 2);
    NamedTreeNode* chara = Create(w0, "chara", true, 0);
    NamedTreeNode* face = Create(root_.get(), "W0/chara/face", false, 0);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->parent, chara);

    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/bg", kFindLeaf), bg);
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/bg", kFindAny), bg);
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/bg", kFindGroup), nullptr);
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0", kFindGroup), w0);
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/chara/face", kFindLeaf), face);
    EXPECT_EQ(FindNodeByPath(w0, "chara/face", kFindLeaf), face);
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/bg/x", kFindAny), nullptr);  // bg is no folder
    EXPECT_EQ(FindNodeByPath(root_.get(), "X/bg", kFindLeaf), nullptr);
    EXPECT_EQ(FindNodeByPath(root_.get(), "w0/bg", kFindLeaf), nullptr);  // names compare exactly
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/b", kFindLeaf), nullptr);
    EXPECT_EQ(FindNodeByPath(root_.get(), "W0/bg", 3), nullptr);  // no such mode
    EXPECT_EQ(FindNodeByPath(nullptr, "W0/bg", kFindLeaf), nullptr);
    EXPECT_EQ(ResolveParentPath("W0/chara/new", root_.get()), chara);
    EXPECT_EQ(ResolveParentPath("top", root_.get()), root_.get());
    EXPECT_TRUE(IsInSubtree(face, w0));
    EXPECT_TRUE(IsInSubtree(w0, w0));  // a node is in its own subtree
    EXPECT_FALSE(IsInSubtree(w0, face));
    EXPECT_FALSE(IsInSubtree(bg, chara));  // a sibling's subtree
    EXPECT_FALSE(IsInSubtree(nullptr, w0));
    ExpectNoReport();  // lookups never report
    ExpectConsistent(root_.get());
    ExpectConsistent(w0);
}

TEST_F(NamedTreeTest, NormalisedPathsFromTheTableFindTheirNodes) {
    // The way a command uses the trees: normalise against the folder, then
    // create or look up from the root, the group flag from the path form.
    Create(root_.get(), "W0", true, 1);
    std::string path;
    const int32_t kind = NormaliseNodePath(path, "menu/", "W0", false);
    ASSERT_EQ(kind, 1);
    NamedTreeNode* menu = Create(root_.get(), path, kind == 1, 0);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(NormaliseNodePath(path, "menu/../menu/./item", "W0", false), 0);
    NamedTreeNode* item = Create(root_.get(), path, false, 0);
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(NormaliseNodePath(path, ":W0/menu/item", "S0", false), 0);
    EXPECT_EQ(FindNodeByPath(root_.get(), path, kFindLeaf), item);
    ASSERT_EQ(NormaliseNodePath(path, "menu/", "W0", false), 1);
    EXPECT_EQ(FindNodeByPath(root_.get(), path, kFindGroup), menu);
    ExpectNoReport();
}

TEST_F(NamedTreeTest, MissingFolderIsReportedWith100230) {
    Create(root_.get(), "W0", true, 1);
    EXPECT_EQ(Create(root_.get(), "W0/missing/x", false, 0), nullptr);
    ExpectFatalReport("E100230 missing");
    ResetReports();
    EXPECT_EQ(ResolveParentPath("W1/x", root_.get()), nullptr);
    ExpectFatalReport("E100230 W1");
    EXPECT_EQ(root_->child_count, 1);
}

TEST_F(NamedTreeTest, NullPathIsReportedWith900020) {
    EXPECT_EQ(Create(root_.get(), std::string_view{}, false, 0), nullptr);
    ExpectFatalReport("E900020");
    EXPECT_EQ(root_->child_count, 0);
    EXPECT_EQ(root_->child_index, nullptr);
}

TEST_F(NamedTreeTest, EmptyNamesAreNamesToo) {
    // The task tree holds a group with the empty name beside "SYSTEM".
    NamedTreeNode* unnamed = Create(root_.get(), "", true, 100);
    NamedTreeNode* system = Create(root_.get(), "SYSTEM", false, 100);
    ASSERT_NE(unnamed, nullptr);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(unnamed->name_length, 0);
    NamedTreeNode* task = Create(root_.get(), "/t1", false, 0);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->parent, unnamed);
    EXPECT_EQ(FindNodeByPath(root_.get(), "/t1", kFindLeaf), task);
    EXPECT_EQ(FindNodeByPath(root_.get(), "", kFindGroup), unnamed);
    EXPECT_EQ(FindNodeByPath(root_.get(), "SYSTEM", kFindLeaf), system);
    EXPECT_EQ(ChildNames(root_.get()), (std::vector<std::string>{"", "SYSTEM"}));
}

TEST_F(NamedTreeTest, ShiftJisTrailBytesAreNeverSeparators) {
    // 0x81 0x2F is one character to the stepping: the '/' is a trail byte.
    NamedTreeNode* odd = Create(root_.get(), "\x81/", false, 0);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->parent, root_.get());
    EXPECT_EQ(odd->name, "\x81/");
    EXPECT_EQ(FindNodeByPath(root_.get(), "\x81/", kFindLeaf), odd);
    // A name ending in a lead byte: stepping never runs past the text.
    NamedTreeNode* tail = Create(root_.get(), "a\x81", false, 0);
    EXPECT_EQ(FindNodeByPath(root_.get(), "a\x81", kFindAny), tail);
}

TEST_F(NamedTreeTest, SiblingOrderByOrderKey) {
    NamedTreeNode* first = Create(root_.get(), "first", false, 5);
    NamedTreeNode* second = Create(root_.get(), "second", false, 5);
    NamedTreeNode* before = Create(root_.get(), "before", false, -1);
    EXPECT_EQ(ChildNames(root_.get()), (std::vector<std::string>{"before", "first", "second"}));
    EXPECT_EQ(first->order_key, 5);
    EXPECT_EQ(before->order_key, -1);

    // Moving keeps the index and puts an equal key after the existing ones.
    EXPECT_EQ(SetNodePriority(first, 5), 1);
    EXPECT_EQ(ChildNames(root_.get()), (std::vector<std::string>{"before", "second", "first"}));
    EXPECT_EQ(SetNodePriority(before, INT64_MAX), 1);
    EXPECT_EQ(ChildNames(root_.get()), (std::vector<std::string>{"second", "first", "before"}));
    EXPECT_EQ(SetNodePriority(second, INT64_MIN), 1);
    EXPECT_EQ(SetNodePriority(first, INT64_MIN), 1);
    EXPECT_EQ(ChildNames(root_.get()), (std::vector<std::string>{"second", "first", "before"}));
    EXPECT_EQ(SetNodePriority(nullptr, 1), 0);
    EXPECT_EQ(SetNodePriority(root_.get(), 1), 0);  // no parent
    ExpectConsistent(root_.get());
    EXPECT_EQ(FindNodeByPath(root_.get(), "first", kFindLeaf), first);
    EXPECT_EQ(FindNodeByPath(root_.get(), "second", kFindLeaf), second);
}

TEST_F(NamedTreeTest, IndexFindsTheMostRecentOfTwoSameNamedLeaves) {
    NamedTreeNode* older = Create(root_.get(), "x", false, 0);
    NamedTreeNode* newer = Create(root_.get(), "x", false, 0);
    ASSERT_NE(older, newer);
    EXPECT_EQ(FindNodeByPath(root_.get(), "x", kFindLeaf), newer);  // index: the newest first
    EXPECT_EQ(FindNodeByPath(root_.get(), "x", kFindAny), older);   // siblings: the first in order
    ExpectConsistent(root_.get());
    EXPECT_EQ(UnlinkTreeNode(newer), root_.get());
    EXPECT_EQ(FindNodeByPath(root_.get(), "x", kFindLeaf), older);
    FreeTreeNode(newer);
    ExpectConsistent(root_.get());
}

TEST_F(NamedTreeTest, GroupAndLeafKeysAreApart) {
    NamedTreeNode* group = Create(root_.get(), "g", true, 0);
    NamedTreeNode* leaf = Create(root_.get(), "g", false, 1);
    Create(root_.get(), "only_group", true, 0);
    Create(root_.get(), "only_leaf", false, 0);
    EXPECT_EQ(FindNodeByPath(root_.get(), "g", kFindLeaf), leaf);
    EXPECT_EQ(FindNodeByPath(root_.get(), "g", kFindGroup), group);
    EXPECT_EQ(FindNodeByPath(root_.get(), "g", kFindAny), group);  // first in sibling order
    EXPECT_EQ(FindNodeByPath(root_.get(), "only_group", kFindLeaf), nullptr);  // mode 0 never finds a group
    EXPECT_NE(FindNodeByPath(root_.get(), "only_group", kFindAny), nullptr);
    EXPECT_EQ(FindNodeByPath(root_.get(), "only_leaf", kFindGroup), nullptr);
    EXPECT_NE(FindNodeByPath(root_.get(), "only_leaf", kFindAny), nullptr);
    EXPECT_EQ(FindGroupChild(root_.get(), "only_leaf"), nullptr);
    EXPECT_EQ(FindGroupChild(root_.get(), "g"), group);
    // Leaves sit in buckets 0..127, groups in 128..255.
    const ChildIndex& index = *root_->child_index;
    EXPECT_EQ(index.bucket_start[128], 2);
    EXPECT_EQ(index.bucket_start[256], 4);
    ExpectConsistent(root_.get());
}

TEST_F(NamedTreeTest, UnlinkedNodesAreNotFoundAtTheRoots) {
    NamedTreeNode* leaf = Create(root_.get(), "leaf", false, 0);
    NamedTreeNode* group = Create(root_.get(), "group", true, 0);
    NamedTreeNode* other = Create(root_.get(), "other", false, 0);
    EXPECT_EQ(UnlinkTreeNode(leaf), root_.get());
    EXPECT_EQ(UnlinkTreeNode(group), root_.get());
    for (int32_t mode : {kFindLeaf, kFindGroup, kFindAny}) {
        EXPECT_EQ(FindNodeByPath(root_.get(), "leaf", mode), nullptr) << mode;
        EXPECT_EQ(FindNodeByPath(root_.get(), "group", mode), nullptr) << mode;
    }
    EXPECT_EQ(FindNodeByPath(root_.get(), "other", kFindLeaf), other);
    EXPECT_EQ(root_->child_count, 1);
    ExpectConsistent(root_.get());
    // The unlinked node keeps its parent pointer; a second unlink and a
    // priority change leave the tree alone.
    EXPECT_EQ(leaf->parent, root_.get());
    EXPECT_EQ(UnlinkTreeNode(leaf), root_.get());
    EXPECT_EQ(SetNodePriority(leaf, 3), 0);
    EXPECT_EQ(root_->child_count, 1);
    ExpectConsistent(root_.get());
    // The last child too; then the roots themselves and null.
    EXPECT_EQ(UnlinkTreeNode(other), root_.get());
    EXPECT_EQ(root_->first_child, nullptr);
    EXPECT_EQ(root_->last_child, nullptr);
    EXPECT_EQ(root_->child_count, 0);
    EXPECT_EQ(FindNodeByPath(root_.get(), "other", kFindAny), nullptr);
    EXPECT_EQ(UnlinkTreeNode(root_.get()), nullptr);
    EXPECT_EQ(UnlinkTreeNode(nullptr), nullptr);
    ExpectConsistent(root_.get());
    FreeTreeNode(leaf);
    FreeTreeNode(group);
    FreeTreeNode(other);
}

TEST_F(NamedTreeTest, UnlinkedNodeStillLeadsToItsOldNextSibling) {
    // A loop over the siblings may unlink the one it stands on and go on.
    for (const char* name : {"a", "b", "c", "d"}) Create(root_.get(), name, false, 0);
    std::vector<std::string> visited;
    for (NamedTreeNode* c = root_->first_child; c != nullptr;) {
        NamedTreeNode* next = c->next_sibling;
        visited.push_back(c->name);
        if (c->name == "b" || c->name == "d") {
            UnlinkTreeNode(c);
            EXPECT_EQ(c->next_sibling, next);  // kept by the unlink
            FreeTreeNode(c);
        }
        c = next;
    }
    EXPECT_EQ(visited, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(ChildNames(root_.get()), (std::vector<std::string>{"a", "c"}));
    ExpectConsistent(root_.get());
}

TEST_F(NamedTreeTest, FindNthChild) {
    NamedTreeNode* a = Create(root_.get(), "a", false, 0);
    NamedTreeNode* b = Create(root_.get(), "b", false, 1);
    NamedTreeNode* c = Create(root_.get(), "c", false, 2);
    EXPECT_EQ(FindNthChild(root_.get(), 0), a);
    EXPECT_EQ(FindNthChild(root_.get(), -5), a);
    EXPECT_EQ(FindNthChild(root_.get(), 1), a);
    EXPECT_EQ(FindNthChild(root_.get(), 2), b);
    EXPECT_EQ(FindNthChild(root_.get(), 3), c);
    EXPECT_EQ(FindNthChild(root_.get(), 4), nullptr);
    EXPECT_EQ(FindNthChild(root_.get(), INT64_MAX), nullptr);
    EXPECT_EQ(FindNthChild(a, 1), nullptr);
    EXPECT_EQ(FindNthChild(nullptr, 1), nullptr);
}

TEST_F(NamedTreeTest, FourThousandNinetySixChildrenAndNoMore) {
    NamedTreeNode* group = Create(root_.get(), "many", true, 0);
    char name[32];
    for (int i = 0; i < kMaxTreeChildren; ++i) {
        std::snprintf(name, sizeof name, "many/c%04d", i);
        ASSERT_NE(Create(root_.get(), name, (i & 1) != 0, i), nullptr) << i;
    }
    ExpectNoReport();
    EXPECT_EQ(group->child_count, 4096);
    ExpectConsistent(group);
    for (int i = 0; i < kMaxTreeChildren; ++i) {
        std::snprintf(name, sizeof name, "many/c%04d", i);
        NamedTreeNode* found = FindNodeByPath(root_.get(), name, (i & 1) != 0 ? kFindGroup : kFindLeaf);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found->order_key, i);
    }

    EXPECT_EQ(Create(root_.get(), "many/one_more", false, 0), nullptr);
    ExpectFatalReport(std::string(LookupErrorText(104110)));
    EXPECT_EQ(group->child_count, 4096);
    EXPECT_EQ(FindNodeByPath(root_.get(), "many/one_more", kFindAny), nullptr);
    ExpectConsistent(group);
    // InsertChildKey refuses too, writing nothing.
    NamedTreeNode stray;
    EXPECT_EQ(InsertChildKey(group, &stray), nullptr);
    EXPECT_EQ(group->child_index->entries, 4096);

    // Room again after one leaves.
    FreeTreeNode(FindNthChild(group, 100));
    ResetReports();
    EXPECT_NE(Create(root_.get(), "many/one_more", false, 0), nullptr);
    ExpectNoReport();
    ExpectConsistent(group);
}

TEST_F(NamedTreeTest, FileNamePart) {
    struct Case {
        const char* path;
        int32_t result;
        const char* out;
    } cases[] = {
        {"dir\\file.png", 1, "file.png"},
        {"dir/sub/file", 1, "file"},
        {"a/b\\c", 1, "c"},
        {"file", 0, ""},
        {"dir\\", 0, ""},
        {"", 0, ""},
        {"a\\\x83\x5C", 1, "\x83\x5C"},  // the trail byte 0x5C is no '\'
        {"\x83\x5C" "abc", 0, ""},
    };
    for (const Case& c : cases) {
        std::string out = "junk";
        EXPECT_EQ(FileNamePart(out, c.path), c.result) << c.path;
        EXPECT_EQ(out, c.out) << c.path;
    }
}

int g_freed_payloads = 0;
void CountingFree(void* payload) {
    ++g_freed_payloads;
    delete static_cast<int*>(payload);
}

TEST_F(NamedTreeTest, FreeingHandsEveryPayloadBack) {
    g_freed_payloads = 0;
    auto attach = [](NamedTreeNode* node) {
        node->payload = new int(7);
        node->payload_free = CountingFree;
    };
    NamedTreeNode* w0 = Create(root_.get(), "W0", true, 0);
    attach(w0);
    for (const char* path : {"W0/a", "W0/b", "W0/g/", "W0/g/x"}) {
        std::string normalised;
        const int32_t kind = NormaliseNodePath(normalised, path, "", false);
        NamedTreeNode* node = Create(root_.get(), normalised, kind == 1, 0);
        ASSERT_NE(node, nullptr) << path;
        attach(node);
    }
    Create(root_.get(), "W0/no_payload", false, 0);
    root_->payload = new int(1);
    root_->payload_free = CountingFree;

    FreeSubtree(FindNodeByPath(root_.get(), "W0/g", kFindGroup));
    EXPECT_EQ(g_freed_payloads, 1);
    ExpectConsistent(FindNodeByPath(root_.get(), "W0/g", kFindGroup));
    FreeTreeNode(FindNodeByPath(root_.get(), "W0/a", kFindLeaf));
    EXPECT_EQ(g_freed_payloads, 2);
    EXPECT_EQ(ChildNames(w0), (std::vector<std::string>{"b", "g", "no_payload"}));
    ExpectConsistent(w0);
    root_.reset();
    EXPECT_EQ(g_freed_payloads, 6);  // W0, b, g and the root
}

TEST_F(NamedTreeTest, DeepTreesAreFreed) {
    // Every group with a child carries a 48 KiB index, so not too deep.
    NamedTreeNode* node = root_.get();
    for (int depth = 0; depth < 300; ++depth) {
        node = Create(node, "d", true, 0);
        ASSERT_NE(node, nullptr);
    }
    root_.reset();  // ASan reports any leak
}

TEST_F(NamedTreeTest, SeededRandomOperationsKeepTheInvariants) {
    // Create, move and unlink at random under three groups; after each step
    // the lists and indexes must agree, and every live node be found.
    std::mt19937 random(1104);
    std::vector<NamedTreeNode*> groups;
    for (const char* name : {"A", "B", "C"}) groups.push_back(Create(root_.get(), name, true, 0));
    std::vector<NamedTreeNode*> live;
    for (int step = 0; step < 3000; ++step) {
        const int action = static_cast<int>(random() % 4);
        if (action <= 1 || live.empty()) {
            NamedTreeNode* parent = groups[random() % groups.size()];
            const std::string name = "n" + std::to_string(random() % 50);
            NamedTreeNode* node = Create(parent, name, random() % 3 == 0, static_cast<int64_t>(random() % 7) - 3);
            ASSERT_NE(node, nullptr);
            live.push_back(node);
        } else if (action == 2) {
            NamedTreeNode* node = live[random() % live.size()];
            EXPECT_EQ(SetNodePriority(node, static_cast<int64_t>(random() % 7) - 3), 1);
        } else {
            const size_t at = random() % live.size();
            FreeTreeNode(live[at]);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
        }
        for (NamedTreeNode* g : groups) ExpectConsistent(g);
        if (HasFailure()) return;
    }
    for (NamedTreeNode* node : live) {
        EXPECT_NE(FindNodeByPath(node->parent, node->name, node->group ? kFindGroup : kFindAny), nullptr);
        if (!node->group) {
            NamedTreeNode* found = FindNodeByPath(node->parent, node->name, kFindLeaf);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->name, node->name);
            EXPECT_EQ(found->group, 0);
        }
    }
    ExpectNoReport();
}

TEST_F(NamedTreeTest, AllocZeroed) {
    struct Record {
        int32_t a;
        uint8_t bytes[64];
        void* p;
        double d;
    };
    std::unique_ptr<Record> record = AllocZeroed<Record>();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->a, 0);
    EXPECT_EQ(record->p, nullptr);
    EXPECT_EQ(record->d, 0.0);
    EXPECT_TRUE(std::all_of(std::begin(record->bytes), std::end(record->bytes), [](uint8_t b) { return b == 0; }));
    std::unique_ptr<uint8_t[]> bytes = AllocZeroedBytes(4096);
    ASSERT_NE(bytes, nullptr);
    EXPECT_TRUE(std::all_of(bytes.get(), bytes.get() + 4096, [](uint8_t b) { return b == 0; }));
    std::unique_ptr<NamedTreeNode> node = AllocZeroed<NamedTreeNode>();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->key, 0u);
    EXPECT_EQ(node->child_index, nullptr);
}

}  // namespace
}  // namespace zk
