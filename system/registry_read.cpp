#include "system/registry_read.h"

#include "base/format.h"
#include "base/nul_text.h"
#include "script/command_table.h"
#include "script/variables.h"
#include "system/registry_store.h"

namespace zk {

std::string RegistryValueText(const std::vector<uint8_t>& bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    text = UpToNul(text);
    return std::string(text.substr(0, CutLength(text, kRegistryValueBuffer - 1)));
}

int32_t CmdReadRegistry() {
    if (DecodeCommandArgs(kCmdReadRegistry) != 0) return -1;
    const CommandArgBlock& args = Args();
    std::optional<RegistryPath> path;
    if (const CommandArgSlot* key = args.Find(0)) {
        path = SplitRegistryPath(UpToNul(key->Text()));
        if (!path) return 0;  // no known root: the element stays
    }
    const CommandArgSlot* result = args.Find(2);
    if (result == nullptr) return 0;
    const CommandArgSlot* name = args.Find(1);
    std::optional<std::vector<uint8_t>> value;
    if (path) value = ReadRegistryValue(path->root, path->sub_key, name != nullptr ? UpToNul(name->Text()) : "", kRegistryValueBuffer);
    const ScriptVariable* variable = FindVariable(result->var_number);
    if (variable == nullptr || !ElementInRange(*variable, result->var_element)) return 0;
    if (value) {
        if (variable->type == kVariableText) SetStringElement(result->var_number, result->var_element, RegistryValueText(*value));
    } else {
        ClearAnswerElement(result->var_number, result->var_element);
    }
    return 0;
}

void RegisterRegistryCommand() { RegisterCommandHandler(kCmdReadRegistry, CmdReadRegistry); }

}  // namespace zk
