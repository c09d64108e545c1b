// The start-up paths, the command line and the start-up time. Paths are
// game paths: CP932 bytes with '\' separators.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

struct StartupPaths {
    std::string executable_path;     // real case, for file access
    std::string game_folder;         // trailing '\'
    std::string instance_name;       // lower-cased path, '\' -> ':'
    std::string game_folder_mutex_name;
    std::string working_folder;      // trailing '\'
    std::string app_data_folder;
    std::string documents_folder;
};
StartupPaths& Paths();

// Fills the paths from the executable's path (a game path) and the two
// special folders. Only the identity names are lower-cased: the file
// system may be case-sensitive, so file access keeps the real case.
void BuildStartupPaths(std::string_view executable_path, std::string_view app_data, std::string_view documents);

struct CommandLineArgs {
    int32_t count = 0;  // 0..8, the program not counted
    std::array<std::string, 9> texts;  // [0] program, [1..8] arguments, "" beyond count
};
CommandLineArgs& TheCommandLine();
// argv as the process received it (argv[0] the program). Arguments after
// the eighth are dropped.
void CopyCommandLine(const std::vector<std::string>& argv);

struct StartupTime {
    uint16_t year = 0, month = 0, day_of_week = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};
StartupTime& TheStartupTime();

// The 1024-byte engine-wide message buffer other parts format texts into.
std::string& MessageBuffer();

}  // namespace zk
