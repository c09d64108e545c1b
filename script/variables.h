// Script variables: numbered arrays of 64-bit integers, doubles or texts
// with up to 8 dimensions (a scalar is a one-element array), the element
// getters and setters every command uses, and the whole-variable fills.
//
// Numbers 1000 and above are the script's own variables. Numbers below 1000
// are system variables: the engine computes their values
// (script/system_variable_hooks.h), but each has a record too, because the
// record's type and sizes say how it is read.
//
// Element indexes are flat (row-major: the last subscript varies fastest).
// Every access checks the index against the elements the record actually
// holds, so a record whose sizes and arrays disagree (a failed fill, save
// data from elsewhere) can never be read or written out of bounds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_codes.h"

namespace zk {

inline constexpr uint32_t kFirstScriptVariable = 1000;
inline constexpr int kMaxDimensions = 8;
inline constexpr uint64_t kMaxElements = 4'000'000;

// Texts that pass through the evaluator and the commands are below this
// many bytes (with their NUL they fill a 4096-byte buffer).
inline constexpr size_t kTextBufferSize = 4096;

enum VariableType : uint8_t {
    kVariableNone = 0,  // never declared or initialised
    kVariableInteger = 1,
    kVariableReal = 2,
    kVariableText = 3,
};

// The dimension sizes of a variable; sizes beyond the count are 0.
struct VariableShape {
    uint8_t dimension_count = 0;
    std::array<int32_t, kMaxDimensions> sizes{};
};

struct ScriptVariable {
    uint8_t group = 0;  // 1..4, from zkv.zbn; the save commands select by it
    uint8_t type = kVariableNone;
    uint8_t dimension_count = 0;
    std::array<int32_t, kMaxDimensions> sizes{};
    uint64_t element_count = 0;  // elements of the array of `type`
    std::vector<int64_t> integers;  // type 1
    std::vector<double> reals;      // type 2
    // Type 3. A text element grows as needed and never shrinks. Texts are
    // NUL-terminated by std::string; readers stop at the first NUL.
    std::vector<std::string> texts;

