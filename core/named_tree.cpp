#include "core/named_tree.h"

#include <algorithm>
#include <vector>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "base/hashes.h"
#include "base/sjis.h"
#include "base/never.h"

namespace zk {

std::array<uint8_t, 256> PathCharTable{};

void InitPathCharTable() {
    PathCharTable.fill(0);
    PathCharTable[static_cast<uint8_t>('.')] = 1;
    PathCharTable[static_cast<uint8_t>('/')] = 1;
    PathCharTable[static_cast<uint8_t>(':')] = 1;
}

uint32_t TreeNameKey(std::string_view name, bool group) {
    return (group ? kTreeGroupKeyBit : 0u) | (MurmurHash2(name, 0) & kTreeHashMask);
}

namespace {

// A single-byte '/' at text[i] (never the trail byte of a double-byte
// character: the callers step by characters).
bool IsSlashChar(std::string_view text, size_t i, size_t char_length) {
    return char_length == 1 && text[i] == '/';
}

// Walks the '/'-terminated segments of `path` from `start` through group
// children. Returns the node reached and sets `last` to the text after the
// last '/'; a missing segment gives null, after 100230 when `report`.
NamedTreeNode* WalkFolders(NamedTreeNode* start, std::string_view path, std::string_view& last, bool report) {
    NamedTreeNode* node = start;
    // For speed only: without any 0x2F byte there is no separator to step to.
    if (path.find('/') == std::string_view::npos) {
        last = path;
        return node;
    }
    size_t segment_begin = 0;
    for (size_t i = 0; i < path.size();) {
        const size_t n = SjisCharLength(path, i);
        if (IsSlashChar(path, i, n)) {
            const std::string_view segment = path.substr(segment_begin, i - segment_begin);
            NamedTreeNode* group = FindGroupChild(node, segment);
            if (group == nullptr) {
                if (report) ReportScriptErrorF(kErrTreeFolderMissing, true, {FormatArg(segment)});
                return nullptr;
            }
            node = group;
            segment_begin = i + 1;
        }
        i += n;
    }
    last = path.substr(segment_begin);
    return node;
}

bool NameEquals(const NamedTreeNode* node, std::string_view name) {
    return static_cast<size_t>(node->name_length) == name.size() && std::string_view(node->name) == name;
}

// Is `child` in `parent`'s sibling list right now? O(1): a linked child is
// either the first child or its predecessor's successor; after UnlinkChild
// neither holds, since nothing in the list points at it any more.
bool IsLinkedChild(const NamedTreeNode* parent, const NamedTreeNode* child) {
    if (parent == nullptr || child == nullptr || child->parent != parent) return false;
    if (child->prev_sibling != nullptr) return child->prev_sibling->next_sibling == child;
    return parent->first_child == child;
}

// Frees a node that is no longer reachable from any list, with all its
// descendants. Iterative, so a deep tree cannot exhaust the stack.
void DeleteDetached(NamedTreeNode* top) {
    NamedTreeNode* node = top;
    while (node != nullptr) {
        if (NamedTreeNode* child = node->first_child; child != nullptr) {
            // Detach the first child and descend into it; its parent pointer
            // (set when it was inserted) brings us back here.
            node->first_child = child->next_sibling;
            child->parent = node;
            node = child;
            continue;
        }
        NamedTreeNode* up = node == top ? nullptr : node->parent;
        if (Hooks().tree_node_freed != nullptr) Hooks().tree_node_freed(node);
        if (node->payload != nullptr && node->payload_free != nullptr) node->payload_free(node->payload);
        delete node;
        node = up;
    }
}

}  // namespace

int32_t NormaliseNodePath(std::string& out, std::string_view name, std::string_view folder, bool allow_spaces) {
    out.clear();

    // 1. No '.', '/' or ':' in the name: a plain join, spaces not tested.
    bool has_path_char = false;
    for (size_t i = 0; i < name.size();) {
        const size_t n = SjisCharLength(name, i);
        if (n == 1 && PathCharTable[static_cast<uint8_t>(name[i])] != 0) {
            has_path_char = true;
            break;
        }
        i += n;
    }
    if (!has_path_char) {
        const size_t joined_length = folder.empty() ? name.size() : folder.size() + 1 + name.size();
        if (joined_length > kMaxTreePathBytes) {
            ReportScriptError(kErrTreePathTooLong, true);
            return -1;
        }
        if (!folder.empty()) {
            out.append(folder);
            out.push_back('/');
        }
        out.append(name);
        return 0;
    }

    // 2. The joined text. ':' makes the name absolute; a leading '/' does not.
    std::string_view head;  // the folder, or nothing for an absolute name
    std::string_view rest = name;
    if (rest.front() == ':') {
        rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    } else {
        if (rest.front() == '/') rest.remove_prefix(1);
        head = folder;
    }
    const size_t joined_length = head.empty() ? rest.size() : head.size() + 1 + rest.size();
    if (joined_length == 0) return 0;
    // Every segment lies inside the joined text, so this bounds them too.
    if (joined_length > kMaxTreePathBytes) {
        ReportScriptError(kErrTreePathTooLong, true);
        return -1;
    }
    std::string joined;
    joined.reserve(joined_length);
    if (!head.empty()) {
        joined.append(head);
        joined.push_back('/');
    }
    joined.append(rest);

    // 3. Segment by segment. For each segment copied into the result we keep
    // where the '/' run before it begins, so that "../" can take both away.
    std::vector<size_t> run_before_segment;
    constexpr size_t kNoRun = std::string::npos;
    size_t trailing_run = kNoRun;  // where the result's trailing '/' run begins
    const std::string_view text = joined;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '/') {  // a '/' here always starts a character
            if (trailing_run == kNoRun) trailing_run = out.size();
            while (i < text.size() && text[i] == '/') out.push_back(text[i++]);
            continue;
        }
        const size_t begin = i;
        bool has_slash = false;
        while (i < text.size()) {
            const size_t n = SjisCharLength(text, i);
            if (IsSlashChar(text, i, n)) {
                has_slash = true;
                ++i;
                break;
            }
            if (n == 1 && text[i] == ' ' && !allow_spaces) {
                out.clear();
                ReportScriptErrorF(kErrTreeNameSpace, true, {FormatArg(text)});
                return -1;
            }
            i += n;
        }
        const std::string_view segment = text.substr(begin, i - begin);
        const std::string_view body = has_slash ? segment.substr(0, segment.size() - 1) : segment;
        if (has_slash && body == ".") continue;  // "./" is dropped
        if (has_slash && body == "..") {
            if (run_before_segment.empty()) {
                out.clear();  // at the root
                trailing_run = kNoRun;
            } else {
                out.resize(run_before_segment.back());
                run_before_segment.pop_back();
                if (out.empty()) {
                    trailing_run = kNoRun;
                } else {
                    trailing_run = out.size();
                    out.push_back('/');
                }
            }
            continue;
        }
        run_before_segment.push_back(trailing_run == kNoRun ? out.size() : trailing_run);
        out.append(segment);
        trailing_run = has_slash ? out.size() - 1 : kNoRun;
    }

    // 4. A trailing '/' names a group.
    if (!out.empty() && out.back() == '/') {
        out.pop_back();
        return 1;
    }
    return 0;
}

