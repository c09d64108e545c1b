// The expression evaluator: runs the byte code of script/expr_opcodes.h
// over one engine-wide stack, dispatching each instruction through the
// 256-slot ExprOpTable. The caller picks, through the ExprEntryTable, an
// integer, double or text result and integer or double arithmetic.
//
// Besides the value, a run records the last variable element it named (the
// reference record): commands use it to know which variable to write.
//
// Every payload, stack depth, text and subscript count is checked; a byte
// code that breaks any limit fails with a fatal report (900030 for code the
// compiler never writes, 107020 for a wrong subscript count) and the run
// aborts. Nothing is allocated once the text pool is warm.
//
// Script thread only; not reentrant (a system-variable reader called during
// a run must not evaluate).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/error_codes.h"

namespace zk {

inline constexpr size_t kExprStackSize = 1024;
inline constexpr size_t kTextPoolSize = 1024;  // slot 0 is never used
inline constexpr size_t kExprTextSize = 4096;  // a text and its NUL
inline constexpr int kMaxSubscriptNesting = 127;
inline constexpr int kMaxSubscripts = 8;

enum ExprMode : uint8_t {
    kModeInteger = 1,      // integer result
    kModeReal = 2,         // double result
    kModeTextInteger = 3,  // text result, integer arithmetic
    kModeTextReal = 4,     // text result, double arithmetic
};

enum PrefixKind : uint8_t {
    kPrefixNone = 0,
    kPrefixKindGrave = 1,  // '`'
    kPrefixKindHash = 2,   // '#'
};

struct ExprPosition {
    int64_t integer = 0;
    double real = 0.0;
    uint16_t text = 0;  // pool slot; 0 = a number
};

// The last variable element an expression named.
struct ExprReference {
    uint32_t variable = 0;
    int64_t element = 0;
    uint8_t prefix = kPrefixNone;
    uint8_t whole_variable = 0;
};

struct SubscriptContext {
    uint16_t start = 0;  // stack position of the placeholder
    uint32_t variable = 0;
    uint8_t prefix = kPrefixNone;
};

struct ExprTextSlot {
    std::unique_ptr<char[]> bytes;  // kExprTextSize, created at first use and kept
    size_t length = 0;
};

struct ExprEvaluator {
    // The run state first and together (every run resets most of it), then
    // the large arrays: a short run touches few cache lines.
    // The first eight bytes are what a run sets on its way in and out, in
    // an order that lets those stores merge.
    uint8_t mode = kModeInteger;
    uint8_t subscript_count = 0;
    uint16_t depth = 0;
    uint16_t next_text = 1;
    int8_t nesting = 0;
    uint8_t aborted = 0;       // the last run stopped before its end
    uint8_t declaring = 0;     // set by the declaration commands around their reference
    uint8_t variable_met = 0;  // set by the folding-mode variable opcodes
    // 1 while the run state holds what a run's start sets, but for the
    // depth and position 0's integer: a compiled program's run leaves it so
    // and changes nothing else of it, so the next program run need not set
    // it again. Byte-code runs and every mutable reach (Evaluator) clear it.
    uint8_t program_clean = 0;
    ExprReference reference;
    // The caller's text buffer and the result's length (text modes).
    std::span<char> out;
    size_t result_length = 0;
    // The subscripts of the last closed subscript list (the declaration
    // commands read them as sizes).
    std::array<int64_t, kMaxSubscripts> subscripts{};
    std::array<ExprPosition, kExprStackSize> stack{};
    std::array<ExprTextSlot, kTextPoolSize> pool;
    std::array<SubscriptContext, kMaxSubscriptNesting> contexts{};

