// The engine's own texts are written in UTF-8 in the source and handled as
// CP932 bytes at run time. Sjis() converts a literal once and keeps the
// result for the life of the process.
#pragma once

#include <string_view>

namespace zk {

// `utf8_literal` must have static storage (a string literal): the result is
// cached by its address.
std::string_view Sjis(const char* utf8_literal);

}  // namespace zk
