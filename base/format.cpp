// Bounded printf-style formatting (format.h). The format is untrusted: it is
// parsed here piece by piece, and only numbers are ever given to snprintf,
// through a format rebuilt from validated flags and a clamped precision.
//
// Kinds, when a conversion's argument is not of the kind it expects:
// - %s with a number prints the number (integers in decimal, doubles as %g);
// - a numeric conversion (%d %i %u %x %X %o %c %p %f %e %g ...) with a text
//   argument prints nothing at all (no padding either) and uses the argument
//   up, so the following conversions keep their places;
// - %d with a double takes it truncated toward zero (saturated, NaN is 0);
//   %f with an integer takes its value as a double.
// A conversion without an argument left prints nothing (no padding either);
// a '*' width or precision without an argument counts as 0.
//
// Where it differs from a plain C vsprintf, each on purpose:
// - integers are 64-bit, so a value is printed whole; but an unsigned
//   conversion (%u %x %X %o %p) of a negative value that fits in 32 bits
//   prints its 32-bit pattern (-1 with %x gives ffffffff): most values the
//   error texts print are 32-bit, and the texts are written for that;
// - %c with 0 prints nothing (a NUL would end the text there anyway);
// - %p prints uppercase hex with at least 8 digits, like the MSVC runtime;
// - inf and nan print as glibc prints them;
// - widths and precisions are clamped (kMaxField; kMaxFloatPrecision for
//   the floating conversions), which changes nothing that fits in `limit`;
// - the cut at `limit` never splits a double-byte (CP932) character.
//
// '%' (0x25) can never be a CP932 trail byte (those are 0x40-0xFC), so the
// format is scanned byte by byte without losing a character's two halves.
#include "base/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/sjis.h"
#include "base/never.h"

namespace zk {

namespace {

constexpr size_t kMaxField = size_t{1} << 20;
constexpr int kMaxFloatPrecision = 512;

// Appends while below a cap of limit + 1 bytes: the one byte beyond the
// limit tells the final cut whether the last character is whole.
class BoundedOutput {
public:
    explicit BoundedOutput(size_t limit)
        : limit_(limit), cap_(limit < std::numeric_limits<size_t>::max() ? limit + 1 : limit) {}

    bool Full() const { return text_.size() >= cap_; }
    size_t Cap() const { return cap_; }

    void Append(std::string_view part) {
        size_t room = cap_ - text_.size();
        text_.append(part.substr(0, room));
    }
    void Append(char c) {
        if (!Full()) text_.push_back(c);
    }
    void Fill(size_t count, char c) {
        size_t room = cap_ - text_.size();
        text_.append(std::min(count, room), c);
    }

