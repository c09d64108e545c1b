#include "core/startup_paths.h"

#include "base/sjis.h"

namespace zk {

StartupPaths& Paths() {
    static StartupPaths paths;
    return paths;
}

CommandLineArgs& TheCommandLine() {
    static CommandLineArgs args;
    return args;
}

StartupTime& TheStartupTime() {
    static StartupTime time;
    return time;
}

std::string& MessageBuffer() {
    static std::string buffer;
    return buffer;
}

void BuildStartupPaths(std::string_view executable_path, std::string_view app_data, std::string_view documents) {
    StartupPaths& paths = Paths();
    // The whole path, however deep the game folder lies: a cut path would
    // name another folder.
    paths.executable_path = std::string(executable_path);
    // The folder keeps its real case; '/' becomes '\' so every path in the
    // engine has one separator.
    std::string folder = SjisReplaceByte(paths.executable_path, '/', '\\');
    size_t last = SjisFindLast(folder, '\\');
    folder = last == std::string::npos ? std::string() : folder.substr(0, last);
    if (folder.empty() || SjisFindLast(folder, '\\') != folder.size() - 1) folder += '\\';
    paths.game_folder = folder;
    paths.instance_name = SjisReplaceByte(SjisLowerAscii(SjisReplaceByte(paths.executable_path, '/', '\\')), '\\', ':');
    paths.game_folder_mutex_name = SjisReplaceByte(SjisLowerAscii(paths.game_folder), '\\', ':');
    paths.app_data_folder = std::string(app_data);
    paths.documents_folder = std::string(documents);
}

void CopyCommandLine(const std::vector<std::string>& argv) {
    CommandLineArgs& args = TheCommandLine();
    args = {};
    if (!argv.empty()) args.texts[0] = argv[0];
    size_t count = argv.empty() ? 0 : argv.size() - 1;
    if (count > 8) count = 8;
    args.count = static_cast<int32_t>(count);
    for (size_t i = 1; i <= count; ++i) args.texts[i] = argv[i];
}

}  // namespace zk
