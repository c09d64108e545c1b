// The image operations whose code has not landed yet. Each reports the
// engine's "not built" error under command 2's name and fails, so a script
// never takes a missing operation for a success.
#include "core/error_report.h"
#include "effects/cg_operations.h"
#include "script/compiled_tables.h"

#include <string>

namespace zk {

namespace {
constexpr uint32_t kCmdEditCg = 2;

int32_t NotBuilt() {
    const std::string name(CommandName(kCmdEditCg));
    ReportScriptErrorF(kErrNotBuilt, true, {name});
    return -1;
}
}  // namespace

int32_t PasteSprite(NamedTreeNode*, NamedTreeNode*) { return NotBuilt(); }
int32_t CaptureLayerToCg(NamedTreeNode*, NamedTreeNode*) { return NotBuilt(); }

}  // namespace zk
