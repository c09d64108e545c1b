#include "tools/lib/game_compiler.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "base/text_encoding.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/demo_images.h"
#include "tools/lib/demo_movies.h"
#include "tools/lib/demo_sounds.h"
#include "tools/lib/engine_error_texts.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"

namespace zk::tools {

namespace fs = std::filesystem;

namespace {

constexpr const char* kConfigName = "game.cfg";
constexpr const char* kScriptExtension = ".zs";
constexpr size_t kMaxErrorTexts = 256;  // the engine takes at most 256 records
// Folders of a game folder that hold no author's assets.
constexpr const char* kNotAssetFolders[] = {"zkbin", "save", "system"};

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

std::string ReadText(const fs::path& path, const std::string& shown_name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ScriptCompileError(shown_name, 0, "cannot read the file");
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // a UTF-8 mark from an editor
    return text;
}

struct ParsedConfig {
    EngineConfigFile config;
    std::vector<ZkeRecord> errors;
    std::vector<int> error_lines;  // the line of each of `errors`
    bool demo_assets = false;
};

ParsedConfig ParseConfig(const fs::path& source) {
    ParsedConfig parsed;
    std::istringstream in(ReadText(source / kConfigName, kConfigName));
    std::string line;
    int line_number = 0;
    while (std::getline(in, line)) {
        ++line_number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        auto fail = [&](const std::string& message) { throw ScriptCompileError(kConfigName, line_number, message); };
        if (line.rfind("error ", 0) == 0) {
            std::istringstream fields(line.substr(6));
            uint32_t code = 0;
            if (!(fields >> code) || code < 100000 || code > 999999) fail("error takes a six-digit number and a text");
            std::string text;
            std::getline(fields, text);
            parsed.errors.push_back({code, Utf8ToCp932(Unescape(Trim(text)))});
            parsed.error_lines.push_back(line_number);
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) fail("expected key = value");
        std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
        EngineConfigFile& config = parsed.config;
        try {
            if (key == "title") config.title = Utf8ToCp932(value);
            else if (key == "width") config.screen_width = std::stoi(value);
            else if (key == "height") config.screen_height = std::stoi(value);
            else if (key == "shown_at_start") config.shown_at_start = std::stoi(value);
            else if (key == "window_mode") config.window_mode = std::stoi(value);
            else if (key == "resizable") config.resizable = std::stoi(value);
            else if (key == "debug") config.debug = std::stoi(value);
            else if (key == "sound") config.sound = std::stoi(value);
            else if (key == "game_loop_thread") config.game_loop_thread = std::stoi(value);
            else if (key == "demo_assets") parsed.demo_assets = std::stoi(value) != 0;
            else fail("unknown key " + key);
        } catch (const std::logic_error& e) {
            if (dynamic_cast<const ScriptCompileError*>(&e) != nullptr) throw;
            fail("bad number for " + key);
        }
    }
    return parsed;
}

bool Hidden(const fs::path& part) { return !part.empty() && part.string().front() == '.'; }

bool IsNotAssetFolder(const std::string& name) {
    for (const char* folder : kNotAssetFolders)
        if (name == folder) return true;
    return false;
}

// A relative path as the game names it: parts joined by '\', CP932.
std::string GamePath(const fs::path& relative) {
    std::string name;
    for (const fs::path& part : relative) {
        if (!name.empty()) name += '\\';
        name += Utf8ToCp932(part.string());
    }
    return name;
}

struct SourceFiles {
    std::vector<fs::path> scripts;  // relative, main.zs first, then by name
    std::vector<fs::path> assets;    // relative
};

SourceFiles ListSources(const fs::path& source) {
    SourceFiles files;
    std::error_code error;
    std::vector<fs::path> scripts;
    for (fs::recursive_directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
        const fs::path relative = it->path().lexically_relative(source);
        const std::string top = relative.begin()->string();
        if (it->is_directory(error)) {
            if (Hidden(relative.filename()) || (it.depth() == 0 && IsNotAssetFolder(top))) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(error) || Hidden(relative.filename())) continue;
        if (relative.extension() == kScriptExtension) {
            scripts.push_back(relative);
        } else if (it.depth() > 0) {
            files.assets.push_back(relative);
        }
    }
    if (error) throw ScriptCompileError(source.string(), 0, "cannot list the folder: " + error.message());
    std::sort(scripts.begin(), scripts.end());
    std::sort(files.assets.begin(), files.assets.end());
    auto main = std::find(scripts.begin(), scripts.end(), fs::path("main.zs"));
    if (main != scripts.end()) std::rotate(scripts.begin(), main, main + 1);
    files.scripts = std::move(scripts);
    return files;
}

}  // namespace

CompiledGame CompileGameFolder(const fs::path& source) {
    ParsedConfig config = ParseConfig(source);
    SourceFiles files = ListSources(source);
    if (files.scripts.size() > 65536) throw ScriptCompileError(source.string(), 0, "more than 65536 script files");

    CompiledGame compiled;
    GameBuilder game;
    if (files.scripts.empty()) {
        // No script yet: the smallest game that boots.
        game = IdleGame();
        compiled.script_names.push_back("main.txt");
    } else {
        ScriptText script;
        script.game.variable_table.highest_number = 999;  // grows with each declaration
        for (size_t number = 0; number < files.scripts.size(); ++number) {
            const std::string name = GamePath(files.scripts[number]);
            const std::string text = ReadText(source / files.scripts[number], name);
            script.Compile(static_cast<uint16_t>(number), name, Utf8ToCp932(text));  // texts are CP932 in the game
            compiled.script_names.push_back(name);
        }
        script.CheckLabels();
        if (!script.HasLabel("SYSTEM_START"))
            throw ScriptCompileError(compiled.script_names.front(), 1, "no label SYSTEM_START (where the game begins)");
        game = std::move(script.game);
    }
    // The engine's texts and the author's: the author's text whose new
    // number makes one too many is the one reported.
    std::set<uint32_t> codes;
    for (const ZkeRecord& record : EngineErrorTexts()) codes.insert(record.code);
    for (size_t i = 0; i < config.errors.size(); ++i) {
        codes.insert(config.errors[i].code);
        if (codes.size() > kMaxErrorTexts)
            throw ScriptCompileError(kConfigName, config.error_lines[i],
                                     "more than 256 error texts in all (the engine's " +
                                         std::to_string(EngineErrorTexts().size()) + " and the game's)");
    }
    game.error_texts = MergeErrorTexts(config.errors);
    compiled.tables = game.Files();
    compiled.tables["zkbin\\zkcfg.zbn"] = WriteEngineConfig(config.config);
    for (const fs::path& asset : files.assets) compiled.assets.push_back({GamePath(asset), source / asset});
    compiled.demo_assets = config.demo_assets;
    return compiled;
}

namespace {

std::string TopFolder(const std::string& game_path) { return game_path.substr(0, game_path.find('\\')); }

fs::path HostPathIn(const fs::path& target, const std::string& game_path) {
    fs::path path = target;
    size_t start = 0;
    while (start <= game_path.size()) {
        size_t end = game_path.find('\\', start);
        if (end == std::string::npos) end = game_path.size();
        path /= Cp932ToUtf8(game_path.substr(start, end - start));
        start = end + 1;
    }
    return path;
}

bool WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    return !error && WriteFile(path.string(), bytes);
}

}  // namespace