NamedTreeNode* FindGroupChild(NamedTreeNode* node, std::string_view segment) {
    if (node == nullptr) return nullptr;
    const uint32_t key = TreeNameKey(segment, true);
    for (NamedTreeNode* child = node->first_child; child != nullptr; child = child->next_sibling) {
        if (child->key == key && NameEquals(child, segment)) return child;
    }
    return nullptr;
}

NamedTreeNode* FindNodeByPath(NamedTreeNode* start, std::string_view path, int32_t mode) {
    if (start == nullptr) return nullptr;
    std::string_view last;
    NamedTreeNode* node = WalkFolders(start, path, last, false);
    if (node == nullptr) return nullptr;
    const uint32_t h = MurmurHash2(last, 0) & kTreeHashMask;

    if (mode == kFindGroup || mode == kFindAny) {
        for (NamedTreeNode* child = node->first_child; child != nullptr; child = child->next_sibling) {
            const bool key_matches =
                mode == kFindGroup ? child->key == (h | kTreeGroupKeyBit) : (child->key & kTreeHashMask) == h;
            if (key_matches && NameEquals(child, last)) return child;
        }
        return nullptr;
    }
    if (mode != kFindLeaf) return nullptr;

    const ChildIndex* index = node->child_index.get();
    if (index == nullptr || index->entries <= 0) return nullptr;
    const size_t bucket = h >> 24;
    const uint32_t* begin = index->keys.data() + index->bucket_start[bucket];
    const uint32_t* end = begin + index->bucket_count[bucket];
    // Binary search for speed only: the bucket is sorted, so the first key
    // equal to h is the one a scan from the bucket's start would meet first.
    for (const uint32_t* k = std::lower_bound(begin, end, h); k != end && *k == h; ++k) {
        NamedTreeNode* candidate = index->nodes[static_cast<size_t>(k - index->keys.data())];
        if (NameEquals(candidate, last)) return candidate;
    }
    return nullptr;
}

