// The expression evaluator over arbitrary byte code, against a small set of
// variables of every type (with dimensions, a text, system variables and a
// reference reader). Every entry type is reachable, and so are the
// declaration mode and the assignment command, which write variables.
//
// Input: byte 0 picks the entry type (low 5 bits), declaration mode (bit 5)
// and the assignment command (bit 6); with the assignment command byte 1
// splits the rest into the target's code and the value's, and byte 2 is the
// assignment operator. The rest is byte code.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "platform/ui.h"
#include "script/assign.h"
#include "script/command_table.h"
#include "script/evaluator_setup.h"
#include "script/expr_eval.h"
#include "script/system_variable_hooks.h"
#include "script/variables.h"

namespace {

// Reports go nowhere: the fuzzer only cares that they are safe.
class SilentUi final : public zk::platform::Ui {
public:
    int MessageBox(zk::platform::WindowHandle, std::string_view, const char*, uint32_t) override { return 1; }
    int ErrorDialog(const zk::platform::ErrorDialogRequest&) override { return zk::platform::kErrorDialogExitButton; }
};

zk::VariableShape Shape(std::initializer_list<int32_t> sizes) {
    zk::VariableShape shape;
    for (int32_t size : sizes) shape.sizes[shape.dimension_count++] = size;
    return shape;
}

// A fresh variable set for every input: assignments change them.
void MakeVariables() {
    zk::CreateVariableTable(1010);
    zk::FillIntegerVariable(*zk::FindVariable(1000), Shape({4}), 3);
    zk::FillRealVariable(*zk::FindVariable(1001), Shape({3}), 2.5);
    zk::FillStringVariable(*zk::FindVariable(1002), Shape({2}), "text");
    zk::FillIntegerVariable(*zk::FindVariable(1003), Shape({3, 4}), -1);
    zk::FillStringVariable(*zk::FindVariable(1004), Shape({}), std::string(3000, 'x'));
    zk::FillIntegerVariable(*zk::FindVariable(50), Shape({1}), 0);   // a reference reader
    zk::FillRealVariable(*zk::FindVariable(10), Shape({2}), 0.0);    // system real
    zk::FillStringVariable(*zk::FindVariable(12), Shape({9}), "");   // system text
    zk::FillIntegerVariable(*zk::FindVariable(150), Shape({}), 0);   // system integer
}

void Setup() {
    static SilentUi ui;
    zk::platform::InstallUi(&ui);
    zk::FillEvaluatorTables();
    zk::InstallEvaluatorCommands();
    zk::SystemVariableAccess().read_integer = [](uint32_t number, int64_t element) -> int64_t {
        // The reference reader reads through its reference, as the real one will.
        if (number == 50) return zk::GetIntegerElement(static_cast<uint32_t>(static_cast<uint64_t>(element) >> 32),
                                                       static_cast<int32_t>(element));
        return element;
    };
    zk::SystemVariableAccess().read_text = [](uint32_t, std::span<char> out, int64_t) -> size_t {
        std::memcpy(out.data(), "sys", 4);
        return 3;
    };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 1) return 0;
    zk::ResetErrorReporter();
    zk::ResetEngineState();
    MakeVariables();

    const uint8_t mode = data[0];
    std::span<const uint8_t> code(data + 1, size - 1);
    static std::vector<char> text(zk::kExprTextSize);

    if ((mode & 0x40) != 0 && code.size() >= 2) {
        // Command 53 with two records over the rest of the input.
        const size_t split = std::min<size_t>(code[0], code.size() - 2);
        const uint8_t op = code[1];
        std::vector<uint8_t> bytes(code.begin() + 2, code.end());
        std::vector<uint8_t> args(24, 0);
        args[2] = static_cast<uint8_t>(mode & 0x1F);
        args[3] = op;
        const uint32_t target_length = static_cast<uint32_t>(split);
        const uint32_t value_length = static_cast<uint32_t>(bytes.size() - split);
        std::memcpy(&args[4], &target_length, 4);
        args[12] = 1;
        args[14] = static_cast<uint8_t>((mode & 0x1F) % 5);
        std::memcpy(&args[16], &value_length, 4);
        std::memcpy(&args[20], &target_length, 4);
        zk::RunningCommand command;
        command.code = zk::kCmdAssign;
        command.index = 0;
        command.command_count = 1;
        command.arg_count = 2;
        command.args = args;
        command.data = bytes;
        if (!zk::SetRunningCommand(command)) __builtin_trap();
        zk::CmdAssign();
        zk::ClearRunningCommand();
        return 0;
    }

    zk::SetExprDeclaring((mode & 0x20) != 0);
    zk::ExprValue value = zk::EvaluateExpr(mode & 0x1F, code, text);
    zk::SetExprDeclaring(false);
    if (value.text_length >= text.size()) __builtin_trap();
    if (text[value.text_length] != '\0' && value.text_length != 0) __builtin_trap();
    if (zk::ExprSubscripts().size() > static_cast<size_t>(zk::kMaxSubscripts)) __builtin_trap();
    return 0;
}
