#include "system/preload_groups.h"

#include <array>

#include "storage/asset_name.h"
#include "storage/file_source.h"

namespace zk {

namespace {

std::array<PreloadGroup, kPreloadGroupCount>& Groups() {
    static std::array<PreloadGroup, kPreloadGroupCount> groups;
    return groups;
}

}  // namespace

const PreloadGroup* FindPreloadGroup(int group) {
    if (group < 0 || group >= kPreloadGroupCount) return nullptr;
    return &Groups()[static_cast<size_t>(group)];
}

void PreloadFile(int group, const std::string& name, uint8_t mode) {
    if (group < 0 || group >= kPreloadGroupCount) return;
    FileSource source;
    std::string out_name;
    std::string given = name;
    if (ResolveAssetName(source, out_name, given, mode) != 0) return;
    if (out_name.size() > kMaxPreloadName) return;
    if (source.state < 1 || source.state > 3) return;
    if (LoadFromSource(source, out_name) != 0) return;
    PreloadGroup& target = Groups()[static_cast<size_t>(group)];
    if (target.entries.size() >= kPreloadGroupCapacity) {
        target.total -= target.entries.front().data.size();
        target.entries.erase(target.entries.begin());
    }
    target.total += source.data.size();
    target.entries.push_back({std::move(out_name), std::move(source.data), source.kind});
}

void ResetPreloadGroups() {
    for (PreloadGroup& group : Groups()) group = PreloadGroup{};
}

}  // namespace zk