    VariableShape Shape() const;
};

// The engine-wide variable table: records 0..N, created zero-filled by the
// loader of zkt.zbn.
struct VariableTable {
    std::vector<ScriptVariable> records;
};
namespace detail {
extern VariableTable variable_table;
// See VariableArraysChanged.
extern uint64_t variable_generation;
}  // namespace detail

// Counts the changes that may move, retype or resize a variable's arrays:
// the table made or dropped, a fill, a declaration, a resize, a restore,
// and every mutable reach into the table (Variables, FindVariable), whose
// holder may change any of it. A pointer to a cell is good while the count
// stays what it was when the pointer was taken. Never 0, so that 0 can mean
// "never taken". Script thread only, as the variables.
inline void VariableArraysChanged() { ++detail::variable_generation; }
inline uint64_t VariableGeneration() { return detail::variable_generation; }

inline VariableTable& Variables() {
    VariableArraysChanged();
    return detail::variable_table;
}

// Element 0 of script variable `number` when it is an integer variable that
// has one (a plain variable's cell, as the expressions read it); else null.
inline int64_t* IntegerCellZero(uint32_t number) {
    std::vector<ScriptVariable>& records = detail::variable_table.records;
    // In bytes: the record count would take a division on every read.
    const uintptr_t begin = reinterpret_cast<uintptr_t>(records.data());
    const uintptr_t end = reinterpret_cast<uintptr_t>(std::to_address(records.end()));
    if (uint64_t{number} * sizeof(ScriptVariable) >= end - begin) return nullptr;
    ScriptVariable& variable = records.data()[number];
    if (variable.type != kVariableInteger || variable.element_count == 0 || variable.integers.empty()) return nullptr;
    return variable.integers.data();
}

// N + 1 empty records (numbers 0..N), replacing any earlier table. 0, or -1
// after reporting 100010 (fatal).
int32_t CreateVariableTable(uint32_t highest_number);
// Drops every record (tests, end of run).
void ResetVariableTable();

// The record of a variable number, or null outside the table.
ScriptVariable* FindVariable(uint32_t number);

// The element count of a shape: 1 for no dimensions. 0 and `error` set to
// 101110 when any size is 0 or less (a product of negative sizes must not
// pass as positive), or 101100 when the product passes 4,000,000 (computed
// without overflow); `error` 0 otherwise.
uint64_t ShapeElementCount(const VariableShape& shape, uint32_t& error);

// ---- Whole-variable fills ---------------------------------------------------
// Each checks the element count of the shape (101110, 101100 with 4000000),
// then sets the type and replaces the elements, every one set to the value;
// the arrays of other types are released. Out of memory is 100010. All
// errors are fatal script errors, result -1, and leave the record as it was.
// The shape-less forms use the record's current sizes.
int32_t FillIntegerVariable(ScriptVariable& variable, int64_t value);
int32_t FillRealVariable(ScriptVariable& variable, double value);
int32_t FillStringVariable(ScriptVariable& variable, std::string_view bytes);
// The same with a new shape, stored together with the new elements (the
// declarations and zkv.zbn definitions).
int32_t FillIntegerVariable(ScriptVariable& variable, const VariableShape& shape, int64_t value);
int32_t FillRealVariable(ScriptVariable& variable, const VariableShape& shape, double value);
int32_t FillStringVariable(ScriptVariable& variable, const VariableShape& shape, std::string_view bytes);
// Type and shape without elements (a definition of a type other than 1, 2
// or 3 sets its fields and fills nothing). The arrays are released.
void SetVariableShape(ScriptVariable& variable, uint8_t type, const VariableShape& shape);

// ---- Element access ---------------------------------------------------------
// An element index outside 0..count-1 (a variable number outside the table
// too) is out of range: getters give 0, 0.0 or none, setters change nothing
// and return -1 without a report.

// A number below 1000 reads the system variable; otherwise the integer
// element of an integer variable (0 for other types).
int64_t GetIntegerElement(uint32_t number, int64_t element);
// A number below 1000 reads the system variable; otherwise the real element
// of a real variable (0.0 for other types).
double GetRealElement(uint32_t number, int64_t element);
// The text element of a text variable, or null. A number below 1000 first
// has its system text produced and stored into its own element.
const std::string* GetStringElement(uint32_t number, int64_t element);

// Type 1 stores the value, type 2 the value as a double; any other type
// reports 101140 (fatal). 0 or -1.
int32_t SetNumberElement(uint32_t number, int64_t element, int64_t value);
// A double through the converting setter: type 1 stores it truncated toward
// zero, type 2 as it is; any other type reports 101140 (fatal). 0 or -1.
int32_t SetRealElement(uint32_t number, int64_t element, double value);
// A text variable's element := text (up to its first NUL); another type
// reports 101140 (fatal). 0 or -1.
int32_t SetStringElement(uint32_t number, int64_t element, std::string_view text);
// As SetStringElement, storing `bytes` as given.
int32_t StoreStringElement(uint32_t number, int64_t element, std::string_view bytes);
// The element := its type's empty value (0, 0.0 or the empty text); a
// variable of any other type, or none, is left alone. The answer commands
// give when there is nothing to answer.
void ClearAnswerElement(uint32_t number, int64_t element);
// No checks of type; the index is still bounded (out of range: nothing).
void SetStringElementFromBuffer(ScriptVariable& variable, int64_t element, std::string_view bytes);

// Bounds test used by every accessor: the element exists in the array of the
// variable's own type.
bool ElementInRange(const ScriptVariable& variable, int64_t element);

// The first subscript list's flat index (row-major) under `shape`, or -1 when
// a subscript lies outside its dimension or the counts differ.
int64_t FlatElementIndex(const VariableShape& shape, std::span<const int64_t> subscripts);

}  // namespace zk
