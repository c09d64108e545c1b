// Bounded printf-style formatting. Error texts come from game files and are
// written by others, so a format is never handed to printf: only the
// arguments actually supplied are used, a conversion without an argument
// prints nothing, a conversion whose argument has the wrong kind prints it
// as best it can, and the output is cut at the given limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace zk {

using FormatArg = std::variant<int64_t, uint64_t, double, std::string_view>;

// Supported conversions: %d %i %u %x %X %o %c %s %f %F %e %E %g %G %p %%, with flags
// (- + space 0 #), width and precision (numbers or '*', taking an integer
// argument) and the length modifiers h hh l ll L I I32 I64 j z t (ignored
// beyond parsing). Anything else is copied as written, using no argument.
// `limit` counts bytes of the result (without a terminator); the result is
// never longer, and the cut never splits a double-byte character. %s prints
// a text or a number; a numeric conversion given a text prints nothing.
// format.cpp lists every rule for mismatched kinds.
std::string FormatBounded(std::string_view format, std::span<const FormatArg> args, size_t limit = 1023);
inline std::string FormatBounded(std::string_view format, std::initializer_list<FormatArg> args,
                                 size_t limit = 1023) {
    return FormatBounded(format, std::span<const FormatArg>(args.begin(), args.size()), limit);
}

// The length of the longest prefix of `text` of at most `limit` bytes that
// does not end in the first half of a double-byte (CP932) character.
size_t CutLength(std::string_view text, size_t limit);

}  // namespace zk
