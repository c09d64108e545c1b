#include "tools/lib/folder_pack.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include "base/text_encoding.h"
#include "storage/asset_name.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/zkcfg_writer.h"

namespace zk::tools {

namespace fs = std::filesystem;

std::string PackFolders(const fs::path& game, const std::string& pack_name, const std::vector<std::string>& folders) {
    std::error_code error;
    std::vector<std::pair<std::string, fs::path>> entries;  // pack name, file
    for (const std::string& folder : folders) {
        const fs::path root = game / folder;
        if (!fs::exists(root, error)) continue;
        for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
            if (!it->is_regular_file(error)) continue;
            std::string name = folder;
            for (const fs::path& part : it->path().lexically_relative(root)) name += "\\" + Utf8ToCp932(part.string());
            entries.emplace_back(name, it->path());
        }
        if (error) return "cannot list " + root.string();
    }
    std::sort(entries.begin(), entries.end());  // the same pack for the same files
    std::vector<PackFileSpec> files;
    for (const auto& [name, path] : entries) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return "cannot read " + path.string();
        PackFileSpec file;
        file.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        file.name = name;
        file.kind = KindByExtension(name);
        files.push_back(std::move(file));
    }
    if (!WritePack((game / pack_name).string(), BuildPack(files))) return "cannot write " + (game / pack_name).string();
    for (const std::string& folder : folders) {
        fs::remove_all(game / folder, error);
        if (error) return "cannot remove " + (game / folder).string();
    }
    return {};
}

std::string PackTables(const fs::path& game) { return PackFolders(game, kTablesPackName, {"zkbin"}); }

bool WriteReleaseConfig(const fs::path& game, const EngineConfigFile& config) {
    return WriteReleaseConfig(game, WriteEngineConfig(config));
}

bool WriteReleaseConfig(const fs::path& game, std::vector<uint8_t> config_bytes) {
    std::error_code error;
    fs::remove(game / "zkbin" / "zkcfg.zbn", error);
    if (error) return false;
    PackFileSpec file("zkbin\\zkcfg.zbn", std::move(config_bytes));
    file.kind = KindByExtension(file.name);
    return WritePack((game / kTablesPackName).string(), BuildPack({file}));
}

}  // namespace zk::tools
