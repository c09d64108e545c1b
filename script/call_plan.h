// Calls (43) and returns (79) planned once per file: for a command whose
// arguments are all literals or plain integer variables, the loader works
// out what the argument decoder and the value filling would do every time
// it runs (the folded label, each frame slot's value or variable, which
// slots are given) and what the evaluator holds after the last of those
// evaluations. Running the command then copies values into its frame and
// puts the evaluator into that end state, instead of decoding every record.
//
// A plan stands for the general path only while that is certain: every
// variable it reads is an integer variable with an element 0, no
// declaration is under way, the opcode table is the normal one, and the
// evaluator's first text buffer exists. Otherwise (and for every command
// without a plan) the general path runs. Commands with an argument of any
// other form, a repeated or unused keyword, a keyword whose definition
// asks for a range check, or a call whose label is not folded get no plan.
//
// Plans are built from untrusted bytes: everything they point at (records,
// data, texts) is checked while building.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "script/call_counts.h"
#include "script/command_table.h"
#include "script/labels.h"

namespace zk {

struct ScriptFile;
struct ScriptTask;
struct CallFrame;

enum class PlannedValueKind : uint8_t {
    kAbsent,           // not given: 0, 0.0 or the empty text, presence byte 0
    kConstant,         // integer, real or text known at load
    kIntegerVariable,  // element 0 of integer variable `variable`
};

struct PlannedValue {
    PlannedValueKind kind = PlannedValueKind::kAbsent;
    uint32_t variable = 0;
    int64_t integer = 0;
    double real = 0.0;
    uint32_t text_offset = 0;  // into the file's plan texts
    uint32_t text_length = 0;
};

// The evaluator as the last evaluation of the general path leaves it.
enum class PlannedEndKind : uint8_t {
    kNone,             // nothing was evaluated: the evaluator is untouched
    kInteger,          // an integer literal, integer arithmetic
    kIntegerVariable,  // a plain integer variable (its value is read when run)
    kReal,             // a real evaluation of a literal, double arithmetic
    kText,             // a text literal in text mode `mode`
};

struct PlannedEvaluatorEnd {
    PlannedEndKind kind = PlannedEndKind::kNone;
    uint8_t mode = 0;
    int64_t integer = 0;
    double real = 0.0;
    uint32_t variable = 0;     // kIntegerVariable
    uint32_t text_offset = 0;  // kText, into the file's plan texts
    uint32_t text_length = 0;
    // The last variable any of the evaluations named (element 0).
    bool names_variable = false;
    uint32_t reference_variable = 0;
};

struct CallPlan {
    int32_t command_index = 0;  // the command it plans
    uint32_t first_record = 0;  // the command's first argument record
    uint16_t label = 0;         // calls: the folded label index
    // Calls: where that label leads (the label table does not change once
    // the files that fold indexes into it are loaded).
    uint16_t label_file = 0;
    uint32_t label_command_index = 0;
    int32_t line = 0;           // the command's source line
    bool fill = false;          // whether the values are filled (not a bare call)
    CallValueCounts counts;
    // counts.integers integer values, then the reals, then the texts.
    uint32_t first_value = 0;
    PlannedEvaluatorEnd end;
};

// What the decoder knows of a keyword of the call or return command.
struct PlanKeyword {
    bool defined = false;
    uint8_t value_kind = 0;
    bool checked = false;  // its range kind asks for a check
};
struct CallPlanKeywords {
    std::array<PlanKeyword, 256> call{};
    std::array<PlanKeyword, 256> ret{};
};
// From the loaded command definitions (zkc.zbn).
CallPlanKeywords CallPlanKeywordsFromTables();

// Per command: its plan (-1 none) and its first argument record, read in
// one load.
struct CallPlanRef {
    int32_t plan = -1;
    uint32_t first_record = 0;
};

// Per file, built after label folding.
struct CallPlans {
    std::vector<CallPlanRef> plan_of;  // per command
    // The number the file is loaded under in the script file table, once it
    // is (-1 before): a task bound to this file with this number is bound to
    // the loaded file, so a call or return within the file switches nothing.
    int32_t loaded_as = -1;
    std::vector<CallPlan> plans;
    std::vector<PlannedValue> values;
    std::string texts;
};

// Plans every call and return of a parsed, label-folded file it can, with
// the label table the file's calls were folded against. The evaluator's
// entry table must be filled (start-up tables).
void BuildCallPlans(const ScriptFile& file, const CallPlanKeywords& keywords, std::span<const LabelEntry> labels,
                    CallPlans& out);

// The run-time side (plan lookup, usability, evaluator end state, frame
// values) is inline in script/call_plan_run.h.

}  // namespace zk
