// Assembles a game folder from a readable description:
//   zk_mkgame [--pack <name.zpf>] <source folder> <game folder>
// The source folder holds game.cfg (key = value lines and "error <code>
// <text>" lines, UTF-8); the game folder receives zkbin\zkcfg.zbn and
// zkbin\zke.zbn. When the source folder also holds main.zs, that script
// (tools/lib/script_text.h) becomes script file 0, the demo's pictures
// are drawn under image\, its sounds made under sound\ and its movie
// under movie\ (never packed); without it
// file 0 is the smallest game that boots. With --pack the tables, pictures
// and sounds go into that pack in the game
// folder instead, and the loose folders are removed: the engine then
// starts the game as released data.
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
#include "tools/lib/demo_images.h"
#include "tools/lib/demo_movies.h"
#include "tools/lib/demo_sounds.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/script_text.h"
#include "tools/lib/script_writer.h"
#include "tools/lib/zkcfg_writer.h"
#include "tools/lib/zke_writer.h"
#include "base/text_encoding.h"

namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

int Usage() {
    std::fprintf(stderr, "usage: zk_mkgame [--pack <name.zpf>] <source folder> <game folder>\n");
    return 2;
}

// A pack the engine finds: a file name of the game folder ending in ".zpf".
bool IsPackFileName(const std::string& name) {
    return name.size() > 4 && zk::AsciiEndsWithIgnoreCase(name, ".zpf") && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

// The folders of the game folder that a pack takes in.
constexpr const char* kPackedFolders[] = {"zkbin", "image", "sound"};

// Moves every file of the game folder's packed folders into the pack
// <game>/<pack_name> as "<folder>\<name>" (stored, with repair trailers)
// and removes those folders.
bool PackFolders(const std::filesystem::path& game, const std::string& pack_name) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<std::pair<std::string, fs::path>> entries;  // pack name, file
    for (const char* folder : kPackedFolders) {
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
    for (const char* folder : kPackedFolders) {
        fs::remove_all(game / folder, error);
        if (error) {
            std::fprintf(stderr, "zk_mkgame: cannot remove %s\n", (game / folder).string().c_str());
            return false;
        }
    }
    return true;
}

bool HasScript(const std::string& source) {
    std::error_code error;
    return std::filesystem::is_regular_file(source + "/main.zs", error);
}

// The game's script: main.zs compiled into file 0, or, for a source folder
// without one, the smallest game that boots (SYSTEM_START waits a frame
// and jumps back). Nothing when main.zs does not compile (reported).
std::optional<zk::tools::GameBuilder> BuildScripts(const std::string& source, bool has_script) {
    if (!has_script) return zk::tools::IdleGame();
    std::ifstream in(source + "/main.zs", std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zk_mkgame: cannot read %s/main.zs\n", source.c_str());
        return std::nullopt;
    }
    std::string text(std::istreambuf_iterator<char>(in), {});
    zk::tools::ScriptText script;
    try {
        script.Compile(0, "main.zs", zk::Utf8ToCp932(text));  // texts are CP932 in the game
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zk_mkgame: %s\n", e.what());
        return std::nullopt;
    }
    return std::move(script.game);
}

bool WriteDemoFile(const std::filesystem::path& game, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::path path = game / name;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error || bytes.empty() || !zk::tools::WriteFile(path.string(), bytes)) {
        std::fprintf(stderr, "zk_mkgame: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

bool WriteDemoImages(const std::filesystem::path& game) {
    for (const zk::tools::DemoImage& image : zk::tools::DemoImages()) {
        if (!WriteDemoFile(game, image.name, image.bytes)) return false;
    }
    for (const zk::tools::DemoSound& sound : zk::tools::DemoSounds()) {
        if (!WriteDemoFile(game, sound.name, sound.bytes)) return false;
    }
    for (const zk::tools::DemoMovie& movie : zk::tools::DemoMovies()) {
        if (!WriteDemoFile(game, movie.name, movie.bytes)) return false;
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
    std::string source = positional[0], target = positional[1];
    std::ifstream in(source + "/game.cfg");
    if (!in) {
        std::fprintf(stderr, "zk_mkgame: cannot read %s/game.cfg\n", source.c_str());
        return 1;
    }
    zk::tools::EngineConfigFile config;
    std::vector<zk::tools::ZkeRecord> errors;
    std::string line;
    int line_number = 0;
    while (std::getline(in, line)) {
        ++line_number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("error ", 0) == 0) {
            std::istringstream fields(line.substr(6));
            uint32_t code = 0;
            fields >> code;
            std::string text;
            std::getline(fields, text);
            errors.push_back({code, zk::Utf8ToCp932(Unescape(Trim(text)))});
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "zk_mkgame: game.cfg line %d: expected key = value\n", line_number);
            return 1;
        }
        std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
        try {
            if (key == "title") config.title = zk::Utf8ToCp932(value);
            else if (key == "width") config.screen_width = std::stoi(value);
            else if (key == "height") config.screen_height = std::stoi(value);
            else if (key == "shown_at_start") config.shown_at_start = std::stoi(value);
            else if (key == "window_mode") config.window_mode = std::stoi(value);
            else if (key == "resizable") config.resizable = std::stoi(value);
            else if (key == "debug") config.debug = std::stoi(value);
            else if (key == "sound") config.sound = std::stoi(value);
            else if (key == "game_loop_thread") config.game_loop_thread = std::stoi(value);
            else {
                std::fprintf(stderr, "zk_mkgame: game.cfg line %d: unknown key %s\n", line_number, key.c_str());
                return 1;
            }
        } catch (const std::exception&) {
            std::fprintf(stderr, "zk_mkgame: game.cfg line %d: bad number\n", line_number);
            return 1;
        }
    }
    const bool has_script = HasScript(source);
    std::optional<zk::tools::GameBuilder> game = BuildScripts(source, has_script);
    if (!game) return 1;
    game->error_texts = errors;
    if (!game->Write(target) ||
        !zk::tools::WriteFile(target + "/zkbin/zkcfg.zbn", zk::tools::WriteEngineConfig(config))) {
        std::fprintf(stderr, "zk_mkgame: cannot write into %s\n", target.c_str());
        return 1;
    }
    if (has_script && !WriteDemoImages(target)) return 1;
    if (pack_name && !PackFolders(target, *pack_name)) return 1;
    return 0;
}
