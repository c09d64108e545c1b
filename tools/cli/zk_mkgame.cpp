// Compiles a game's sources and assembles its game folder:
//   zk_mkgame [--pack <name.zpf> | --loose] <source folder> <game folder>
// The source folder is what tools/lib/game_compiler.h reads (game.cfg, the
// *.zs scripts, the author's asset folders); the game folder receives every
// table in the pack zkbin.zpf and the assets as they are, and the engine
// starts it as released data. The source folder may be the game folder
// itself (compiled in place). With --pack the tables and assets go into that
// one pack instead, and the loose folders are removed. With --loose the
// tables stay loose under zkbin\: development data, which the engine runs
// through the script compiler at every start.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/game_compiler.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: zk_mkgame [--pack <name.zpf> | --loose] <source folder> <game folder>\n");
    return 2;
}

// A pack the engine finds: a file name of the game folder ending in ".zpf".
bool IsPackFileName(const std::string& name) {
    return name.size() > 4 && zk::AsciiEndsWithIgnoreCase(name, ".zpf") && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::optional<std::string> pack_name;
    bool loose = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--pack" && i + 1 < argc && !pack_name) {
            pack_name = argv[++i];
            if (!IsPackFileName(*pack_name)) {
                std::fprintf(stderr, "zk_mkgame: --pack takes a file name ending in .zpf\n");
                return 2;
            }
        } else if (arg == "--loose" && !loose) {
            loose = true;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || (loose && pack_name)) return Usage();
    const std::string source = positional[0], target = positional[1];
    std::error_code error;
    if (pack_name && std::filesystem::exists(target, error) && std::filesystem::equivalent(source, target, error)) {
        std::fprintf(stderr, "zk_mkgame: --pack needs a game folder other than the source folder\n");
        return 2;
    }
    zk::tools::CompiledGame game;
    try {
        game = zk::tools::CompileGameFolder(source);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", zk::tools::CompileErrorText(e).c_str());
        return 1;
    }
    const zk::tools::WriteResult written = zk::tools::WriteCompiledGame(game, target);
    if (!written.error.empty()) {
        std::fprintf(stderr, "zk_mkgame: %s\n", written.error.c_str());
        return 1;
    }
    std::string failed;
    if (pack_name) {
        failed = zk::tools::PackFolders(target, *pack_name, written.folders);
    } else if (!loose) {
        failed = zk::tools::PackTables(target);
    }
    if (!failed.empty()) {
        std::fprintf(stderr, "zk_mkgame: %s\n", failed.c_str());
        return 1;
    }
    return 0;
}
