#include "tools/lib/script_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/hashes.h"
#include "storage/descramble.h"
#include "tools/lib/byte_writer.h"

namespace zk::tools {

namespace {

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, const std::optional<size_t>& truncate_to) {
    if (truncate_to && *truncate_to < bytes.size()) bytes.resize(*truncate_to);
    return bytes;
}

uint32_t CheckValueOf(const LabelDef& label) {
    return label.check_value ? *label.check_value
                             : MurmurHash2(std::string_view(label.name), static_cast<uint32_t>(label.name.size()));
}

void Scramble(std::vector<uint8_t>& section, const std::array<uint8_t, 4>& key) {
    for (size_t i = 0; i < section.size(); ++i) section[i] ^= key[i % 4];
}

}  // namespace

// ---- zkc.zbn ----------------------------------------------------------------

std::vector<uint8_t> BuildZkc(const ZkcFile& file) {
    ByteWriter w;
    for (int i = 0; i < 8; ++i) w.U8(0);
    w.I32(file.count ? *file.count : static_cast<int32_t>(file.commands.size()));
    w.U32(0);
    for (const CommandDef& command : file.commands) {
        w.CString(command.name);
        w.U8(static_cast<uint8_t>(command.keywords.size()));
        for (const KeywordDef& keyword : command.keywords) {
            w.CString(keyword.name);
            w.U8(keyword.value_kind);
            w.U8(keyword.range_kind);
        }
    }
    for (const std::string& text : file.errno_texts) w.CString(text);
    w.Bytes(std::span<const uint8_t>(file.key_number_map));
    return Cut(w.Take(), file.truncate_to);
}

ZkcFile GenericCommandDefinitions(int keywords) {
    ZkcFile file;
    for (int code = 0; code <= 120; ++code) {
        CommandDef command;
        command.name = "cmd" + std::to_string(code);
        for (int k = 0; k < keywords; ++k) command.keywords.push_back({"k" + std::to_string(k), 0, 0});
        file.commands.push_back(std::move(command));
    }
    for (size_t n = 0; n < file.errno_texts.size(); ++n) file.errno_texts[n] = "errno " + std::to_string(n);
    for (size_t k = 0; k < file.key_number_map.size(); ++k) file.key_number_map[k] = static_cast<uint8_t>(k);
    return file;
}

// ---- zkt.zbn ----------------------------------------------------------------

std::vector<uint8_t> BuildZkt(const ZktFile& file) {
    ByteWriter w;
    w.U32(0);
    w.U32(file.version);
    w.U32(file.highest_number);
    w.U32(file.system_value_124);
    return Cut(w.Take(), file.truncate_to);
}

// ---- zkt_list.zbn -----------------------------------------------------------

std::vector<uint8_t> BuildZktList(const ZktListFile& file) {
    ByteWriter w;
    for (int i = 0; i < 8; ++i) w.U8(0);
    w.I32(file.count ? *file.count : static_cast<int32_t>(file.files.size()));
    for (const ScriptListEntry& entry : file.files) {
        w.I32(entry.file_number);
        w.I32(entry.name_length ? *entry.name_length : static_cast<int32_t>(entry.name.size()));
        w.Bytes(entry.name);
        for (uint32_t value : entry.unused) w.U32(value);
        w.U32(entry.per_file_value);
    }
    return Cut(w.Take(), file.truncate_to);
}

// ---- zkl.zbn ----------------------------------------------------------------

std::vector<LabelDef> SortedLabels(const ZklFile& file) {
    std::vector<LabelDef> labels = file.labels;
    if (file.sort) {
        std::stable_sort(labels.begin(), labels.end(), [](const LabelDef& a, const LabelDef& b) {
            return (CheckValueOf(a) >> 24) < (CheckValueOf(b) >> 24);
        });
    }
    return labels;
}

std::vector<uint8_t> BuildZkl(const ZklFile& file) {
    std::vector<LabelDef> labels = SortedLabels(file);
    std::array<uint32_t, 256> starts{};
    if (file.bucket_starts) {
        starts = *file.bucket_starts;
    } else {
        // Bucket b starts at the first label whose top byte is b or more.
        size_t i = 0;
        for (uint32_t b = 0; b < 256; ++b) {
            while (i < labels.size() && (CheckValueOf(labels[i]) >> 24) < b) ++i;
            starts[b] = static_cast<uint32_t>(i);
        }
    }
    ByteWriter w;
    for (int i = 0; i < 8; ++i) w.U8(0);
    w.I32(file.count ? *file.count : static_cast<int32_t>(labels.size()));
    for (uint32_t start : starts) w.U32(start);
    for (const LabelDef& label : labels) {
        w.U8(static_cast<uint8_t>(label.name.size()));
        w.Bytes(label.name);
        w.U32(CheckValueOf(label));
        w.U32(label.command_index);
        w.U16(label.file_number);
        w.U8(label.block_depth);
        w.U8(label.loop_depth);
    }
    return Cut(w.Take(), file.truncate_to);
}

