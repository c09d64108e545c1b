// The script compiler for game authors:
//   zk_compile [<game folder>]
// compiles the folder's sources (game.cfg, the *.zs scripts; see
// tools/lib/game_compiler.h) in place: every table goes under its zkbin/,
// next to the sources and assets, and the engine runs the folder as it
// stands. Without a folder, the current folder. Errors are printed as
// "file:line: message" and the exit code is 1; nothing is written then.
//   zk_compile --commands
// lists every command the scripts may name, with its code and keywords
// (the reference of the author's guide).
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/lib/command_defs.h"
#include "tools/lib/game_compiler.h"

namespace {

// One line a command: "name (code): keyword kind, ..." with the keywords
// nothing reads left out.
void ListCommands() {
    for (const zk::tools::CommandEntry& entry : zk::tools::CommandEntries()) {
        std::string line = entry.name + " (" + std::to_string(entry.code) + "):";
        bool first = true;
        for (const zk::tools::KeywordDef& keyword : entry.keywords) {
            if (keyword.name.rfind("unused", 0) == 0) continue;
            line += first ? " " : ", ";
            line += keyword.name + (keyword.value_kind == 1 ? "=\"text\"" : "");
            first = false;
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--commands") {
        ListCommands();
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: zk_compile [<game folder>]\n");
        return 2;
    }
    const std::filesystem::path folder = argc == 2 ? std::filesystem::path(argv[1]) : std::filesystem::current_path();
    zk::tools::CompiledGame game;
    try {
        game = zk::tools::CompileGameFolder(folder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", zk::tools::CompileErrorText(e).c_str());
        return 1;
    }
    const zk::tools::WriteResult written = zk::tools::WriteCompiledGame(game, folder);
    if (!written.error.empty()) {
        std::fprintf(stderr, "zk_compile: %s\n", written.error.c_str());
        return 1;
    }
    std::printf("zk_compile: %zu script file(s) compiled into %s\n", game.script_names.size(),
                (folder / "zkbin").string().c_str());
    return 0;
}