    std::string Finish() {
        text_.resize(CutLength(text_, limit_));
        return std::move(text_);
    }

private:
    size_t limit_;
    size_t cap_;
    std::string text_;
};

struct ConversionSpec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alternate = false;
    bool width_star = false;
    size_t width = 0;
    bool precision_star = false;
    bool has_precision = false;
    size_t precision = 0;
    char conversion = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t ParseNumber(std::string_view format, size_t& i) {
    size_t value = 0;
    while (i < format.size() && IsDigit(format[i])) {
        value = std::min(value * 10 + static_cast<size_t>(format[i] - '0'), kMaxField);
        ++i;
    }
    return value;
}

// Skips a length modifier at i (h hh l ll L I I32 I64 j z t); they change
// nothing here since every argument arrives at its full width.
void SkipLengthModifier(std::string_view format, size_t& i) {
    auto rest = format.substr(i);
    for (std::string_view modifier : {"hh", "ll", "I64", "I32", "h", "l", "L", "I", "j", "z", "t"}) {
        if (rest.starts_with(modifier)) {
            i += modifier.size();
            return;
        }
    }
}

bool IsKnownConversion(char c) {
    switch (c) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c': case 'p':
        case 's': case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case '%':
            return true;
        default:
            return false;
    }
}

// Parses the conversion specification after the '%' at `start`. Returns
// false when the format ends first or the conversion is unknown; `end` is
// then the position after the last byte looked at.
bool ParseSpec(std::string_view format, size_t start, ConversionSpec& spec, size_t& end) {
    size_t i = start + 1;
    for (; i < format.size(); ++i) {
        char c = format[i];
        if (c == '-') spec.left = true;
        else if (c == '+') spec.plus = true;
        else if (c == ' ') spec.space = true;
        else if (c == '0') spec.zero = true;
        else if (c == '#') spec.alternate = true;
        else break;
    }
    if (i < format.size() && format[i] == '*') {
        spec.width_star = true;
        ++i;
    } else {
        spec.width = ParseNumber(format, i);
    }
    if (i < format.size() && format[i] == '.') {
        ++i;
        spec.has_precision = true;
        if (i < format.size() && format[i] == '*') {
            spec.precision_star = true;
            ++i;
        } else {
            spec.precision = ParseNumber(format, i);  // "." alone is precision 0
        }
    }
    SkipLengthModifier(format, i);
    if (i >= format.size()) {
        end = format.size();
        return false;
    }
    spec.conversion = format[i];
    end = i + 1;
    return IsKnownConversion(spec.conversion);
}

int64_t SaturatingInteger(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// An argument as a signed magnitude. False for a text.
bool AsSigned(const FormatArg& arg, bool& negative, uint64_t& magnitude) {
    int64_t signed_value = 0;
    if (const auto* u = std::get_if<uint64_t>(&arg)) {
        negative = false;
        magnitude = *u;
        return true;
    }
    if (const auto* i = std::get_if<int64_t>(&arg)) signed_value = *i;
    else if (const auto* d = std::get_if<double>(&arg)) signed_value = SaturatingInteger(*d);
    else return false;
    negative = signed_value < 0;
    magnitude = negative ? uint64_t{0} - static_cast<uint64_t>(signed_value) : static_cast<uint64_t>(signed_value);
    return true;
}

// An argument as an unsigned value (see the 32-bit rule above). False for a text.
bool AsUnsigned(const FormatArg& arg, uint64_t& value) {
    int64_t signed_value = 0;
    if (const auto* u = std::get_if<uint64_t>(&arg)) {
        value = *u;
        return true;
    }
    if (const auto* i = std::get_if<int64_t>(&arg)) {
        signed_value = *i;
    } else if (const auto* d = std::get_if<double>(&arg)) {
        if (*d >= 9223372036854775808.0 && *d < 18446744073709551616.0) {
            value = static_cast<uint64_t>(*d);
            return true;
        }
        signed_value = SaturatingInteger(*d);
    } else {
        return false;
    }
    if (signed_value < 0 && signed_value >= std::numeric_limits<int32_t>::min())
        value = static_cast<uint32_t>(static_cast<int32_t>(signed_value));
    else
        value = static_cast<uint64_t>(signed_value);
    return true;
}

bool AsDouble(const FormatArg& arg, double& value) {
    if (const auto* d = std::get_if<double>(&arg)) value = *d;
    else if (const auto* i = std::get_if<int64_t>(&arg)) value = static_cast<double>(*i);
    else if (const auto* u = std::get_if<uint64_t>(&arg)) value = static_cast<double>(*u);
    else return false;
    return true;
}

// A '*' argument: an integer (a text counts as 0).
int64_t StarValue(const FormatArg* arg) {
    if (arg == nullptr) return 0;
    bool negative = false;
    uint64_t magnitude = 0;
    if (!AsSigned(*arg, negative, magnitude)) return 0;
    uint64_t clamped = std::min<uint64_t>(magnitude, kMaxField);
    return negative ? -static_cast<int64_t>(clamped) : static_cast<int64_t>(clamped);
}

std::string Digits(uint64_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char buffer[64];
    size_t n = 0;
    do {
        buffer[n++] = set[value % base];
        value /= base;
    } while (value != 0);
    std::string out(n, '0');
    for (size_t k = 0; k < n; ++k) out[k] = buffer[n - 1 - k];
    return out;
}

// prefix (sign, "0x") + zeros + body, padded to the width.
void EmitField(BoundedOutput& out, const ConversionSpec& spec, std::string_view prefix, std::string_view body,
               bool zero_pad) {
    size_t length = prefix.size() + body.size();
    size_t pad = spec.width > length ? spec.width - length : 0;
    if (spec.left) {
        out.Append(prefix);
        out.Append(body);
        out.Fill(pad, ' ');
    } else if (zero_pad) {
        out.Append(prefix);
        out.Fill(pad, '0');
        out.Append(body);
    } else {
        out.Fill(pad, ' ');
        out.Append(prefix);
        out.Append(body);
    }
}

void EmitInteger(BoundedOutput& out, const ConversionSpec& spec, bool negative, uint64_t magnitude) {
    char c = spec.conversion;
    unsigned base = (c == 'x' || c == 'X') ? 16 : (c == 'o' ? 8 : 10);
    std::string digits = Digits(magnitude, base, c == 'X');
    if (spec.has_precision && spec.precision == 0 && magnitude == 0) digits.clear();
    size_t minimum_digits = spec.has_precision ? std::min(spec.precision, out.Cap()) : 0;
    if (digits.size() < minimum_digits) digits.insert(0, minimum_digits - digits.size(), '0');
    if (c == 'o' && spec.alternate && (digits.empty() || digits[0] != '0')) digits.insert(0, 1, '0');

    std::string prefix;
    if (c == 'd' || c == 'i') {
        if (negative) prefix = "-";
        else if (spec.plus) prefix = "+";
        else if (spec.space) prefix = " ";
    } else if ((c == 'x' || c == 'X') && spec.alternate && magnitude != 0) {
        prefix = c == 'x' ? "0x" : "0X";
    }
    EmitField(out, spec, prefix, digits, spec.zero && !spec.left && !spec.has_precision);
}

void EmitFloat(BoundedOutput& out, const ConversionSpec& spec, double value) {
    // Rebuilt from validated pieces only: flags, a clamped precision and a
    // known conversion letter. The width is applied by EmitField.
    char format[32];
    size_t n = 0;
    format[n++] = '%';
    if (spec.plus) format[n++] = '+';
    if (spec.space) format[n++] = ' ';
    if (spec.alternate) format[n++] = '#';
    format[n++] = '.';
    format[n++] = '*';
    format[n++] = spec.conversion;
    format[n] = '\0';
    int precision = spec.has_precision ? static_cast<int>(std::min<size_t>(spec.precision, kMaxFloatPrecision)) : 6;

    std::string text(64, '\0');
    int length = std::snprintf(text.data(), text.size(), format, precision, value);
    if (ZK_NEVER(length < 0)) return;  // the format is ours
    if (static_cast<size_t>(length) >= text.size()) {
        text.assign(static_cast<size_t>(length) + 1, '\0');
        std::snprintf(text.data(), text.size(), format, precision, value);
    }
    text.resize(static_cast<size_t>(length));

    size_t sign = (!text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) ? 1 : 0;
    bool finite = sign < text.size() && IsDigit(text[sign]);  // inf and nan are never zero-padded
    EmitField(out, spec, std::string_view(text).substr(0, sign), std::string_view(text).substr(sign),
              spec.zero && !spec.left && finite);
}

std::string NumberAsText(const FormatArg& arg) {
    if (const auto* i = std::get_if<int64_t>(&arg)) return std::to_string(*i);
    if (const auto* u = std::get_if<uint64_t>(&arg)) return std::to_string(*u);
    char buffer[64];
    int length = std::snprintf(buffer, sizeof buffer, "%g", std::get<double>(arg));
    return length > 0 ? std::string(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1))
                      : std::string();
}

void EmitText(BoundedOutput& out, const ConversionSpec& spec, const FormatArg& arg) {
    std::string number;
    std::string_view text;
    if (const auto* s = std::get_if<std::string_view>(&arg)) {
        text = *s;
    } else {
        number = NumberAsText(arg);
        text = number;
    }
    if (spec.has_precision) text = text.substr(0, CutLength(text, spec.precision));
    EmitField(out, spec, {}, text, false);
}

void EmitConversion(BoundedOutput& out, const ConversionSpec& spec, const FormatArg& arg) {
    switch (spec.conversion) {
        case 'd':
        case 'i': {
            bool negative = false;
            uint64_t magnitude = 0;
            if (AsSigned(arg, negative, magnitude)) EmitInteger(out, spec, negative, magnitude);
            return;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t value = 0;
            if (AsUnsigned(arg, value)) EmitInteger(out, spec, false, value);
            return;
        }
        case 'p': {
            uint64_t value = 0;
            if (!AsUnsigned(arg, value)) return;
            std::string digits = Digits(value, 16, true);
            size_t minimum = value > 0xFFFFFFFFu ? 16 : 8;
            if (digits.size() < minimum) digits.insert(0, minimum - digits.size(), '0');
            EmitField(out, spec, {}, digits, false);
            return;
        }
        case 'c': {
            bool negative = false;
            uint64_t magnitude = 0;
            if (!AsSigned(arg, negative, magnitude)) return;
            uint8_t byte = static_cast<uint8_t>(negative ? uint64_t{0} - magnitude : magnitude);
            char c = static_cast<char>(byte);
            EmitField(out, spec, {}, byte == 0 ? std::string_view() : std::string_view(&c, 1), false);
            return;
        }
        case 's':
            EmitText(out, spec, arg);
            return;
        default: {  // f F e E g G
            double value = 0;
            if (AsDouble(arg, value)) EmitFloat(out, spec, value);
            return;
        }
    }
}

}  // namespace

