// The text and CSV readers, the integer text reader and the CP932 text
// conversions over arbitrary bytes: every result stays within its limits
// and nothing is read outside the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/sjis.h"
#include "script/math_command.h"
#include "script/variable_conversions.h"
#include "system/text_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the number of elements the array has.
    const size_t slots = data[0];
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    const auto fields = zk::SplitCsvFields(bytes, slots);
    if (fields.size() > slots) __builtin_trap();
    for (const std::string& field : fields) {
        if (field.size() > zk::kMaxFieldBytes) __builtin_trap();
    }
    const int64_t count = zk::CountCsvFields(bytes);
    if (count < 0 || static_cast<uint64_t>(count) > bytes.size() + 1) __builtin_trap();
    // Command 7 stores exactly the fields command 8 counts.
    if (fields.size() != std::min<uint64_t>(static_cast<uint64_t>(count), slots)) __builtin_trap();
    const auto lines = zk::SplitTextLines(bytes, slots);
    if (lines.size() > slots + 2) __builtin_trap();
    for (const std::string& line : lines) {
        if (line.size() > zk::kMaxFieldBytes) __builtin_trap();
    }

    (void)zk::EvalIntegerText(text);

    const size_t limit = 4095;
    const std::string full = zk::ToFullWidth(text, limit);
    const std::string half = zk::ToHalfWidth(text, limit);
    if (full.size() > limit || half.size() > limit) __builtin_trap();
    if (zk::UpperCaseCp932(text).size() != text.size() || zk::LowerCaseCp932(text).size() != text.size()) __builtin_trap();
    size_t begin = 0, end = 0;
    if (zk::ResolveCharacterRange(text, slots % 7, slots / 7, begin, end) == 0 && (begin > end || end > text.size())) {
        __builtin_trap();
    }
    return 0;
}
