// The process's spine: the program entry, the main initialisation with its
// one-time table set-up, the single-instance guard, and the orderly shutdown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/startup_notes.h"

namespace zk {

// What the host gives the program entry in place of WinMain's arguments.
struct ProgramEntry {
    // argv as the game sees it (argv[0] the program).
    std::vector<std::string> argv;
    // The executable's path as a game path; its folder is the game folder.
    std::string executable_path;
    int show_command = 1;
    // How to start this game again when a script asks for a restart: the
    // real executable and the launcher options that select this game, no
    // game arguments.
    std::vector<std::string> restart_command;
};

// Runs the engine: returns the final quit message's code, or 0 when
// start-up ended before the message loop.
int WinMain(const ProgramEntry& entry);

int8_t InitEngine(const ProgramEntry& entry);
void InitEngineTables();
void ShutdownEngine();

void ActivateRunningInstance(const std::string& class_name);
void ReleaseInstanceMutexes();

// -1 when the resource is missing.
int64_t GetBinResourceSize();

// True when start-up ended on a failure (not on a handled switch or a
// second instance), including a script that did not boot.
bool StartupFailed();


// Why start-up ended before the main loop although nothing failed (a
// handled switch, another engine holding one of the guards), in a few words
// for the launcher's closing line; empty when it did not end that way.
const std::string& StartupEndNote();
// True once start-up has reached the main loop.
bool MainLoopReached();

// Developer and test aid: at shutdown, write window 0's last composed frame
// to this host path as a PNG (empty: do nothing). Nothing is written when
// start-up did not reach the main loop: no frame was ever composed. False
// afterwards when no picture was written.
void SetLastFrameSnapshotPath(std::string host_path);
bool LastFrameSnapshotWritten();

// The restart flag of the engine command that ends the program (command
// 13): when set at shutdown, the executable is started again.
void SetRestartFlag(uint8_t value);
bool RestartFlagSet();


// Back to the start-of-process state (tests that run several engines).
void ResetStartupState();

}  // namespace zk
