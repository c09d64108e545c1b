// Brings the whole engine back to where a process starts: every
// subsystem's state, in start-up's order, with no hooks, no command
// handlers and no system-variable access installed. For tests and tools
// that run several engines, or parts of one, in one process. The platform's
// installed doubles (window system, clock, UI) are the caller's and stay.
#pragma once

namespace zk {

void ResetEngine();

}  // namespace zk
