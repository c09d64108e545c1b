// Whether a folder can take a new file: a uniquely named file is created
// there (prefix "ini"), opened for writing, and removed again. The folder is
// an engine path (the working folder), not a name from a script.
#pragma once

#include <string_view>

namespace zk::platform {

bool CanCreateFileIn(std::string_view engine_folder);

}  // namespace zk::platform
