// CP932 <-> UTF-8 through iconv. The engine keeps its text as CP932 bytes;
// these conversions run where text leaves or enters it (file names, window
// titles, dialogs, fonts) and for the engine's own texts written in UTF-8.
#include "base/text_encoding.h"
#include "base/never.h"

// base/ sits below platform/ and every layer (platform/ included) converts
// CP932 text through these functions; iconv is POSIX, called the same way on
// every system we build for, so no platform layer stands in for it.
#include <iconv.h>  // deliberate exception to system headers behind platform/: see above

#include <cerrno>
#include <cstdint>
#include <string>

namespace zk {
namespace {

// ---- CP932 <-> UTF-8 -------------------------------------------------------

// One iconv descriptor per thread and direction: a descriptor carries
// conversion state and must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts piece by piece: a byte that does not convert (EILSEQ), or an
    // incomplete character at the end (EINVAL), is copied as it is and the
    // conversion goes on after it.
    std::string Convert(std::string_view in) {
        // glibc always has CP932; without it names pass unchanged.
        if (ZK_NEVER(cd_ == reinterpret_cast<iconv_t>(-1))) return std::string(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(in.size() + in.size() / 2 + 8);
        char* src = const_cast<char*>(in.data());  // iconv's signature; it does not write
        size_t src_left = in.size();
        char buffer[512];
        while (src_left > 0) {
            char* dst = buffer;
            size_t dst_left = sizeof(buffer);
            size_t result = iconv(cd_, &src, &src_left, &dst, &dst_left);
            out.append(buffer, static_cast<size_t>(dst - buffer));
            if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
            if (ZK_NEVER(src_left == 0)) break;  // an error with nothing left
            out.push_back(*src);
            ++src;
            --src_left;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

Converter& ToUtf8Converter() {
    thread_local Converter converter("UTF-8", "CP932");
    return converter;
}

Converter& ToCp932Converter() {
    thread_local Converter converter("CP932", "UTF-8");
    return converter;
}

}  // namespace

bool IsAsciiOnly(std::string_view text) {
    for (char c : text)
        if (static_cast<uint8_t>(c) >= 0x80) return false;
    return true;
}

std::string Cp932ToUtf8(std::string_view cp932) {
    if (IsAsciiOnly(cp932)) return std::string(cp932);  // speed only: ASCII is the same in both
    return ToUtf8Converter().Convert(cp932);
}

std::string Utf8ToCp932(std::string_view utf8) {
    if (IsAsciiOnly(utf8)) return std::string(utf8);  // speed only
    return ToCp932Converter().Convert(utf8);
}

}  // namespace zk
