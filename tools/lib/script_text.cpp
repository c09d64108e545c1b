#include "tools/lib/script_text.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <stdexcept>
#include <vector>

#include "script/script_file.h"
#include "tools/lib/command_defs.h"
#include "tools/lib/expr_assembler.h"

namespace zk::tools {

namespace {

constexpr uint8_t kIntegerType = 1;  // integer arithmetic
constexpr uint8_t kRealType = 2;     // double arithmetic
constexpr uint8_t kTextType = 16;    // text result
constexpr uint8_t kRealValueType = 7;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// The first word and the rest.
std::pair<std::string_view, std::string_view> FirstWord(std::string_view s) {
    s = Trim(s);
    size_t end = 0;
    while (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end])) && s[end] != '(') ++end;
    return {s.substr(0, end), Trim(s.substr(end))};
}

// The first position outside quotes, parentheses and brackets where
// `stop(i)` is true (a backslash in quotes escapes the next character), or
// nullopt.
template <typename Stop>
std::optional<size_t> FindTopLevel(std::string_view s, Stop stop) {
    int depth = 0;
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quoted) {
            if (c == '\\') ++i;
            else if (c == '"') quoted = false;
            continue;
        }
        if (c == '"') quoted = true;
        else if (c == '(' || c == '[') ++depth;
        else if (c == ')' || c == ']') --depth;
        else if (depth == 0 && stop(i)) return i;
    }
    return std::nullopt;
}

// Splits at `separator` outside quotes, parentheses and brackets.
std::vector<std::string_view> SplitTopLevel(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    FindTopLevel(s, [&](size_t i) {
        if (s[i] == separator) {
            parts.push_back(Trim(s.substr(start, i - start)));
            start = i + 1;
        }
        return false;
    });
    if (!Trim(s.substr(start)).empty() || !parts.empty()) parts.push_back(Trim(s.substr(start)));
    return parts;
}

// The position of a top-level assignment '=' (not part of == <= >= !=).
std::optional<size_t> AssignPosition(std::string_view s) {
    return FindTopLevel(s, [s](size_t i) {
        if (s[i] != '=') return false;
        const char before = i > 0 ? s[i - 1] : ' ';
        const char after = i + 1 < s.size() ? s[i + 1] : ' ';
        return !(after == '=' || before == '=' || before == '<' || before == '>' || before == '!');
    });
}

uint8_t OperatorOf(char c) {
    switch (c) {
        case '+': return 1;
        case '-': return 2;
        case '*': return 3;
        case '/': return 4;
        case '%': return 5;
        default: return 0;
    }
}

struct OpenConstruct {
    bool loop = false;
    int line = 0;  // the source line of its if or loop
    uint32_t begin = 0;
    std::optional<uint32_t> last_branch;  // the if or else-if whose next branch is still open
};

// The most elements one variable may hold, and the highest variable number.
constexpr int64_t kMaxElements = 4'000'000;
constexpr uint32_t kMaxVariableNumber = 65535;
constexpr size_t kMaxLabelLength = 255;

bool IsName(std::string_view name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front()))) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// A comparison or logical operator outside quotes and brackets: the
// expression is a number (1 or 0) whatever its operands.
bool HasComparison(std::string_view s) {
    return FindTopLevel(s, [s](size_t i) {
               const char c = s[i];
               const char next = i + 1 < s.size() ? s[i + 1] : ' ';
               return c == '<' || c == '>' || (c == '=' && next == '=') || (c == '!' && next == '=') ||
                      (c == '&' && next == '&') || (c == '|' && next == '|');
           }).has_value();
}

// The variable an assignment target names: "x" of "x[2, 3]".
std::string_view TargetName(std::string_view target) {
    return Trim(target.substr(0, std::min(target.find('['), target.size())));
}

}  // namespace

ScriptText::ScriptText() {
    game.commands = EngineCommandDefinitions();
    game.variable_table.highest_number = 1100;
}

uint16_t ScriptText::Variable(std::string_view name) const {
    auto it = symbols_.find(name);
    if (it == symbols_.end()) throw std::invalid_argument("no variable " + std::string(name));
    return it->second;
}