WriteResult WriteCompiledGame(const CompiledGame& game, const fs::path& target) {
    WriteResult result;
    std::set<std::string> folders;
    // The tables of an earlier compile go first, loose or packed: none may
    // outlive its script.
    for (const fs::path& earlier : {target / "zkbin", target / kTablesPackName}) {
        std::error_code cleared;
        fs::remove_all(earlier, cleared);
        if (cleared) {
            result.error = "cannot remove " + earlier.string();
            return result;
        }
    }
    for (const auto& [name, bytes] : game.tables) {
        if (!WriteBytes(HostPathIn(target, name), bytes)) {
            result.error = "cannot write " + HostPathIn(target, name).string();
            return result;
        }
        folders.insert(TopFolder(name));
    }
    std::set<std::string> written;
    for (const GameAsset& asset : game.assets) {
        const fs::path to = HostPathIn(target, asset.game_path);
        written.insert(asset.game_path);
        folders.insert(TopFolder(asset.game_path));
        std::error_code error;
        if (fs::exists(to, error) && fs::equivalent(to, asset.host_path, error)) continue;  // compiled in place
        fs::create_directories(to.parent_path(), error);
        if (error || !fs::copy_file(asset.host_path, to, fs::copy_options::overwrite_existing, error)) {
            result.error = "cannot copy " + asset.host_path.string() + " to " + to.string();
            return result;
        }
    }
    if (game.demo_assets) {
        // The demo's own files, drawn by code; the author's files win.
        std::vector<std::pair<std::string, std::vector<uint8_t>>> demo;
        for (const DemoImage& image : DemoImages()) demo.emplace_back(image.name, image.bytes);
        for (const DemoSound& sound : DemoSounds()) demo.emplace_back(sound.name, sound.bytes);
        for (auto& [name, bytes] : demo) {
            std::string game_path = name;
            std::replace(game_path.begin(), game_path.end(), '/', '\\');
            if (written.contains(game_path)) continue;
            if (bytes.empty() || !WriteBytes(HostPathIn(target, game_path), bytes)) {
                result.error = "cannot write " + HostPathIn(target, game_path).string();
                return result;
            }
            folders.insert(TopFolder(game_path));
        }
        // The demo's movie stays loose (a movie only in a pack does not
        // play): its folder is not among those a pack takes in.
        for (const DemoMovie& movie : DemoMovies()) {
            std::string game_path = movie.name;
            std::replace(game_path.begin(), game_path.end(), '/', '\\');
            if (written.contains(game_path)) continue;
            if (movie.bytes.empty() || !WriteBytes(HostPathIn(target, game_path), movie.bytes)) {
                result.error = "cannot write " + HostPathIn(target, game_path).string();
                return result;
            }
        }
    }
    result.folders.assign(folders.begin(), folders.end());
    return result;
}

std::string CompileErrorText(const std::exception& error) { return Cp932ToUtf8(error.what()); }

}  // namespace zk::tools
