// Named object trees: the intrusive NamedTreeNode record that
// every script-named object (layers, tasks, sounds, menu items) hangs in,
// path normalisation, lookup in three modes, creation with a hashed child
// index, unlinking, ordering among siblings by a signed 64-bit order key,
// the n-th child, and the zero-filled allocation helpers.
//
// Texts are CP932 bytes; every path loop steps a Shift-JIS lead byte and its
// trail byte as one character. Tree paths use '/'.
//
// Ownership: a node made by CreateTreeNode belongs to its parent's subtree;
// a root made by CreateRootNode belongs to whoever made it. Nodes are freed
// only through FreeTreeNode / FreeSubtree (never `delete`), which also hand
// each payload to the node's payload_free. The sibling and parent links are
// raw, non-owning pointers.
//
// Threading: callers hold EngineLock; nothing here locks.
//
// Limits, and what happens beyond them:
// - kMaxTreeChildren children in one node's index: creating one more
//   reports 104110 "フォルダの数が多すぎます。" (fatal) and gives null.
// - kMaxTreePathBytes bytes for a joined path (folder, '/', name) and so for
//   every segment: NormaliseNodePath refuses a longer one, and so does
//   CreateTreeNode for a longer path, with 104111 "フォルダの階層が深すぎます。"
//   (fatal). Both codes have built-in texts in the error reporter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/error_codes.h"

