#include "platform/file_probe.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/game_path.h"

namespace zk::platform {

bool CanCreateFileIn(std::string_view engine_folder) {
    std::string folder = EnginePathToHost(engine_folder);
    if (folder.empty()) folder.push_back('.');  // the current folder
    if (folder.back() != '/') folder += '/';
    std::string name = folder + "iniXXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    close(fd);
    // Without waiting: should the name be replaced by a FIFO in between, the
    // open fails at once rather than waiting for a reader.
    int again = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    bool writable = again >= 0;
    if (again >= 0) close(again);
    unlink(name.c_str());
    return writable;
}

}  // namespace zk::platform
