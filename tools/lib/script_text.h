// A readable script front end for tests and the demo: one statement per
// line, lowered to compiled commands the way the script compiler lowers
// its own language (command_defs for keywords, infix for expressions,
// ScriptBuilder for records and targets).
//
//     int x                      declarations (global, zkv.zbn): int, real, str,
//     real r = 1.5               with sizes (int a[4, 2]) and an initial value
//     int args[17] at 53         the record of system variable 53, named args
//     label SYSTEM_START         a label at the next command
//     x = x + 1                  assignment (= += -= *= /= %=)
//     if x < 10 / elseif e / else / end
//     loop 5 / loop (endless) / break [n] / continue [n] / end
//     jump NAME
//     call NAME(1, 2.5, "a")     integer, real and text arguments by their type
//     return / return(1, "b")
//     wait 3 / wait 100 ms
//     task start NAME LABEL [kw=expr, ...]   command 95 with more keywords
//     task end [NAME]
//     CMD kw=expr, kw+=expr ...  any command of command_defs by name (a lone
//                                value is keyword 0: restart 2)
//     cmd120                     a command by code, without records
// Blank lines and lines starting with '#' are skipped. A line that does not
// compile throws ScriptCompileError naming the file and line. Every command
// records the source line it came from (the line table). Several files
// share one set of declarations and labels; CheckLabels() then finds the
// constant label names that no file defines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/lib/infix.h"
#include "tools/lib/script_writer.h"

namespace zk::tools {

// A compile error at a source line: what() is "file:line: message".
class ScriptCompileError : public std::invalid_argument {
public:
    ScriptCompileError(std::string file, int line, const std::string& message)
        : std::invalid_argument(file + ":" + std::to_string(line) + ": " + message),
          file_(std::move(file)),
          line_(line),
          message_(message) {}
    const std::string& File() const { return file_; }
    int Line() const { return line_; }
    const std::string& Message() const { return message_; }

private:
    std::string file_;
    int line_;
    std::string message_;
};

class ScriptText {
public:
    // A game with the engine's command definitions and room for 100
    // script variables (1000..1100).
    ScriptText();

    // Compiles `text` into script file `file_number` named `name`.
    void Compile(uint16_t file_number, std::string_view name, std::string_view text);

    // Throws ScriptCompileError for the first jump, call or task start
    // whose constant label no compiled file defines.
    void CheckLabels() const;
    bool HasLabel(std::string_view name) const { return labels_.contains(name); }

    // The number of a declared variable; throws for an unknown name.
    uint16_t Variable(std::string_view name) const;
    const InfixSymbols& Symbols() const { return symbols_; }

    GameBuilder game;

private:
    enum class ValueType { kInteger, kReal, kText };
    struct SourcePlace {
        std::string file;
        int line = 0;
    };
    ValueType TypeOf(std::string_view expression) const;
    void Declare(uint8_t type, std::string_view rest);
    void DefineLabel(std::string_view name, const SourcePlace& place);
    void ReferLabel(std::string_view name, const SourcePlace& place);

    InfixSymbols symbols_;
    std::map<std::string, SourcePlace, std::less<>> labels_;
    std::vector<std::pair<std::string, SourcePlace>> label_references_;
    std::map<std::string, ValueType, std::less<>> types_;
    uint16_t next_variable_ = 1000;
};

// A game whose file 0 ("main.txt") holds `text`.
ScriptText ScriptGame(std::string_view text);

}  // namespace zk::tools
