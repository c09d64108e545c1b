// The slot through which the script machine reads and writes system
// variables (numbers below 1000). The module that computes them installs its
// functions at start-up; until then every read gives 0, 0.0 or the empty
// text, and a write is refused as a write to a read-only variable (the
// writers below say which real writes are silent).
//
// The variable record's type (1, 2, 3) decides which reader is called; the
// evaluator has already checked the element index against the record's sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zk {

struct SystemVariableHooks {
    int64_t (*read_integer)(uint32_t number, int64_t element) = nullptr;
    double (*read_real)(uint32_t number, int64_t element) = nullptr;
    // Writes a NUL-terminated text of at most out.size() - 1 bytes into
    // `out` and returns its length.
    size_t (*read_text)(uint32_t number, std::span<char> out, int64_t element) = nullptr;
    // The assignment command's writes, with its operator 0..8. Each returns
    // 0, or -1 after its own report.
    int32_t (*write_integer)(uint32_t number, int64_t element, uint8_t op, int64_t value) = nullptr;
    int32_t (*write_real)(uint32_t number, int64_t element, uint8_t op, double value) = nullptr;
    int32_t (*write_text)(uint32_t number, int64_t element, std::string_view text) = nullptr;
};
SystemVariableHooks& SystemVariableAccess();

// The two real system variables whose writes store the value.
inline constexpr uint32_t kSystemRealReferenceWrite = 51;  // the real element a reference names
inline constexpr uint32_t kSystemRealArgumentWrite = 54;   // real argument i of the current call

// Dispatch through the hooks, with the defaults above when a hook is empty.
int64_t ReadSystemInteger(uint32_t number, int64_t element);
double ReadSystemReal(uint32_t number, int64_t element);
// Always leaves a NUL-terminated text in `out` (when out is not empty).
size_t ReadSystemText(uint32_t number, std::span<char> out, int64_t element);
// Defaults: integer and text report 101150 (fatal) and return -1. A real
// write changes nothing and reports nothing, as a write to a read-only real
// number does, except to the two numbers whose writes store the value (the
// referenced real element, a real argument of the current call): those
// report 101150 and return -1 like the other two kinds.
int32_t WriteSystemInteger(uint32_t number, int64_t element, uint8_t op, int64_t value);
int32_t WriteSystemReal(uint32_t number, int64_t element, uint8_t op, double value);
int32_t WriteSystemText(uint32_t number, int64_t element, std::string_view text);

}  // namespace zk
