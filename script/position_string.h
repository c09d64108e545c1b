// The PositionString: a printable text that captures a task's stacks and
// program counter, so that a script can keep it in a text variable (and in
// save data) and restart the task from it later.
//
// Numbers are hexadecimal digits written with the letters 'a' (0) to 'p'
// (15), most significant first: a byte takes 2 letters, a 32-bit value 8.
//   8 bytes       01 02 03 04 05 06 07 08
//   2             block depth b, then b x 18: saved loop depth (2), begin (8), end target (8)
//   2             call depth c, then c x 20: saved block depth (2), saved loop depth (2),
//                 return index (8), "aaaa" and the return file number (4)
//   2             loop depth l, then l x 34: saved block depth (2), begin (8), end target (8),
//                 low 32 bits of the counter (8) and of the count (8)
//   8             message tag
//   8             next command index
//   8             byte length n of the current file's name, then the n name bytes
// Call arguments and return values, callers' lines, waits, enable bytes and
// parameters are not captured.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/error_codes.h"

namespace zk {

struct ScriptTask;

inline constexpr size_t kPositionHeaderSize = 8;

// Replaces `out` with the task's position text (sized exactly); its length,
// or -1 for a missing task.
int64_t EncodePositionString(std::string& out, const ScriptTask* task);

// Restores a task's stacks, message tag, program counter and file from a
// position text. The whole text is read and checked before anything of the
// task changes: a damaged text (wrong header, a letter outside 'a'..'p', a
// depth beyond its stack, an index or file number out of range, a name
// running past the text) reports 900000, a file name that the file list
// does not hold 102130, both fatal, and the result is 0 with the task as it
// was. The consumed length on success; -1 for a missing task.
int64_t DecodePositionString(std::string_view text, ScriptTask* task);

}  // namespace zk
