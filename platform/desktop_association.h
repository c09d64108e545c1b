// The desktop's program for a kind of file (XDG MIME applications):
// mimeapps.list names the default application of a MIME type; its .desktop
// file's Exec line names the program.
#pragma once

#include <string>
#include <string_view>

namespace zk::platform {

// The program (host path or name, the Exec line's first word) that the
// desktop opens files of `mime_type` with; empty when none is set or its
// .desktop file cannot be found. Reads, in order, mimeapps.list in
// $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, $XDG_DATA_HOME/applications and
// $XDG_DATA_DIRS/applications ([Default Applications], then [Added
// Associations]); the first listed application whose .desktop file exists
// (in $XDG_DATA_HOME/applications, then $XDG_DATA_DIRS/applications) wins.
std::string DesktopProgramFor(std::string_view mime_type);

}  // namespace zk::platform
