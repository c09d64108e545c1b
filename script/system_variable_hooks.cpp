#include "script/system_variable_hooks.h"

#include <algorithm>

#include "base/nul_text.h"
#include "core/error_report.h"
#include "script/variables.h"

namespace zk {

SystemVariableHooks& SystemVariableAccess() {
    static SystemVariableHooks hooks;
    return hooks;
}

int64_t ReadSystemInteger(uint32_t number, int64_t element) {
    auto read = SystemVariableAccess().read_integer;
    return read != nullptr ? read(number, element) : 0;
}

double ReadSystemReal(uint32_t number, int64_t element) {
    auto read = SystemVariableAccess().read_real;
    return read != nullptr ? read(number, element) : 0.0;
}

size_t ReadSystemText(uint32_t number, std::span<char> out, int64_t element) {
    if (out.empty()) return 0;
    out[0] = '\0';
    auto read = SystemVariableAccess().read_text;
    if (read == nullptr) return 0;
    size_t length = read(number, out, element);
    // The reader promises a terminated text that fits; hold it to that.
    length = std::min(length, out.size() - 1);
    out[length] = '\0';
    return TextLength(out.data(), length);
}

int32_t WriteSystemInteger(uint32_t number, int64_t element, uint8_t op, int64_t value) {
    auto write = SystemVariableAccess().write_integer;
    if (write != nullptr) return write(number, element, op, value);
    ReportScriptError(kErrSystemVariableReadOnly, true);
    return -1;
}

int32_t WriteSystemReal(uint32_t number, int64_t element, uint8_t op, double value) {
    auto write = SystemVariableAccess().write_real;
    if (write != nullptr) return write(number, element, op, value);
    // A write to a read-only real number changes nothing and reports
    // nothing. The two that store the value somewhere cannot do so yet: say
    // so, as the integer and text writers do, rather than lose it silently.
    if (number == kSystemRealReferenceWrite || number == kSystemRealArgumentWrite) {
        ReportScriptError(kErrSystemVariableReadOnly, true);
        return -1;
    }
    return 0;
}

int32_t WriteSystemText(uint32_t number, int64_t element, std::string_view text) {
    auto write = SystemVariableAccess().write_text;
    if (write != nullptr) return write(number, element, text);
    ReportScriptError(kErrSystemVariableReadOnly, true);
    return -1;
}

}  // namespace zk
