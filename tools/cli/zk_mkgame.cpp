// Compiles a game's sources and assembles its game folder:
//   zk_mkgame [--pack <name.zpf>] <source folder> <game folder>
// The source folder is what tools/lib/game_compiler.h reads (game.cfg, the
// *.zs scripts, the author's asset folders); the game folder receives every
// table under zkbin\ and the assets. The source folder may be the game
// folder itself (a game under development, compiled in place). With --pack
// the tables and assets go into that pack in the game folder instead, and
// the loose folders are removed: the engine then starts the game as
// released data.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "platform/game_path.h"
#include "storage/asset_name.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/game_compiler.h"
#include "tools/lib/pack_writer.h"
#include "base/text_encoding.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: zk_mkgame [--pack <name.zpf>] <source folder> <game folder>\n");
    return 2;
}

// A pack the engine finds: a file name of the game folder ending in ".zpf".
bool IsPackFileName(const std::string& name) {
    return name.size() > 4 && zk::AsciiEndsWithIgnoreCase(name, ".zpf") && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

// Moves every file of the given folders of the game folder into the pack
// <game>/<pack_name> as "<folder>\<name>" (stored, with repair trailers)
// and removes those folders.
bool PackFolders(const std::filesystem::path& game, const std::string& pack_name,
                 const std::vector<std::string>& packed_folders) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<std::pair<std::string, fs::path>> entries;  // pack name, file
    for (const std::string& folder : packed_folders) {
        fs::path root = game / folder;
        if (!fs::exists(root, error)) continue;
        for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
            if (!it->is_regular_file(error)) continue;
            std::string name = folder;
            for (const fs::path& part : it->path().lexically_relative(root))
                name += "\\" + zk::Utf8ToCp932(part.string());
            entries.emplace_back(name, it->path());
        }
        if (error) {
            std::fprintf(stderr, "zk_mkgame: cannot list %s\n", root.string().c_str());
            return false;
        }
    }
    std::sort(entries.begin(), entries.end());  // the same pack for the same files
    std::vector<zk::tools::PackFileSpec> files;
    for (const auto& [name, path] : entries) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "zk_mkgame: cannot read %s\n", path.string().c_str());
            return false;
        }
        zk::tools::PackFileSpec file;
        file.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        file.name = name;
        file.kind = zk::KindByExtension(name);
        files.push_back(std::move(file));
    }
    if (!zk::tools::WritePack((game / pack_name).string(), zk::tools::BuildPack(files))) {
        std::fprintf(stderr, "zk_mkgame: cannot write %s\n", (game / pack_name).string().c_str());
        return false;
    }
    for (const std::string& folder : packed_folders) {
        fs::remove_all(game / folder, error);
        if (error) {
            std::fprintf(stderr, "zk_mkgame: cannot remove %s\n", (game / folder).string().c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::optional<std::string> pack_name;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--pack" && i + 1 < argc && !pack_name) {
            pack_name = argv[++i];
            if (!IsPackFileName(*pack_name)) {
                std::fprintf(stderr, "zk_mkgame: --pack takes a file name ending in .zpf\n");
                return 2;
            }
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return Usage();
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
    if (pack_name && !PackFolders(target, *pack_name, written.folders)) return 1;
    return 0;
}
