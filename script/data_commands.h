// The script machine's commands on values and variables: 60 (math and
// random numbers), 61 (position and scale), 94 and 103 (information) and
// 102 (conversions).
#pragma once

namespace zk {

// Puts their handlers into the command table (start-up).
void RegisterScriptDataCommands();

}  // namespace zk
