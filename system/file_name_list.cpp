#include "system/file_name_list.h"

#include <algorithm>
#include <mutex>

namespace zk {
namespace {

std::mutex list_mutex;
std::vector<std::string> names;  // guarded by list_mutex

}  // namespace

uint32_t ReplaceFileNameList(const std::vector<std::string>& new_names, size_t limit) {
    std::vector<std::string> taken;
    taken.reserve(std::min(new_names.size(), limit));
    for (const std::string& name : new_names) {
        if (taken.size() >= limit) break;
        if (name.size() > kMaxFileNameBytes) continue;
        taken.push_back(name);
    }
    std::lock_guard lock(list_mutex);
    names = std::move(taken);
    return static_cast<uint32_t>(names.size());
}

uint32_t FileNameCount() {
    std::lock_guard lock(list_mutex);
    return static_cast<uint32_t>(names.size());
}

void LowerFileNameCount(uint32_t count) {
    std::lock_guard lock(list_mutex);
    if (count < names.size()) names.resize(count);
}

std::optional<std::string> FileNameAt(int64_t index) {
    std::lock_guard lock(list_mutex);
    if (index < 0 || static_cast<uint64_t>(index) >= names.size()) return std::nullopt;
    return names[static_cast<size_t>(index)];
}

std::vector<std::string> FileNameListSnapshot() {
    std::lock_guard lock(list_mutex);
    return names;
}

void ResetFileNameList() {
    std::lock_guard lock(list_mutex);
    names.clear();
}

}  // namespace zk
