// zk_dump: prints a compiled script table or script file readably.
//
//   zk_dump [--kind zkc|zkt|zkt_list|zkl|zkv|script] FILE...
//
// The kind comes from the file name unless given. For a script file the
// zkc.zbn, zkl.zbn and zkt_list.zbn beside it (when present and sound) name
// its commands, keywords and labels. Argument code is shown through the
// expression disassembler. Names are CP932 in the files and printed as
// UTF-8. A damaged file is reported as the engine would refuse it.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "platform/game_path.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "storage/descramble.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/expr_disassembler.h"
#include "base/text_encoding.h"

namespace zk::tools {
namespace {

std::string Utf8(std::string_view cp932) { return Cp932ToUtf8(cp932); }

std::string Sibling(const std::string& path, const char* name) {
    size_t slash = path.find_last_of('/');
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name;
}

std::string Indent(const std::string& text, const char* prefix) {
    std::istringstream lines(text);
    std::string line, out;
    while (std::getline(lines, line)) out += prefix + line + "\n";
    return out;
}

int Refused(const std::string& path, uint32_t error) {
    std::printf("%s: refused (error %u)\n", path.c_str(), static_cast<unsigned>(error));
    return 1;
}

int DumpZkc(const std::string& path, std::vector<uint8_t> bytes) {
    CommandDefinitionTable table;
    if (uint32_t error = ParseCommandDefinitions(std::move(bytes), table)) return Refused(path, error);
    std::printf("%s: %zu commands\n", path.c_str(), table.commands.size());
    for (size_t code = 0; code < table.commands.size(); ++code) {
        const CommandDefinition& command = table.commands[code];
        std::printf("  %3zu %s\n", code, Utf8(command.name).c_str());
        for (size_t k = 0; k < command.keywords.size(); ++k) {
            const KeywordDefinition& keyword = command.keywords[k];
            std::printf("        k%-3zu %-24s value %u range %u\n", k, Utf8(keyword.name).c_str(),
                        unsigned{keyword.value_kind}, unsigned{keyword.range_kind});
        }
    }
    std::printf("  errno texts:\n");
    for (size_t n = 0; n < table.errno_texts.size(); ++n) {
        std::printf("    %2zu %s\n", n, Utf8(table.errno_texts[n]).c_str());
    }
    std::printf("  KeyNumberMap:");
    for (size_t k = 0; k < table.key_number_map.size(); ++k) {
        std::printf("%s%3u", k % 16 == 0 ? "\n   " : " ", unsigned{table.key_number_map[k]});
    }
    std::printf("\n");
    return 0;
}

int DumpZkt(const std::string& path, const std::vector<uint8_t>& bytes) {
    VariableTableInfo info;
    if (uint32_t error = ParseVariableTableInfo(bytes, info)) return Refused(path, error);
    std::printf("%s: version %u, variables 0..%u, system variable 124 value %u\n", path.c_str(), info.version,
                info.highest_number, info.system_value_124);
    return 0;
}

int DumpZktList(const std::string& path, const std::vector<uint8_t>& bytes) {
    ScriptFileList list;
    int64_t bad = 0;
    if (uint32_t error = ParseScriptFileList(bytes, list, bad)) {
        if (error == kErrFileNumberOutOfList) std::printf("%s: file number %lld outside the list\n", path.c_str(), static_cast<long long>(bad));
        return Refused(path, error);
    }
    std::printf("%s: %zu files\n", path.c_str(), list.names.size());
    for (size_t n = 0; n < list.names.size(); ++n) {
        std::printf("  file %5zu  %-32s  value at record %zu: %u\n", n, Utf8(list.names[n]).c_str(), n,
                    list.per_file_values[n]);
    }
    return 0;
}

int DumpZkl(const std::string& path, const std::vector<uint8_t>& bytes) {
    // Labels name files the list may not be beside; accept any file number.
    LabelTable table;
    if (!ParseLabelTable(bytes, 0x10000, table)) return Refused(path, kErrFileUnreadable);
    std::printf("%s: %zu labels\n", path.c_str(), table.entries.size());
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const LabelEntry& label = table.entries[i];
        std::printf("  %6zu %-32s file %5u command %6u blocks %3u loops %2u check %08x\n", i,
                    Utf8(label.name).c_str(), unsigned{label.file_number}, label.command_index,
                    unsigned{label.block_depth}, unsigned{label.loop_depth}, label.check_value);
    }
    return 0;
}

int DumpZkv(const std::string& path, std::vector<uint8_t> bytes) {
    VariableDefinitionTable table;
    if (uint32_t error = ParseVariableDefinitions(std::move(bytes), table)) return Refused(path, error);
    std::printf("%s: %zu definitions\n", path.c_str(), table.records.size());
    for (const VariableDefinition& d : table.records) {
        std::string sizes;
        for (uint8_t i = 0; i < d.dimension_count; ++i) sizes += "[" + std::to_string(d.sizes[i]) + "]";
        std::printf("  var %5u%s scope %u group %u owner %u type %u", unsigned{d.number}, sizes.c_str(),
                    unsigned{d.scope}, unsigned{d.group}, unsigned{d.owner_file}, unsigned{d.type});
        switch (d.type) {
            case 1: std::printf(" = %lld\n", static_cast<long long>(d.integer_value)); break;
            case 2: std::printf(" = %g\n", d.real_value); break;
            case 3: std::printf(" =\n%s", Indent(DisassembleExpr(DefinitionTextCode(table, d)), "      ").c_str()); break;
            default: std::printf("\n"); break;
        }
    }
    return 0;
}

bool IsTargetRecord(uint8_t code, size_t record_number) {
    return (code == kCmdBlockBegin && (record_number == 2 || record_number == 3)) ||
           ((code == kCmdBlockElseIf || code == kCmdLoopBegin) && record_number == 2);
}

int DumpScript(const std::string& path, const std::vector<uint8_t>& bytes) {
    BuildDescrambleTables();
    ScriptFile file;
    if (uint32_t error = ParseScriptFile(bytes, ScriptFileKey(), file)) return Refused(path, error);

    // Names from the tables beside the file, when they read.
    CommandDefinitionTable commands;
    if (auto zkc = ReadFile(Sibling(path, "zkc.zbn"))) ParseCommandDefinitions(std::move(*zkc), commands);
    std::multimap<uint32_t, std::string> labels;
    std::smatch number;
    std::string base = path.substr(path.find_last_of('/') + 1);
    long file_number = -1;
    if (std::regex_search(base, number, std::regex("zkt(\\d{5})\\.zbn"))) file_number = std::stol(number[1]);
    if (auto zkl = ReadFile(Sibling(path, "zkl.zbn"))) {
        LabelTable table;
        if (ParseLabelTable(*zkl, 0x10000, table)) {
            for (size_t i = 0; i < table.entries.size(); ++i) {
                if (table.entries[i].file_number == file_number) {
                    labels.emplace(table.entries[i].command_index, Utf8(table.entries[i].name) + "  (label " + std::to_string(i) + ")");
                }
            }
        }
    }
    auto command_name = [&](uint8_t code) -> std::string {
        return code < commands.commands.size() ? Utf8(commands.commands[code].name) : "cmd" + std::to_string(code);
    };
    auto keyword_name = [&](uint8_t code, uint8_t keyword) -> std::string {
        if (code < commands.commands.size() && keyword < commands.commands[code].keywords.size()) {
            return Utf8(commands.commands[code].keywords[keyword].name);
        }
        return "k" + std::to_string(keyword);
    };

    std::printf("%s: %d commands, %zu argument records, %zu data bytes\n", path.c_str(), file.command_count,
                file.args.size() / kArgDescriptorSize, file.data.size());
    for (int32_t i = 0; i < file.command_count; ++i) {
        auto [first, last] = labels.equal_range(static_cast<uint32_t>(i));
        for (auto it = first; it != last; ++it) std::printf("%s:\n", it->second.c_str());
        const uint8_t code = file.codes[i];
        std::printf("  %5d  line %-6d %3u %s", i, file.lines[i], unsigned{code}, command_name(code).c_str());
        if (code == kCmdCallSubroutine || code == kCmdReturn) {
            CallValueCounts counts = UnpackCallInfo(file.info_words[i]);
            std::printf("  (integers %u, reals %u, texts %u)", unsigned{counts.integers}, unsigned{counts.reals},
                        unsigned{counts.texts});
        } else if (file.info_words[i] != 0) {
            std::printf("  (info %04x)", unsigned{file.info_words[i]});
        }
        std::printf("\n");
        for (uint8_t k = 0; k < file.arg_counts[i]; ++k) {
            std::optional<ArgDescriptor> record = ReadArgDescriptor(file.args, size_t{file.first_arg[i]} + k);
            if (!record) break;
            std::printf("         [%u] %s type %u op %u", k + 1u, keyword_name(code, record->keyword).c_str(),
                        unsigned{record->expr_type}, unsigned{record->op});
            if (IsTargetRecord(code, k + 1u)) {
                std::printf(" -> command %u\n", record->code_length);
                continue;
            }
            std::printf(" code %u@%u\n", record->code_length, record->code_offset);
            if (auto code_bytes = ArgCode(file.data, *record)) {
                std::printf("%s", Indent(DisassembleExpr(*code_bytes), "               ").c_str());
            }
        }
    }
    return 0;
}

int Dump(const std::string& path, std::string kind) {
    std::optional<std::vector<uint8_t>> bytes = ReadFile(path);
    if (!bytes) {
        std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
        return 1;
    }
    if (kind.empty()) {
        std::string base = path.substr(path.find_last_of('/') + 1);
        base = AsciiLower(base);
        if (std::regex_match(base, std::regex("zkt\\d{5}\\.zbn"))) kind = "script";
        else if (base == "zkc.zbn") kind = "zkc";
        else if (base == "zkt.zbn") kind = "zkt";
        else if (base == "zkt_list.zbn") kind = "zkt_list";
        else if (base == "zkl.zbn") kind = "zkl";
        else if (base == "zkv.zbn") kind = "zkv";
    }
    if (kind == "zkc") return DumpZkc(path, std::move(*bytes));
    if (kind == "zkt") return DumpZkt(path, *bytes);
    if (kind == "zkt_list") return DumpZktList(path, *bytes);
    if (kind == "zkl") return DumpZkl(path, *bytes);
    if (kind == "zkv") return DumpZkv(path, std::move(*bytes));
    if (kind == "script") return DumpScript(path, *bytes);
    std::fprintf(stderr, "%s: unknown kind; use --kind zkc|zkt|zkt_list|zkl|zkv|script\n", path.c_str());
    return 2;
}

}  // namespace
}  // namespace zk::tools

int main(int argc, char** argv) {
    std::string kind;
    int status = 0;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--kind" && i + 1 < argc) {
            kind = argv[++i];
            continue;
        }
        ++files;
        status |= zk::tools::Dump(arg, kind);
    }
    if (files == 0) {
        std::fprintf(stderr, "usage: zk_dump [--kind zkc|zkt|zkt_list|zkl|zkv|script] FILE...\n");
        return 2;
    }
    return status;
}
