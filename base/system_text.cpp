#include "base/system_text.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include "base/text_encoding.h"

namespace zk {

std::string_view Sjis(const char* utf8_literal) {
    static std::mutex mutex;
    static std::unordered_map<const char*, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(utf8_literal);
    if (it == cache.end()) it = cache.emplace(utf8_literal, Utf8ToCp932(utf8_literal)).first;
    return it->second;  // node-based map: the string never moves
}

}  // namespace zk