    bool IntegerArithmetic() const { return (mode & 1) != 0 || nesting > 0; }
};
ExprEvaluator& Evaluator();
// The same, to read only (tests): unlike Evaluator it leaves the state as
// the last run left it in every respect.
const ExprEvaluator& ReadEvaluator();

// ---- Running byte code --------------------------------------------------

// Resets the run state (not the pool, nor the reference record's variable
// and element), runs every instruction and, in a text mode, copies position
// 0's text into the caller's buffer unless the run aborted. 0, or -1 when an
// instruction aborted.
int32_t RunExprByteCode(std::span<const uint8_t> code);

// An opcode handler: its payload (length already checked against the code);
// non-zero aborts the run.
using ExprOpHandler = int32_t (*)(std::span<const uint8_t> payload);
std::array<ExprOpHandler, 256>& ExprOpTable();
// mode 1: normal. mode 0: label folding, where every variable opcode sets
// the variable-met flag and aborts without a report.
void FillExprOpTable(int mode);
// True while the table is not the normal one (label folding, or not filled).
bool ExprOpTableFolding();

// ---- Entries --------------------------------------------------------------

// Every entry gives both numbers (an integer entry's real is its integer as a
// double, a real entry's integer is its double truncated) so that a caller
// may read either; text entries give the text's length.
struct ExprValue {
    int64_t integer = 0;
    double real = 0.0;
    size_t text_length = 0;
};
using ExprEntry = ExprValue (*)(std::span<const uint8_t> code, std::span<char> text_out);

// Types 1, 3: int64 of position 0.
ExprValue EvalIntExpr(std::span<const uint8_t> code, std::span<char> text_out = {});
// Types 2, 4: double arithmetic, truncated toward zero at the end.
ExprValue EvalIntExprFromReal(std::span<const uint8_t> code, std::span<char> text_out = {});
// Types 6, 8: integer arithmetic, converted to double once at the end.
ExprValue EvalRealExprFromInt(std::span<const uint8_t> code, std::span<char> text_out = {});
// Types 7, 9, 11..14: double arithmetic.
ExprValue EvalRealExpr(std::span<const uint8_t> code, std::span<char> text_out = {});
// Types 16..18: text result, integer arithmetic, copied into text_out with
// its NUL (cut to fit). A number result gives the empty text; a run that
// aborted gives length 0 and leaves text_out as it was.
ExprValue EvalTextExpr(std::span<const uint8_t> code, std::span<char> text_out);
// Type 19: as 16 with double arithmetic.
ExprValue EvalTextExprReal(std::span<const uint8_t> code, std::span<char> text_out);
// Every other slot: reports 900030 (fatal) and gives 0 (text_out untouched).
ExprValue EvalUnknownType(std::span<const uint8_t> code, std::span<char> text_out);

inline constexpr size_t kExprEntryCount = 256;
inline constexpr uint32_t kFixedTextEntry = 18;  // the call command's text entry
std::array<ExprEntry, kExprEntryCount>& ExprEntryTable();
void FillExprEntryTable();
// ExprEntryTable[type], with a type beyond the table taken as unknown.
ExprValue EvaluateExpr(uint32_t type, std::span<const uint8_t> code, std::span<char> text_out = {});

// The text of a text literal ('M') payload, written with its NUL into `out`
// (kExprTextSize bytes): its length, or nullopt when it does not fit.
std::optional<size_t> DecodeTextLiteral(std::span<const uint8_t> payload, char* out);

// ---- Texts read as numbers ------------------------------------------------
// The readers of the text-to-number conversion, shared with the commands
// that convert texts themselves.
bool IsHexDigit(char c);
// Decimal integer after an optional '-', up to the first non-digit;
// saturates at the int64 limits.
int64_t ParseDecimalInteger(std::string_view t);
// The longest leading decimal real (0 when none; infinity beyond the range).
double ParseDecimalReal(std::string_view t);

// ---- The reference record ---------------------------------------------------

const ExprReference& LastExprReference();
// The system-variable reference readers record the element they read, as if
// the script had named it.
void SetExprReference(uint32_t variable, int64_t element);
// The subscripts of the last closed list (a declaration's sizes).
std::span<const int64_t> ExprSubscripts();
void SetExprDeclaring(bool declaring);
bool ExprVariableMet();
// True when the last run stopped before its end (after its report, or
// without one for a "0x" text that is no hexadecimal number).
bool LastExprAborted();
void ClearExprVariableMet();

}  // namespace zk