size_t CutLength(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text.size();
    size_t i = 0;
    while (i < limit) {
        size_t n = SjisCharLength(text, i);
        if (i + n > limit) break;
        i += n;
    }
    return i;
}

std::string FormatBounded(std::string_view format, std::span<const FormatArg> args, size_t limit) {
    BoundedOutput out(limit);
    size_t next_arg = 0;
    auto take = [&]() -> const FormatArg* { return next_arg < args.size() ? &args[next_arg++] : nullptr; };

    size_t i = 0;
    while (i < format.size() && !out.Full()) {
        if (format[i] != '%') {
            size_t next = format.find('%', i);
            if (next == std::string_view::npos) next = format.size();
            out.Append(format.substr(i, next - i));
            i = next;
            continue;
        }
        ConversionSpec spec;
        size_t end = 0;
        if (!ParseSpec(format, i, spec, end)) {
            out.Append(format.substr(i, end - i));  // copied as written; no argument used
            i = end;
            continue;
        }
        i = end;
        if (spec.conversion == '%') {
            out.Append('%');
            continue;
        }
        if (spec.width_star) {
            int64_t width = StarValue(take());
            if (width < 0) spec.left = true;
            spec.width = static_cast<size_t>(width < 0 ? -width : width);
        }
        if (spec.precision_star) {
            int64_t precision = StarValue(take());
            spec.has_precision = precision >= 0;  // a negative precision is as if omitted
            spec.precision = precision >= 0 ? static_cast<size_t>(precision) : 0;
        }
        const FormatArg* arg = take();
        if (arg != nullptr) EmitConversion(out, spec, *arg);
    }
    return out.Finish();
}

}  // namespace zk
