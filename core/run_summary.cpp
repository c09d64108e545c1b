#include "core/run_summary.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace zk {

namespace {

// The cause in the low byte, a fatal error's number above it: one word, so
// a cause and its number are noted together or not at all.
std::atomic<uint64_t> stop_note{0};

void Note(uint64_t word) {
    uint64_t expected = 0;
    stop_note.compare_exchange_strong(expected, word);
}

std::string SignalName(int signal_number) {
    if (signal_number == SIGINT) return "SIGINT";
    if (signal_number == SIGTERM) return "SIGTERM";
    if (signal_number > 0) return "signal " + std::to_string(signal_number);
    return "a signal";
}

// Six digits, as error numbers are written everywhere.
std::string ErrorNumber(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof(text), "%06u", static_cast<unsigned>(code));
    return text;
}

std::string WithNote(std::string text, const std::string& note) {
    if (!note.empty()) text += ": " + note;
    return text;
}

}  // namespace

void NoteStopCause(StopCause cause) {
    if (cause != StopCause::kNone) Note(static_cast<uint64_t>(cause));
}

void NoteFatalError(uint32_t code) { Note(static_cast<uint64_t>(StopCause::kFatalError) | uint64_t{code} << 8); }

StopCause TheStopCause() { return static_cast<StopCause>(stop_note.load() & 0xFF); }

uint32_t StopErrorCode() { return static_cast<uint32_t>(stop_note.load() >> 8); }

void ResetStopCause() { stop_note = 0; }

std::string DescribeRunEnd(const RunEndFacts& facts) {
    std::string how;
    if (!facts.main_loop_ran) {
        std::string note = facts.startup_note;
        if (note.empty() && facts.cause == StopCause::kFatalError) note = "fatal error " + ErrorNumber(facts.error_code);
        how = WithNote(facts.startup_failed ? "start-up failed" : "ended at start-up", note);
    } else {
        switch (facts.cause) {
            case StopCause::kFrameLimit: how = "frame limit reached"; break;
            case StopCause::kGame: how = "stopped by the game"; break;
            case StopCause::kCloseRequest:
            case StopCause::kNone:  // not reached: the main loop notes a cause when it ends
                how = "stopped by a close request";
                break;
            case StopCause::kFatalError: how = "stopped by fatal error " + ErrorNumber(facts.error_code); break;
            case StopCause::kSignal: how = "stopped by " + SignalName(facts.signal_number); break;
        }
    }
    return "zorvek: " + std::to_string(facts.frames) + (facts.frames == 1 ? " frame, " : " frames, ") + how;
}

}  // namespace zk