// ---- zkv.zbn ----------------------------------------------------------------

std::vector<uint8_t> BuildZkv(const ZkvFile& file) {
    ByteWriter w;
    for (int i = 0; i < 8; ++i) w.U8(0);
    w.U16(file.count ? *file.count : static_cast<uint16_t>(file.definitions.size()));
    for (const VariableDef& definition : file.definitions) {
        w.U8(definition.scope);
        w.U8(definition.group);
        w.U16(definition.owner_file);
        w.U16(definition.number);
        w.U8(definition.type);
        w.U8(definition.dimension_count ? *definition.dimension_count : static_cast<uint8_t>(definition.sizes.size()));
        for (int32_t size : definition.sizes) w.I32(size);
        switch (definition.type) {
            case 1: w.I64(definition.integer_value); break;
            case 2: {
                uint64_t bits;
                static_assert(sizeof bits == sizeof definition.real_value);
                std::memcpy(&bits, &definition.real_value, sizeof bits);
                w.U64(bits);
                break;
            }
            case 3:
                w.U16(definition.text_code_length ? *definition.text_code_length
                                                  : static_cast<uint16_t>(definition.text_code.size()));
                w.Bytes(std::span<const uint8_t>(definition.text_code));
                break;
            default: break;
        }
    }
    return Cut(w.Take(), file.truncate_to);
}

// ---- zkt%05d.zbn ------------------------------------------------------------

std::vector<uint8_t> BuildScriptFile(const ScriptFileDef& file) {
    ByteWriter commands, args, data, lines;
    for (const ScriptCommand& command : file.commands) {
        commands.U8(command.code);
        commands.U8(command.arg_count ? *command.arg_count : static_cast<uint8_t>(command.args.size()));
        commands.U16(command.info);
        lines.I32(command.line);
        for (const ScriptArg& arg : command.args) {
            uint32_t offset = 0;
            uint32_t length = 0;
            if (arg.target) {
                length = *arg.target;
            } else {
                offset = static_cast<uint32_t>(data.Size());
                length = static_cast<uint32_t>(arg.code.size());
                data.Bytes(std::span<const uint8_t>(arg.code));
            }
            args.U8(arg.keyword);
            args.U8(0);
            args.U8(arg.expr_type);
            args.U8(arg.op);
            args.U32(arg.code_length ? *arg.code_length : length);
            args.U32(arg.code_offset ? *arg.code_offset : offset);
        }
    }
    data.Bytes(std::span<const uint8_t>(file.extra_data));

    std::array<std::vector<uint8_t>, 4> sections = {commands.Take(), args.Take(), data.Take(), lines.Take()};
    if (file.scramble) {
        BuildDescrambleTables();
        const std::array<uint8_t, 4> key = file.key ? *file.key : ScriptFileKey();
        for (std::vector<uint8_t>& section : sections) Scramble(section, key);
    }
    ByteWriter w;
    for (int i = 0; i < 8; ++i) w.U8(0);
    w.I32(file.command_count ? *file.command_count : static_cast<int32_t>(file.commands.size()));
    w.I32(file.commands_size ? *file.commands_size : static_cast<int32_t>(sections[0].size()));
    w.I32(file.arguments_size ? *file.arguments_size : static_cast<int32_t>(sections[1].size()));
    w.I32(file.data_size ? *file.data_size : static_cast<int32_t>(sections[2].size()));
    w.I32(file.lines_size ? *file.lines_size : static_cast<int32_t>(sections[3].size()));
    w.U32(0);
    for (const std::vector<uint8_t>& section : sections) w.Bytes(std::span<const uint8_t>(section));
    return Cut(w.Take(), file.truncate_to);
}

ScriptArg CodeArg(uint8_t keyword, uint8_t expr_type, std::vector<uint8_t> code, uint8_t op) {
    ScriptArg arg;
    arg.keyword = keyword;
    arg.expr_type = expr_type;
    arg.op = op;
    arg.code = std::move(code);
    return arg;
}

ScriptArg TargetArg(uint32_t target) {
    ScriptArg arg;
    arg.target = target;
    return arg;
}

std::vector<uint8_t> TextLiteralCode(std::string_view text) {
    ByteWriter w;
    w.U8('M');
    w.U16(static_cast<uint16_t>(text.size() + 2));
    w.U8('"');
    w.Bytes(text);
    w.U8('"');
    return w.Take();
}

std::vector<uint8_t> IntLiteralCode(int32_t value) {
    ByteWriter w;
    w.U8('I');
    w.U16(4);
    w.I32(value);
    return w.Take();
}

// ---- ScriptBuilder ----------------------------------------------------------