namespace zk {

constexpr int32_t kMaxTreeChildren = 4096;
constexpr size_t kMaxTreePathBytes = 255;
constexpr uint32_t kTreeGroupKeyBit = 0x80000000u;
constexpr uint32_t kTreeHashMask = 0x7FFFFFFFu;
constexpr int kTreeIndexBuckets = 256;  // by the key's top byte

// FindNodeByPath modes: what the last segment must be.
constexpr int32_t kFindLeaf = 0;   // a leaf, through the child index
constexpr int32_t kFindGroup = 1;  // a group, by sibling scan
constexpr int32_t kFindAny = 2;    // either, by sibling scan

struct NamedTreeNode;

// The sorted hashed child index of a node. Sorted by unsigned key; bucket b
// (0..255) holds the keys whose top byte is b, so leaf keys sit in buckets
// 0..127 and group keys in 128..255. bucket_start[b] = entries in the
// buckets below b (so bucket_start[256] = entries); bucket_count[b] = entries
// in b. Among equal keys the most recently inserted comes first.
struct ChildIndex {
    std::array<uint32_t, kMaxTreeChildren> keys{};
    std::array<NamedTreeNode*, kMaxTreeChildren> nodes{};
    std::array<uint16_t, kTreeIndexBuckets + 1> bucket_start{};
    std::array<uint16_t, kTreeIndexBuckets + 1> bucket_count{};
    int32_t entries = 0;
};

struct NamedTreeNode {
    NamedTreeNode* first_child = nullptr;
    NamedTreeNode* last_child = nullptr;
    NamedTreeNode* prev_sibling = nullptr;
    NamedTreeNode* next_sibling = nullptr;
    NamedTreeNode* parent = nullptr;  // null for a root
    // The last path segment. Empty for a root, which has no name; the task
    // tree also has a group whose name is the empty text, so tell a root by
    // its null parent, not by its name.
    std::string name;
    int32_t name_length = 0;  // == name.size()
    uint32_t key = 0;         // group << 31 | (MurmurHash2(name, 0) & 0x7FFFFFFF)
    std::unique_ptr<ChildIndex> child_index;  // made with the first child, kept for life
    int32_t child_count = 0;  // children in the sibling list
    int64_t order_key = 0;    // siblings stand in ascending order key
    uint8_t group = 0;        // 1 = folder-like node, 0 = leaf
    // The node's record, owned by the subsystem of the tree (layers, tasks,
    // sounds, menus). payload_free (set by that subsystem; may be null)
    // receives a non-null payload when the node is freed.
    void* payload = nullptr;
    void (*payload_free)(void*) = nullptr;
};

// 1 for '.', '/' and ':', 0 otherwise. Zero until InitPathCharTable runs
// (InitEngineTables calls it at start-up; tests call it themselves).
extern std::array<uint8_t, 256> PathCharTable;
void InitPathCharTable();

// The key of a name: group bit 31 over the masked MurmurHash2.
uint32_t TreeNameKey(std::string_view name, bool group);

// out = the full path from the tree root without a leading '/'.
// Returns 0 (names a leaf), 1 (names a group: the name ended with '/', which
// is removed) or -1 after a fatal report (100242 for a space when spaces are
// not allowed, 104111 for a joined path over kMaxTreePathBytes); out is
// left empty on -1.
int32_t NormaliseNodePath(std::string& out, std::string_view name, std::string_view folder, bool allow_spaces);

// Finds a node below `start` (no message; null when missing). Mode kFindLeaf
// finds only leaves (never a group), through the index; kFindGroup only
// groups, kFindAny either, by sibling scan (the first in sibling order).
NamedTreeNode* FindNodeByPath(NamedTreeNode* start, std::string_view path, int32_t mode);

// The node that is to hold the path's last segment: every segment that ends
// with '/' must be an existing group. A missing one reports 100230 (fatal)
// with the segment's text and gives null.
NamedTreeNode* ResolveParentPath(std::string_view path, NamedTreeNode* start);

// Creates a node for `path` below `parent` (the path's folders must exist)
// with the given group flag and order key, inserted in the index and among
// the siblings. Does not look for an existing node of the same name. A null
// path (path.data() == nullptr) reports 900020; missing memory 100010; a
// path over kMaxTreePathBytes 104111; a full index 104110; all fatal, and
// each gives null with nothing changed.
NamedTreeNode* CreateTreeNode(NamedTreeNode* parent, std::string_view path, bool group, int64_t order_key);

// An unnamed root node (leaf flag, order 0, no payload), or null after
// reporting 100010 (fatal). Free it with FreeTreeNode.
NamedTreeNode* CreateRootNode();

// Takes the node out of its parent's index and sibling list and returns the
// former parent (null for a null node or a root). The node is not freed; its
// own sibling and parent pointers keep their old values, so a loop over the
// siblings may go on from it. Unlinking a node that is no longer linked
// changes nothing.
NamedTreeNode* UnlinkTreeNode(NamedTreeNode* node);

// Moves the node among its siblings to the place of the new order key.
// 1, or 0 when the node or its parent is null (or the node is not linked).
int32_t SetNodePriority(NamedTreeNode* node, int64_t order_key);

// The steps that the functions above are made of; each returns the parent.
// UnlinkChild leaves a child that is not in the parent's list alone.
NamedTreeNode* UnlinkChild(NamedTreeNode* parent, NamedTreeNode* child);
NamedTreeNode* InsertChildByPriority(NamedTreeNode* parent, NamedTreeNode* child, int64_t order_key);
// Needs the parent's index (EnsureChildIndex) with room: otherwise inserts
// nothing and returns null.
NamedTreeNode* InsertChildKey(NamedTreeNode* parent, NamedTreeNode* child);
NamedTreeNode* RemoveChildKey(NamedTreeNode* parent, NamedTreeNode* child);

// Makes the node's child index when it has none. False when out of memory
// (nothing reported).
bool EnsureChildIndex(NamedTreeNode* node);

// The n-th child in sibling order, 1-based; n <= 1 gives the first child;
// null beyond the last.
NamedTreeNode* FindNthChild(NamedTreeNode* node, int64_t n);

// The group child named `segment` (no '/'), the first in sibling order.
NamedTreeNode* FindGroupChild(NamedTreeNode* node, std::string_view segment);

// True when `node` is `root` or one of its descendants (by parent links).
bool IsInSubtree(const NamedTreeNode* node, const NamedTreeNode* root);

// 1 and out = the text after the last '\' or '/' (double-byte characters
// skipped); 0 and out empty when there is none or it is the last character.
int32_t FileNamePart(std::string& out, std::string_view path);

// Frees the node with all its descendants, after unlinking it from its
// parent when it is still linked. Each non-null payload goes to its node's
// payload_free. A null node is ignored.
void FreeTreeNode(NamedTreeNode* node);
// Frees every descendant of the node; the node stays, with no children and
// an empty index.
void FreeSubtree(NamedTreeNode* node);

struct TreeNodeDeleter {
    void operator()(NamedTreeNode* node) const { FreeTreeNode(node); }
};
using TreeNodePtr = std::unique_ptr<NamedTreeNode, TreeNodeDeleter>;

// The engine's zero-filled allocator, typed: a value-initialised T (every
// member zero or its default initialiser), or null when the heap is
// exhausted. Nothing is reported; callers report 100010.
template <class T>
std::unique_ptr<T> AllocZeroed() {
    static_assert(std::is_default_constructible_v<T>);
    return std::unique_ptr<T>(new (std::nothrow) T());
}
// `count` zero bytes, or null when the heap is exhausted.
std::unique_ptr<uint8_t[]> AllocZeroedBytes(size_t count);

}  // namespace zk
