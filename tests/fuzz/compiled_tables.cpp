// The boot tables' parsers over arbitrary bytes. The first byte picks the
// table (zkc, zkt, zkt_list, zkl, zkv); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "script/compiled_tables.h"
#include "script/labels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::span<const uint8_t> bytes(data + 1, size - 1);
    switch (data[0] % 5) {
        case 0: {
            zk::CommandDefinitionTable table;
            if (zk::ParseCommandDefinitions(std::vector<uint8_t>(bytes.begin(), bytes.end()), table) == 0) {
                // Views must stay inside the kept block after a move.
                zk::CommandDefinitionTable moved = std::move(table);
                volatile size_t sink = 0;
                for (const auto& command : moved.commands) {
                    for (char c : command.name) sink = sink + static_cast<unsigned char>(c);
                    for (const auto& keyword : command.keywords) sink = sink + keyword.name.size();
                }
                for (auto text : moved.errno_texts) sink = sink + text.size();
            }
            break;
        }
        case 1: {
            zk::VariableTableInfo info;
            zk::ParseVariableTableInfo(bytes, info);
            break;
        }
        case 2: {
            zk::ScriptFileList list;
            int64_t bad = 0;
            zk::ParseScriptFileList(bytes, list, bad);
            break;
        }
        case 3: {
            zk::LabelTable table;
            if (zk::ParseLabelTable(bytes, 64, table)) {
                for (const auto& entry : table.entries) {
                    if (zk::FindLabelIn(table, entry.name) < 0) __builtin_trap();
                }
                zk::FindLabelIn(table, "SYSTEM_START");
            }
            break;
        }
        case 4: {
            zk::VariableDefinitionTable table;
            if (zk::ParseVariableDefinitions(std::vector<uint8_t>(bytes.begin(), bytes.end()), table) == 0) {
                volatile size_t sink = 0;
                for (const auto& definition : table.records) {
                    sink = sink + zk::DefinitionTextCode(table, definition).size();
                }
            }
            break;
        }
    }
    return 0;
}
