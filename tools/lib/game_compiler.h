// The compiler for game authors: a game folder's readable sources to every
// table the engine reads.
//
// The source folder holds
//   game.cfg       settings ("key = value") and the author's own error texts
//                  ("error <code> <text>"), UTF-8
//   *.zs           script files (tools/lib/script_text.h), UTF-8, anywhere
//                  in the folder; main.zs (when present) is file 0, the rest
//                  follow in name order. Labels and variables are shared by
//                  all files, so jumps and calls cross files.
//   image/, sound/, movie/, ...   the author's assets: every file of every
//                  folder except zkbin/, save/, system/ and hidden ones,
//                  taken as it is (scripts excepted).
// The tables: zkcfg.zbn, zke.zbn (a text for every error number the engine
// reports, the author's texts replacing the engine's), zkc.zbn, zkt.zbn
// (the variable table reaching the highest number declared), zkt_list.zbn,
// zkl.zbn, zkv.zbn and one zkt%05d.zbn per script file, whose line table
// holds the source line of every command.
//
// Every error names its file and line (ScriptCompileError).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/lib/script_text.h"

namespace zk::tools {

struct GameAsset {
    std::string game_path;            // "image\\bg.bmp" (CP932, '\')
    std::filesystem::path host_path;  // the file in the source folder
};

struct CompiledGame {
    // Game path ("zkbin\\zkc.zbn", ...) to bytes: every table.
    std::map<std::string, std::vector<uint8_t>> tables;
    std::vector<GameAsset> assets;
    // game.cfg "demo_assets = 1": the demo's pictures and sounds are drawn
    // into the game where the author has no file of the same name.
    bool demo_assets = false;
    std::vector<std::string> script_names;  // by file number (CP932)
};

// Throws ScriptCompileError (file and line; line 0 for a file as a whole)
// for anything that does not compile or cannot be read.
CompiledGame CompileGameFolder(const std::filesystem::path& source);

// Writes the tables loose under `target`'s zkbin/ (the tables of an
// earlier build, zkbin/ and zkbin.zpf, removed first), copies the assets
// that are not already there (the same file when compiling in place) and
// draws the demo's files when asked. The top folders written (for a pack), or an error text.
struct WriteResult {
    std::vector<std::string> folders;  // "zkbin", "image", ...
    std::string error;                 // empty on success
};
WriteResult WriteCompiledGame(const CompiledGame& game, const std::filesystem::path& target);

// A compile error for a terminal: the text in UTF-8.
std::string CompileErrorText(const std::exception& error);

}  // namespace zk::tools
