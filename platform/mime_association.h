// The program the desktop opens a file with, from the XDG shared MIME
// database and the desktop entries: the file's MIME type by the globs of
// mime/globs2 (heaviest weight first, then the longest pattern), the
// default application for that type from the mimeapps.list files, and the
// program of that application's Exec line.
#pragma once

#include <string>

namespace zk::platform {

// The MIME type of a file name by its globs, or "" when no glob matches.
std::string MimeTypeOfName(const std::string& file_name);
// The program (a host path when it is found on PATH, else as written in the
// Exec line) that opens the file, or "" when none is associated.
std::string AssociatedProgram(const std::string& host_path);

}  // namespace zk::platform
