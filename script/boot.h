// The script machine's boot: the compiled tables in their fixed order, the
// global variables, the labels, and the task "SYSTEM" pointed at the label
// "SYSTEM_START".
#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

inline constexpr std::string_view kSystemStartLabel = "SYSTEM_START";
inline constexpr std::string_view kSystemTaskName = "SYSTEM";

// 0 success; 1 a table failed (already reported, except a missing label
// table or label "SYSTEM_START", which fail without a message); -1 the task
// "SYSTEM" is missing. The main initialisation quits on anything else than 0.
int32_t BootScriptSystem();

}  // namespace zk