uint32_t ScriptBuilder::Add(ScriptCommand command) {
    uint32_t index = Here();
    if (command.line == 0) command.line = line_ != 0 ? line_ : static_cast<int32_t>(index + 1);
    file_.commands.push_back(std::move(command));
    return index;
}

uint32_t ScriptBuilder::Add(uint8_t code, std::vector<ScriptArg> args) {
    ScriptCommand command;
    command.code = code;
    command.args = std::move(args);
    return Add(std::move(command));
}

void ScriptBuilder::Label(std::string name, uint8_t block_depth, uint8_t loop_depth) {
    LabelDef label;
    label.name = std::move(name);
    label.command_index = Here();
    label.file_number = file_number_;
    label.block_depth = block_depth;
    label.loop_depth = loop_depth;
    labels_.push_back(std::move(label));
}

void ScriptBuilder::SetTarget(uint32_t command, size_t record, uint32_t target) {
    ScriptArg& arg = file_.commands.at(command).args.at(record - 1);
    arg.target = target;
    arg.code.clear();
}

uint32_t ScriptBuilder::Jump(std::string_view label) { return Add(42, {CodeArg(0, 16, TextLiteralCode(label))}); }

uint32_t ScriptBuilder::Call(std::string_view label, uint16_t info) {
    ScriptCommand command;
    command.code = 43;
    command.args = {CodeArg(0, 16, TextLiteralCode(label))};
    command.info = info;
    return Add(std::move(command));
}

uint32_t ScriptBuilder::BlockBegin(std::vector<uint8_t> condition, uint32_t next_branch, uint32_t end) {
    return Add(44, {CodeArg(0, 1, std::move(condition)), TargetArg(next_branch), TargetArg(end)});
}

uint32_t ScriptBuilder::LoopBegin(std::vector<uint8_t> count, uint32_t end) {
    return Add(55, {CodeArg(0, 1, std::move(count)), TargetArg(end)});
}

// ---- GameBuilder ------------------------------------------------------------

GameBuilder::GameBuilder() : commands(GenericCommandDefinitions()) {}

ScriptBuilder& GameBuilder::Script(uint16_t file_number, std::string name) {
    auto [it, inserted] = scripts_.try_emplace(file_number, file_number);
    if (!name.empty() || inserted) {
        names_[file_number] = name.empty() ? "file" + std::to_string(file_number) + ".txt" : std::move(name);
    }
    return it->second;
}

std::map<std::string, std::vector<uint8_t>> GameBuilder::Files() const {
    std::map<std::string, std::vector<uint8_t>> files;
    files["zkbin\\zke.zbn"] = BuildZke(error_texts);
    files["zkbin\\zkc.zbn"] = BuildZkc(commands);
    files["zkbin\\zkt.zbn"] = BuildZkt(variable_table);
    files["zkbin\\zkv.zbn"] = BuildZkv(variables);

    // File numbers 0..F-1 with F one past the highest script; gaps get a
    // record too, so the list stays dense as the compiler writes it.
    ZktListFile list;
    uint32_t file_count = scripts_.empty() ? 0 : uint32_t{scripts_.rbegin()->first} + 1;
    for (uint32_t number = 0; number < file_count; ++number) {
        ScriptListEntry entry;
        entry.file_number = static_cast<int32_t>(number);
        auto name = names_.find(static_cast<uint16_t>(number));
        entry.name = name != names_.end() ? name->second : "file" + std::to_string(number) + ".txt";
        list.files.push_back(std::move(entry));
    }
    files["zkbin\\zkt_list.zbn"] = BuildZktList(list);

    ZklFile labels;
    for (const auto& [number, script] : scripts_) {
        labels.labels.insert(labels.labels.end(), script.Labels().begin(), script.Labels().end());
        char name[32];
        std::snprintf(name, sizeof name, "zkbin\\zkt%05u.zbn", static_cast<unsigned>(number));
        files[name] = BuildScriptFile(script.File());
    }
    files["zkbin\\zkl.zbn"] = BuildZkl(labels);
    return files;
}

bool GameBuilder::WriteFiles(const std::filesystem::path& folder,
                             const std::map<std::string, std::vector<uint8_t>>& files) {
    for (const auto& [game_path, bytes] : files) {
        std::string relative = game_path;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        if (!WriteFile((folder / relative).string(), bytes)) return false;
    }
    return true;
}

bool GameBuilder::Write(const std::filesystem::path& folder) const { return WriteFiles(folder, Files()); }

GameBuilder IdleGame() {
    GameBuilder game;
    ScriptBuilder& main = game.Script(0, "main.txt");
    main.Label("SYSTEM_START");
    main.Add(104, {CodeArg(0, 1, IntLiteralCode(1))});
    main.Jump("SYSTEM_START");
    return game;
}

}  // namespace zk::tools
