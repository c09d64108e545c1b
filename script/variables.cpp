#include "script/variables.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "base/nul_text.h"
#include "core/error_report.h"
#include "script/int_arithmetic.h"
#include "script/system_variable_hooks.h"

namespace zk {

namespace {

// A text fill copies its text into every element. Four million copies of a
// long text would ask for many gigabytes, which on Linux ends the process
// instead of failing the allocation; above this total the fill reports
// running out of memory as a failed allocation would.
constexpr uint64_t kMaxTextFillBytes = uint64_t{1} << 30;

void ReportShapeError(uint32_t error) {
    if (error == kErrTooManyElements) {
        ReportScriptErrorF(kErrTooManyElements, true, {int64_t{static_cast<int64_t>(kMaxElements)}});
    } else {
        ReportScriptError(error, true);
    }
}

// Stores the new shape and type; the element arrays are the caller's.
void CommitShape(ScriptVariable& variable, uint8_t type, const VariableShape& shape, uint64_t count) {
    VariableArraysChanged();
    variable.type = type;
    variable.dimension_count = shape.dimension_count;
    variable.sizes = {};
    for (int j = 0; j < shape.dimension_count && j < kMaxDimensions; ++j) variable.sizes[j] = shape.sizes[j];
    variable.element_count = count;
}

// The arrays of the types other than `keep`, released: a variable changes
// type only by a new declaration or fill, and nothing reads the old ones.
void ReleaseOtherArrays(ScriptVariable& variable, uint8_t keep) {
    VariableArraysChanged();
    if (keep != kVariableInteger) std::vector<int64_t>().swap(variable.integers);
    if (keep != kVariableReal) std::vector<double>().swap(variable.reals);
    if (keep != kVariableText) std::vector<std::string>().swap(variable.texts);
}

// The common shape of the three fills: check the count, build the new
// array away from the record, then swap it in. A failure leaves the record
// as it was.
template <typename Build>
int32_t Fill(ScriptVariable& variable, const VariableShape& shape, uint8_t type, Build build) {
    uint32_t error = 0;
    uint64_t count = ShapeElementCount(shape, error);
    if (error != 0) {
        ReportShapeError(error);
        return -1;
    }
    try {
        if (!build(count)) {
            ReportScriptError(kErrOutOfMemory, true);
            return -1;
        }
    } catch (const std::bad_alloc&) {
        ReportScriptError(kErrOutOfMemory, true);
        return -1;
    }
    CommitShape(variable, type, shape, count);
    ReleaseOtherArrays(variable, type);
    return 0;
}

}  // namespace

VariableShape ScriptVariable::Shape() const {
    VariableShape shape;
    shape.dimension_count = std::min<uint8_t>(dimension_count, kMaxDimensions);
    for (int j = 0; j < shape.dimension_count; ++j) shape.sizes[j] = sizes[j];
    return shape;
}

namespace detail {
VariableTable variable_table;
uint64_t variable_generation = 1;
}  // namespace detail

int32_t CreateVariableTable(uint32_t highest_number) {
    try {
        std::vector<ScriptVariable> records(static_cast<size_t>(highest_number) + 1);
        Variables().records = std::move(records);
    } catch (const std::bad_alloc&) {
        ReportEngineError(kErrOutOfMemory, true);
        return -1;
    }
    return 0;
}

void ResetVariableTable() { std::vector<ScriptVariable>().swap(Variables().records); }

ScriptVariable* FindVariable(uint32_t number) {
    VariableArraysChanged();  // the holder may resize or retype it
    std::vector<ScriptVariable>& records = Variables().records;
    return number < records.size() ? &records[number] : nullptr;
}

uint64_t ShapeElementCount(const VariableShape& shape, uint32_t& error) {
    error = 0;
    // Never more than 8: the evaluator and the definition parser refuse more.
    if (shape.dimension_count > kMaxDimensions) {
        error = kErrTooManyElements;
        return 0;
    }
    for (int j = 0; j < shape.dimension_count; ++j) {
        if (shape.sizes[j] <= 0) {
            error = kErrNoElements;
            return 0;
        }
    }
    uint64_t count = 1;
    for (int j = 0; j < shape.dimension_count; ++j) {
        // count <= 4,000,000 and a size < 2^31 keep the product below 2^53.
        count *= static_cast<uint64_t>(shape.sizes[j]);
        if (count > kMaxElements) {
            error = kErrTooManyElements;
            return 0;
        }
    }
    return count;
}

int32_t FillIntegerVariable(ScriptVariable& variable, const VariableShape& shape, int64_t value) {
    return Fill(variable, shape, kVariableInteger, [&](uint64_t count) {
        std::vector<int64_t> elements(count, value);
        variable.integers.swap(elements);
        return true;
    });
}

int32_t FillRealVariable(ScriptVariable& variable, const VariableShape& shape, double value) {
    return Fill(variable, shape, kVariableReal, [&](uint64_t count) {
        std::vector<double> elements(count, value);
        variable.reals.swap(elements);
        return true;
    });
}

int32_t FillStringVariable(ScriptVariable& variable, const VariableShape& shape, std::string_view bytes) {
    return Fill(variable, shape, kVariableText, [&](uint64_t count) {
        if (count * (bytes.size() + 1) > kMaxTextFillBytes) return false;
        std::vector<std::string> elements(count, std::string(bytes));
        variable.texts.swap(elements);
        return true;
    });
}

int32_t FillIntegerVariable(ScriptVariable& variable, int64_t value) {
    return FillIntegerVariable(variable, variable.Shape(), value);
}
int32_t FillRealVariable(ScriptVariable& variable, double value) {
    return FillRealVariable(variable, variable.Shape(), value);
}
int32_t FillStringVariable(ScriptVariable& variable, std::string_view bytes) {
    return FillStringVariable(variable, variable.Shape(), bytes);
}

void SetVariableShape(ScriptVariable& variable, uint8_t type, const VariableShape& shape) {
    CommitShape(variable, type, shape, 0);
    ReleaseOtherArrays(variable, kVariableNone);
}

bool ElementInRange(const ScriptVariable& variable, int64_t element) {
    if (element < 0 || static_cast<uint64_t>(element) >= variable.element_count) return false;
    size_t index = static_cast<size_t>(element);
    switch (variable.type) {
        case kVariableInteger: return index < variable.integers.size();
        case kVariableReal: return index < variable.reals.size();
        case kVariableText: return index < variable.texts.size();
        default: return false;
    }
}

int64_t FlatElementIndex(const VariableShape& shape, std::span<const int64_t> subscripts) {
    if (subscripts.size() != shape.dimension_count || shape.dimension_count > kMaxDimensions) return -1;
    int64_t index = 0;
    for (size_t j = 0; j < subscripts.size(); ++j) {
        if (subscripts[j] < 0 || subscripts[j] >= shape.sizes[j]) return -1;
        // A filled shape keeps the index below 4,000,000; a shape that was
        // set but never filled is bounded only by its int32 sizes.
        if (index > (INT64_MAX - subscripts[j]) / shape.sizes[j]) return -1;
        index = index * shape.sizes[j] + subscripts[j];
    }
    return index;
}

int64_t GetIntegerElement(uint32_t number, int64_t element) {
    const ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr || !ElementInRange(*variable, element)) return 0;
    if (number < kFirstScriptVariable) return ReadSystemInteger(number, element);
    return variable->type == kVariableInteger ? variable->integers[static_cast<size_t>(element)] : 0;
}

