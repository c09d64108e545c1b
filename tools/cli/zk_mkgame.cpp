// Assembles a game folder from a readable description:
//   zk_mkgame <source folder> <game folder>
// The source folder holds game.cfg (key = value lines and "error <code>
// <text>" lines, UTF-8); the game folder receives zkbin\zkcfg.zbn and
// zkbin\zke.zbn.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/game_path.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/zkcfg_writer.h"
#include "tools/lib/zke_writer.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zk_mkgame <source folder> <game folder>\n");
        return 2;
    }
    std::string source = argv[1], target = argv[2];
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
            errors.push_back({code, zk::platform::Utf8ToCp932(Unescape(Trim(text)))});
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "zk_mkgame: game.cfg line %d: expected key = value\n", line_number);
            return 1;
        }
        std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
        try {
            if (key == "title") config.title = zk::platform::Utf8ToCp932(value);
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
    if (!zk::tools::WriteFile(target + "/zkbin/zkcfg.zbn", zk::tools::WriteEngineConfig(config)) ||
        !zk::tools::WriteFile(target + "/zkbin/zke.zbn", zk::tools::BuildZke(errors))) {
        std::fprintf(stderr, "zk_mkgame: cannot write into %s\n", target.c_str());
        return 1;
    }
    return 0;
}