ScriptText::ValueType ScriptText::TypeOf(std::string_view expression) const {
    ValueType type = ValueType::kInteger;
    for (size_t i = 0; i < expression.size();) {
        const char c = expression[i];
        if (c == '"') return ValueType::kText;
        if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < expression.size() && (std::isalnum(static_cast<unsigned char>(expression[end])) || expression[end] == '.')) {
                if (expression[end] == '.') type = ValueType::kReal;
                ++end;
            }
            i = end;
            continue;
        }
        if (c == '#' || c == '`') {
            // A reference to a variable (its number) is an integer, whatever
            // the variable holds.
            ++i;
            while (i < expression.size() && (std::isalnum(static_cast<unsigned char>(expression[i])) || expression[i] == '_')) ++i;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t end = i;
            while (end < expression.size() && (std::isalnum(static_cast<unsigned char>(expression[end])) || expression[end] == '_')) ++end;
            const std::string_view word = expression.substr(i, end - i);
            if (word == "str") return ValueType::kText;
            auto it = types_.find(word);
            if (it != types_.end()) {
                if (it->second == ValueType::kText) return ValueType::kText;
                if (it->second == ValueType::kReal) type = ValueType::kReal;
            }
            i = end;
            continue;
        }
        ++i;
    }
    return type;
}

void ScriptText::Declare(uint8_t type, std::string_view rest) {
    VariableDef definition;
    definition.type = type;
    std::string_view declaration = rest;
    std::string_view initial;
    if (std::optional<size_t> at = AssignPosition(rest)) {
        declaration = Trim(rest.substr(0, *at));
        initial = Trim(rest.substr(*at + 1));
    }
    // "int name[17] at 53": the record of a system variable, by its number.
    if (size_t at = declaration.rfind(" at "); at != std::string_view::npos) {
        const int number = std::stoi(std::string(Trim(declaration.substr(at + 4))));
        if (number < 0 || static_cast<uint32_t>(number) > kMaxVariableNumber)
            throw std::invalid_argument("variable number out of range 0..65535");
        definition.number = static_cast<uint16_t>(number);
        declaration = Trim(declaration.substr(0, at));
    } else {
        if (next_variable_ > kMaxVariableNumber) throw std::invalid_argument("too many variables (at most 64536)");
        definition.number = static_cast<uint16_t>(next_variable_++);
    }
    std::string_view name = declaration;
    if (size_t bracket = declaration.find('['); bracket != std::string_view::npos) {
        name = Trim(declaration.substr(0, bracket));
        const size_t close = declaration.rfind(']');
        if (close == std::string_view::npos || close < bracket) throw std::invalid_argument("missing ]");
        const std::string_view sizes = declaration.substr(bracket + 1, close - bracket - 1);
        int64_t elements = 1;
        for (std::string_view size : SplitTopLevel(sizes, ',')) {
            const int value = std::stoi(std::string(size));
            if (value < 1) throw std::invalid_argument("an array size must be at least 1");
            elements *= value;
            if (elements > kMaxElements) throw std::invalid_argument("more than 4000000 elements in one variable");
            definition.sizes.push_back(value);
        }
    }
    if (!IsName(name)) throw std::invalid_argument("not a variable name: " + std::string(name));
    if (types_.contains(name)) throw std::invalid_argument("variable " + std::string(name) + " declared twice");
    if (!initial.empty()) {
        if (type != 3 && TypeOf(initial) == ValueType::kText && !HasComparison(initial))
            throw std::invalid_argument("a text cannot be the value of " + std::string(type == 1 ? "int " : "real ") +
                                        std::string(name));
        if (type == 1) definition.integer_value = std::stoll(std::string(initial), nullptr, 0);
        if (type == 2) definition.real_value = std::stod(std::string(initial));
        if (type == 3) definition.text_code = CompileInfix(initial);
    }
    symbols_[std::string(name)] = definition.number;
    types_[std::string(name)] = type == 1 ? ValueType::kInteger : type == 2 ? ValueType::kReal : ValueType::kText;
    // The variable table reaches the highest number declared.
    game.variable_table.highest_number = std::max<uint32_t>(game.variable_table.highest_number, definition.number);
    game.variables.definitions.push_back(std::move(definition));
}

void ScriptText::DefineLabel(std::string_view name, const SourcePlace& place) {
    if (name.empty()) throw std::invalid_argument("label without a name");
    if (name.size() > kMaxLabelLength) throw std::invalid_argument("label name longer than 255 bytes");
    auto it = labels_.find(name);
    if (it != labels_.end())
        throw std::invalid_argument("label " + std::string(name) + " already defined at " + it->second.file + ":" +
                                    std::to_string(it->second.line));
    labels_.emplace(std::string(name), place);
}

void ScriptText::ReferLabel(std::string_view name, const SourcePlace& place) {
    label_references_.emplace_back(std::string(name), place);
}

void ScriptText::CheckLabels() const {
    for (const auto& [name, place] : label_references_)
        if (!labels_.contains(name)) throw ScriptCompileError(place.file, place.line, "no label " + name);
}