double GetRealElement(uint32_t number, int64_t element) {
    const ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr || !ElementInRange(*variable, element)) return 0.0;
    if (number < kFirstScriptVariable) return ReadSystemReal(number, element);
    return variable->type == kVariableReal ? variable->reals[static_cast<size_t>(element)] : 0.0;
}

const std::string* GetStringElement(uint32_t number, int64_t element) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr || variable->type != kVariableText || !ElementInRange(*variable, element)) {
        return nullptr;
    }
    if (number < kFirstScriptVariable) {
        // One scratch buffer for the run: system texts pass through it into
        // the variable's own element.
        static char scratch[kTextBufferSize];
        size_t length = ReadSystemText(number, std::span<char>(scratch), element);
        SetStringElementFromBuffer(*variable, element, std::string_view(scratch, length));
    }
    return &variable->texts[static_cast<size_t>(element)];
}

namespace {
// The integer or real variable `number` with `element` in range, or null
// (a variable of another type is reported).
ScriptVariable* NumericElementVariable(uint32_t number, int64_t element) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr || !ElementInRange(*variable, element)) return nullptr;
    if (variable->type != kVariableInteger && variable->type != kVariableReal) {
        ReportScriptError(kErrWrongVariableType, true);
        return nullptr;
    }
    return variable;
}
}  // namespace

int32_t SetNumberElement(uint32_t number, int64_t element, int64_t value) {
    ScriptVariable* variable = NumericElementVariable(number, element);
    if (variable == nullptr) return -1;
    const size_t index = static_cast<size_t>(element);
    if (variable->type == kVariableInteger) {
        variable->integers[index] = value;
    } else {
        variable->reals[index] = static_cast<double>(value);
    }
    return 0;
}

int32_t SetRealElement(uint32_t number, int64_t element, double value) {
    ScriptVariable* variable = NumericElementVariable(number, element);
    if (variable == nullptr) return -1;
    const size_t index = static_cast<size_t>(element);
    if (variable->type == kVariableInteger) {
        variable->integers[index] = TruncateToInt64(value);
    } else {
        variable->reals[index] = value;
    }
    return 0;
}

int32_t StoreStringElement(uint32_t number, int64_t element, std::string_view bytes) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr || !ElementInRange(*variable, element)) return -1;
    if (variable->type != kVariableText) {
        ReportScriptError(kErrWrongVariableType, true);
        return -1;
    }
    SetStringElementFromBuffer(*variable, element, bytes);
    return 0;
}

void ClearAnswerElement(uint32_t number, int64_t element) {
    const ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) return;
    if (variable->type == kVariableText) {
        SetStringElement(number, element, {});
    } else if (variable->type == kVariableInteger || variable->type == kVariableReal) {
        SetNumberElement(number, element, 0);
    }
}

int32_t SetStringElement(uint32_t number, int64_t element, std::string_view text) {
    return StoreStringElement(number, element, UpToNul(text));
}

void SetStringElementFromBuffer(ScriptVariable& variable, int64_t element, std::string_view bytes) {
    if (element < 0 || static_cast<uint64_t>(element) >= variable.texts.size()) return;
    // assign() keeps the element's capacity when the text fits, so a buffer
    // grows as needed and never shrinks.
    variable.texts[static_cast<size_t>(element)].assign(bytes.data(), bytes.size());
}

}  // namespace zk