NamedTreeNode* ResolveParentPath(std::string_view path, NamedTreeNode* start) {
    if (ZK_NEVER(start == nullptr)) return nullptr;  // every tree has its root
    std::string_view last;
    return WalkFolders(start, path, last, true);
}

bool EnsureChildIndex(NamedTreeNode* node) {
    if (node->child_index != nullptr) return true;
    node->child_index = AllocZeroed<ChildIndex>();
    return node->child_index != nullptr;
}

NamedTreeNode* CreateTreeNode(NamedTreeNode* parent, std::string_view path, bool group, int64_t order_key) {
    if (path.data() == nullptr) {
        ReportEngineError(kErrNullTreePath, true);
        return nullptr;
    }
    if (path.size() > kMaxTreePathBytes) {
        ReportScriptError(kErrTreePathTooLong, true);
        return nullptr;
    }
    if (ZK_NEVER(parent == nullptr)) return nullptr;  // callers pass a tree's root or a found node
    std::string_view name;
    parent = WalkFolders(parent, path, name, true);
    if (parent == nullptr) return nullptr;
    if (parent->child_index != nullptr && parent->child_index->entries >= kMaxTreeChildren) {
        ReportScriptError(kErrTreeTooManyChildren, true);
        return nullptr;
    }

    std::unique_ptr<NamedTreeNode> node = AllocZeroed<NamedTreeNode>();
    if (node == nullptr) {
        ReportEngineError(kErrOutOfMemory, true);
        return nullptr;
    }
    try {
        node->name.assign(name);
    } catch (const std::bad_alloc&) {
        ReportEngineError(kErrOutOfMemory, true);
        return nullptr;
    }
    node->name_length = static_cast<int32_t>(name.size());
    node->key = TreeNameKey(name, group);
    node->group = group ? 1 : 0;
    node->order_key = order_key;
    if (!EnsureChildIndex(parent)) {
        ReportEngineError(kErrOutOfMemory, true);
        return nullptr;
    }

    NamedTreeNode* created = node.release();  // from here on owned by the parent's subtree
    InsertChildKey(parent, created);  // cannot fail: index present, room checked above
    InsertChildByPriority(parent, created, order_key);
    return created;
}

NamedTreeNode* CreateRootNode() {
    std::unique_ptr<NamedTreeNode> root = AllocZeroed<NamedTreeNode>();
    if (root == nullptr) {
        ReportEngineError(kErrOutOfMemory, true);
        return nullptr;
    }
    return root.release();
}

NamedTreeNode* InsertChildKey(NamedTreeNode* parent, NamedTreeNode* child) {
    ChildIndex* index = parent->child_index.get();
    if (index == nullptr || index->entries >= kMaxTreeChildren) return nullptr;
    const uint32_t key = child->key;
    const size_t bucket = key >> 24;
    const size_t begin = index->bucket_start[bucket];
    const size_t end = begin + index->bucket_count[bucket];
    // The first entry >= key: among equal keys the new one goes first.
    const size_t at = static_cast<size_t>(
        std::lower_bound(index->keys.begin() + begin, index->keys.begin() + end, key) - index->keys.begin());
    const size_t entries = static_cast<size_t>(index->entries);
    std::copy_backward(index->keys.begin() + at, index->keys.begin() + entries, index->keys.begin() + entries + 1);
    std::copy_backward(index->nodes.begin() + at, index->nodes.begin() + entries, index->nodes.begin() + entries + 1);
    index->keys[at] = key;
    index->nodes[at] = child;
    ++index->bucket_count[bucket];
    for (size_t j = bucket + 1; j <= kTreeIndexBuckets; ++j) ++index->bucket_start[j];
    ++index->entries;
    return parent;
}

NamedTreeNode* RemoveChildKey(NamedTreeNode* parent, NamedTreeNode* child) {
    ChildIndex* index = parent->child_index.get();
    if (index == nullptr) return parent;
    const uint32_t key = child->key;
    const size_t bucket = key >> 24;
    const size_t begin = index->bucket_start[bucket];
    const size_t end = begin + index->bucket_count[bucket];
    for (size_t at = begin; at < end; ++at) {
        if (index->keys[at] != key || index->nodes[at] != child) continue;
        const size_t entries = static_cast<size_t>(index->entries);
        std::copy(index->keys.begin() + at + 1, index->keys.begin() + entries, index->keys.begin() + at);
        std::copy(index->nodes.begin() + at + 1, index->nodes.begin() + entries, index->nodes.begin() + at);
        index->nodes[entries - 1] = nullptr;
        index->keys[entries - 1] = 0;
        --index->bucket_count[bucket];
        for (size_t j = bucket + 1; j <= kTreeIndexBuckets; ++j) --index->bucket_start[j];
        --index->entries;
        break;
    }
    return parent;
}