void ScriptText::Compile(uint16_t file_number, std::string_view name, std::string_view text) {
    ScriptBuilder& script = game.Script(file_number, std::string(name));
    std::vector<OpenConstruct> open;
    auto depth = [&](bool loops) {
        uint8_t n = 0;
        for (const OpenConstruct& c : open) n += c.loop == loops ? 1 : 0;
        return n;
    };
    auto expression = [&](std::string_view source) { return CompileInfix(Trim(source), symbols_); };
    auto number_type = [&](std::string_view source) {
        return TypeOf(source) == ValueType::kReal ? kRealType : kIntegerType;
    };
    // A keyword record by the keyword's value kind: a number keyword that
    // names a text variable (a result element) takes the text entry.
    auto keyword_record = [&](std::string_view command, std::string_view assignment) {
        const CommandEntry* entry = FindCommandEntry(command);
        if (entry == nullptr) throw std::invalid_argument("no command " + std::string(command));
        std::optional<size_t> at = AssignPosition(assignment);
        if (!at) {
            // A lone value is the first keyword's: "leave 2".
            if (entry->keywords.empty()) throw std::invalid_argument("no keywords");
            const uint8_t type = entry->keywords[0].value_kind == 1 ? kIntegerType : number_type(assignment);
            return CodeArg(0, type, expression(assignment));
        }
        std::string_view keyword = Trim(assignment.substr(0, *at));
        uint8_t op = 0;
        if (!keyword.empty() && OperatorOf(keyword.back()) != 0) {
            op = OperatorOf(keyword.back());
            keyword = Trim(keyword.substr(0, keyword.size() - 1));
        }
        const std::string_view value = assignment.substr(*at + 1);
        const int number = KeywordNumber(*entry, keyword);
        if (number < 0) throw std::invalid_argument("no keyword " + std::string(keyword));
        const KeywordDef& definition = entry->keywords[static_cast<size_t>(number)];
        uint8_t type = definition.value_kind == 1 ? kIntegerType : number_type(value);
        if (definition.value_kind == 0 && TypeOf(value) == ValueType::kText) type = kTextType;
        return CodeArg(static_cast<uint8_t>(number), type, expression(value), op);
    };

    size_t line_number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++line_number;
        if (line.empty() || line.front() == '#') continue;
        try {
            auto [word, rest] = FirstWord(line);
            script.SetLine(static_cast<int32_t>(line_number));
            const SourcePlace place{std::string(name), static_cast<int>(line_number)};
            if (word == "int" || word == "real" || word == "str") {
                Declare(word == "int" ? 1 : word == "real" ? 2 : 3, rest);
            } else if (word == "label") {
                DefineLabel(rest, place);
                script.Label(std::string(rest), depth(false), depth(true));
            } else if (word == "jump") {
                if (rest.empty()) throw std::invalid_argument("jump without a label");
                ReferLabel(rest, place);
                script.Jump(rest);
            } else if (word == "if") {
                const uint32_t index = script.BlockBegin(expression(rest));
                script.File().commands[index].args[0].expr_type = number_type(rest);
                open.push_back({false, static_cast<int>(line_number), index, index});
            } else if (word == "elseif" || word == "else") {
                if (open.empty() || open.back().loop || !open.back().last_branch) throw std::invalid_argument("no if");
                script.Add(45);
                uint32_t branch = word == "else" ? script.Add(11)
                                                 : script.Add(11, {CodeArg(0, number_type(rest), expression(rest)), TargetArg(0)});
                script.SetTarget(*open.back().last_branch, 2, branch);
                open.back().last_branch = word == "else" ? std::nullopt : std::optional<uint32_t>(branch);
            } else if (word == "loop") {
                std::vector<uint8_t> count = rest.empty() ? ExprAssembler().Int(-1).Take() : expression(rest);
                const uint32_t index = script.LoopBegin(std::move(count));
                open.push_back({true, static_cast<int>(line_number), index, std::nullopt});
            } else if (word == "end") {
                if (open.empty()) throw std::invalid_argument("end without if or loop");
                if (!rest.empty()) throw std::invalid_argument("end takes nothing after it");
                const OpenConstruct construct = open.back();
                open.pop_back();
                const uint32_t closing = script.Add(construct.loop ? 58 : 48);
                script.SetTarget(construct.begin, construct.loop ? 2 : 3, closing);
            } else if (word == "break" || word == "continue") {
                std::vector<ScriptArg> args;
                if (!rest.empty()) args.push_back(CodeArg(0, kIntegerType, expression(rest)));
                script.Add(word == "break" ? 56 : 57, std::move(args));
            } else if (word == "wait" && rest.find('=') == std::string_view::npos) {
                auto [count, unit] = FirstWord(rest);
                script.Add(104, {CodeArg(unit == "ms" ? 1 : 0, kIntegerType, expression(count))});
            } else if (word == "call" || word == "return") {
                std::string_view target = rest;
                std::string_view values;
                if (size_t paren = rest.find('('); paren != std::string_view::npos) {
                    target = Trim(rest.substr(0, paren));
                    values = rest.substr(paren + 1, rest.rfind(')') - paren - 1);
                }
                const bool call = word == "call";
                if (call && target.empty()) throw std::invalid_argument("call without a label");
                if (call) ReferLabel(target, place);
                const int base = call ? 0 : -1;  // value i of a kind is keyword base + i (+16, +32)
                CallValueCounts counts;
                ScriptCommand command;
                command.code = call ? 43 : 79;
                if (call) command.args.push_back(CodeArg(0, kTextType, TextLiteralCode(target)));
                for (std::string_view value : SplitTopLevel(values, ',')) {
                    switch (TypeOf(value)) {
                        case ValueType::kInteger:
                            ++counts.integers;
                            command.args.push_back(CodeArg(static_cast<uint8_t>(base + counts.integers), kIntegerType, expression(value)));
                            break;
                        case ValueType::kReal:
                            ++counts.reals;
                            command.args.push_back(CodeArg(static_cast<uint8_t>(base + 16 + counts.reals), kRealValueType, expression(value)));
                            break;
                        case ValueType::kText:
                            ++counts.texts;
                            command.args.push_back(CodeArg(static_cast<uint8_t>(base + 32 + counts.texts), kIntegerType, expression(value)));
                            break;
                    }
                }
                command.info = PackCallInfo(counts);
                script.Add(std::move(command));
            } else if (word == "task" && (FirstWord(rest).first == "start" || FirstWord(rest).first == "end")) {
                auto [action, after] = FirstWord(rest);
                auto [task_name, more] = FirstWord(after);
                if (action == "start") {
                    std::vector<std::string_view> options = SplitTopLevel(more, ',');
                    const std::string_view label = options.empty() ? std::string_view() : options[0];
                    if (!label.empty()) ReferLabel(label, place);
                    std::vector<ScriptArg> args = {CodeArg(0, kIntegerType, TextLiteralCode(task_name)),
                                                   CodeArg(34, kIntegerType, TextLiteralCode(label))};
                    for (size_t k = 1; k < options.size(); ++k) args.push_back(keyword_record("task", options[k]));
                    script.Add(95, std::move(args));
                } else if (action == "end") {
                    std::vector<ScriptArg> args;
                    if (!task_name.empty()) args.push_back(CodeArg(0, kIntegerType, TextLiteralCode(task_name)));
                    script.Add(96, std::move(args));
                }
            } else if (word.size() > 3 && word.substr(0, 3) == "cmd" &&
                       std::isdigit(static_cast<unsigned char>(word[3]))) {
                script.Add(static_cast<uint8_t>(std::stoi(std::string(word.substr(3)))));
            } else if (FindCommandEntry(word) != nullptr) {
                std::vector<ScriptArg> args;
                for (std::string_view option : SplitTopLevel(rest, ',')) args.push_back(keyword_record(word, option));
                script.Add(CommandCode(word), std::move(args));
            } else if (std::optional<size_t> at = AssignPosition(line)) {
                std::string_view target = Trim(line.substr(0, *at));
                uint8_t op = 0;
                if (!target.empty() && OperatorOf(target.back()) != 0) {
                    op = OperatorOf(target.back());
                    target = Trim(target.substr(0, target.size() - 1));
                }
                const std::string_view value = line.substr(*at + 1);
                auto type = types_.find(TargetName(target));
                if (type == types_.end() && IsName(TargetName(target)))
                    throw std::invalid_argument("undeclared variable " + std::string(TargetName(target)));
                if (type != types_.end() && type->second != ValueType::kText && TypeOf(value) == ValueType::kText &&
                    !HasComparison(value))
                    throw std::invalid_argument("a text cannot be assigned to " +
                                                std::string(type->second == ValueType::kReal ? "real " : "int ") +
                                                std::string(type->first));
                script.Add(53, {CodeArg(0, kIntegerType, expression(target), op),
                                CodeArg(1, number_type(value), expression(value))});
            } else {
                throw std::invalid_argument("unknown statement");
            }
        } catch (const std::invalid_argument& e) {
            throw ScriptCompileError(std::string(name), static_cast<int>(line_number),
                                     std::string(e.what()) + ": " + std::string(line));
        } catch (const std::out_of_range&) {
            throw ScriptCompileError(std::string(name), static_cast<int>(line_number),
                                     "number out of range: " + std::string(line));
        }
    }
    // The construct still open is the one whose end is missing.
    if (!open.empty())
        throw ScriptCompileError(std::string(name), open.back().line,
                                 std::string(open.back().loop ? "loop" : "if") + " without end");
}

ScriptText ScriptGame(std::string_view text) {
    ScriptText script;
    script.Compile(0, "main.txt", text);
    return script;
}

}  // namespace zk::tools
