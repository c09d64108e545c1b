// Whether a folder can take a new file: a uniquely named file is created
// there (prefix "ini"), opened for writing, and removed again.
#pragma once

#include <string_view>

namespace zk::platform {

bool CanCreateFileIn(std::string_view game_folder);

}  // namespace zk::platform
