// CP932 <-> UTF-8. Bytes that do not convert are kept as they are (a name
// on disk that is not UTF-8 still opens).
#pragma once

#include <string>
#include <string_view>

namespace zk {

std::string Cp932ToUtf8(std::string_view cp932);
std::string Utf8ToCp932(std::string_view utf8);

// True when every byte is below 0x80 (the same text in both encodings).
bool IsAsciiOnly(std::string_view text);

}  // namespace zk
