// zke.zbn over arbitrary bytes: the table parser, then every text of an
// accepted table used the way a report uses it, as a format written by
// others, with a file name and a number for arguments. A table holds at most
// 256 texts, each inside the kept file bytes, and no message outgrows its
// bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/error_report.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();  // dialogs answered at once; the last input's table and reports gone
    zk::ErrorTextTable table;
    if (!zk::ParseErrorTextTable(std::vector<uint8_t>(data, data + size), table)) return 0;
    if (table.count < 0 || table.count > 256) __builtin_trap();
    const char* begin = reinterpret_cast<const char*>(table.file_bytes.data());
    const char* end = begin + table.file_bytes.size();
    for (int32_t i = 0; i < table.count; ++i) {
        std::string_view text = table.texts[i];
        if (text.data() < begin || text.data() + text.size() >= end || text.data()[text.size()] != '\0')
            __builtin_trap();
    }

    zk::ErrorReporter().table = std::move(table);
    const zk::ErrorTextTable& kept = zk::ErrorReporter().table;
    for (int32_t i = 0; i < kept.count; ++i) {
        uint32_t code = kept.codes[i];
        std::string_view text = zk::LookupErrorText(code);
        zk::ReportEngineErrorF(code, true, {std::string_view("zkbin\\zkt00001.zbn"), int64_t{-12345}});
        if (zk::ErrorReporter().message.size() > std::max(zk::kErrorTextLimit, text.size())) __builtin_trap();
        zk::ReportScriptError(code, false);
        if (zk::ErrorReporter().error_text.size() > std::max(zk::kErrorTextLimit, text.size())) __builtin_trap();
    }
    return 0;
}
