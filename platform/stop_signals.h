// Requests from the host to end the program: SIGINT (Ctrl+C in a terminal)
// and SIGTERM (kill, a service manager, the desktop logging out). The engine
// answers them as a close request, so shutdown runs in order: the handler
// only records the signal, and the window systems turn that record into the
// thread message WM_HOST_CLOSE_REQUEST the next time the main thread takes
// its messages.
#pragma once

namespace zk::platform {

// Installs the handlers for SIGINT and SIGTERM (the launcher calls it once,
// before the engine starts). Each handler stands for one request: a second
// signal of the same kind ends the process at once, so a shutdown that
// hangs can still be stopped.
void InstallStopSignalHandlers();

// The first stop signal received (SIGINT or SIGTERM), or 0.
int StopSignalReceived();

// True once for each received request that has not been taken yet.
bool TakeStopRequest();

}  // namespace zk::platform