NamedTreeNode* UnlinkChild(NamedTreeNode* parent, NamedTreeNode* child) {
    // A child that is not (any longer) in the list is left alone, so a
    // second unlink cannot corrupt the list or the count.
    if (!IsLinkedChild(parent, child)) return parent;
    if (parent->child_count == 1) {
        parent->first_child = nullptr;
        parent->last_child = nullptr;
    } else {
        if (parent->first_child == child) parent->first_child = child->next_sibling;
        if (parent->last_child == child) parent->last_child = child->prev_sibling;
        if (child->prev_sibling != nullptr) child->prev_sibling->next_sibling = child->next_sibling;
        if (child->next_sibling != nullptr) child->next_sibling->prev_sibling = child->prev_sibling;
    }
    --parent->child_count;
    return parent;
}

NamedTreeNode* InsertChildByPriority(NamedTreeNode* parent, NamedTreeNode* child, int64_t order_key) {
    child->parent = parent;
    NamedTreeNode* after = parent->first_child;
    while (after != nullptr && after->order_key <= order_key) after = after->next_sibling;
    if (after != nullptr) {  // before the first sibling with a greater key
        child->next_sibling = after;
        child->prev_sibling = after->prev_sibling;
        if (after->prev_sibling != nullptr) {
            after->prev_sibling->next_sibling = child;
        } else {
            parent->first_child = child;
        }
        after->prev_sibling = child;
    } else {  // at the end, also after equal keys
        child->next_sibling = nullptr;
        child->prev_sibling = parent->last_child;
        if (parent->last_child != nullptr) {
            parent->last_child->next_sibling = child;
        } else {
            parent->first_child = child;
        }
        parent->last_child = child;
    }
    child->order_key = order_key;
    ++parent->child_count;
    return parent;
}

NamedTreeNode* UnlinkTreeNode(NamedTreeNode* node) {
    if (node == nullptr) return nullptr;
    NamedTreeNode* parent = node->parent;
    if (parent == nullptr) return nullptr;  // a root
    if (!IsLinkedChild(parent, node)) return parent;  // already unlinked: nothing to do
    RemoveChildKey(parent, node);
    UnlinkChild(parent, node);
    return parent;
}

int32_t SetNodePriority(NamedTreeNode* node, int64_t order_key) {
    if (node == nullptr || node->parent == nullptr) return 0;
    NamedTreeNode* parent = node->parent;
    // An unlinked node (stale parent pointer) would otherwise be put back
    // into the sibling list without its index entry.
    if (!IsLinkedChild(parent, node)) return 0;
    UnlinkChild(parent, node);
    InsertChildByPriority(parent, node, order_key);
    return 1;
}

NamedTreeNode* FindNthChild(NamedTreeNode* node, int64_t n) {
    if (node == nullptr) return nullptr;
    NamedTreeNode* child = node->first_child;
    for (int64_t step = 1; step < n && child != nullptr; ++step) child = child->next_sibling;
    return child;
}

bool IsInSubtree(const NamedTreeNode* node, const NamedTreeNode* root) {
    for (const NamedTreeNode* n = node; n != nullptr; n = n->parent)
        if (n == root) return true;
    return false;
}

int32_t FileNamePart(std::string& out, std::string_view path) {
    out.clear();
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < path.size();) {
        const size_t n = SjisCharLength(path, i);
        if (n == 1 && (path[i] == '\\' || path[i] == '/')) last = i;
        i += n;
    }
    if (last == std::string_view::npos || last + 1 >= path.size()) return 0;
    out.assign(path.substr(last + 1));
    return 1;
}

void FreeTreeNode(NamedTreeNode* node) {
    if (node == nullptr) return;
    UnlinkTreeNode(node);
    DeleteDetached(node);
}

void FreeSubtree(NamedTreeNode* node) {
    if (node == nullptr) return;
    NamedTreeNode* child = node->first_child;
    node->first_child = nullptr;
    node->last_child = nullptr;
    node->child_count = 0;
    if (node->child_index != nullptr) {
        node->child_index->keys.fill(0);
        node->child_index->nodes.fill(nullptr);
        node->child_index->bucket_start.fill(0);
        node->child_index->bucket_count.fill(0);
        node->child_index->entries = 0;
    }
    while (child != nullptr) {
        NamedTreeNode* next = child->next_sibling;
        DeleteDetached(child);
        child = next;
    }
}

std::unique_ptr<uint8_t[]> AllocZeroedBytes(size_t count) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[count]());
}

}  // namespace zk
