// zk_append: ships a game as one file. Writes a copy of the engine
// executable with a pack (and, for a screen saver, a preview picture)
// appended, and its ZK_RES resource pointing at the appended block.
//
//   zk_append <engine> <pack.zpf> <output> [--preview <bmp>]
//
// An engine that already carries a game gets the new one in its place. The
// output keeps the engine's file permissions.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lib/appended_writer.h"
#include "tools/lib/byte_writer.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: zk_append <engine> <pack.zpf> <output> [--preview <bmp>]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) return Usage();
    std::string engine_path = argv[1], pack_path = argv[2], output_path = argv[3];
    std::optional<std::string> preview_path;
    if (argc == 6) {
        if (std::string_view(argv[4]) != "--preview") return Usage();
        preview_path = argv[5];
    }

    std::optional<std::vector<uint8_t>> engine = zk::tools::ReadFile(engine_path);
    if (!engine) {
        std::fprintf(stderr, "zk_append: cannot read %s\n", engine_path.c_str());
        return 1;
    }
    std::optional<std::vector<uint8_t>> pack = zk::tools::ReadFile(pack_path);
    if (!pack) {
        std::fprintf(stderr, "zk_append: cannot read %s\n", pack_path.c_str());
        return 1;
    }
    std::vector<uint8_t> preview;
    if (preview_path) {
        std::optional<std::vector<uint8_t>> bytes = zk::tools::ReadFile(*preview_path);
        if (!bytes) {
            std::fprintf(stderr, "zk_append: cannot read %s\n", preview_path->c_str());
            return 1;
        }
        preview = std::move(*bytes);
    }

    std::string why;
    std::optional<std::vector<uint8_t>> output = zk::tools::BuildAppendedExecutable(*engine, *pack, preview, &why);
    if (!output) {
        std::fprintf(stderr, "zk_append: %s\n", why.c_str());
        return 1;
    }
    if (!zk::tools::WriteFile(output_path, *output)) {
        std::fprintf(stderr, "zk_append: cannot write %s\n", output_path.c_str());
        return 1;
    }
    std::error_code error;
    std::filesystem::permissions(output_path, std::filesystem::status(engine_path, error).permissions(),
                                 std::filesystem::perm_options::replace, error);
    if (error) {
        std::fprintf(stderr, "zk_append: cannot make %s executable\n", output_path.c_str());
        return 1;
    }
    return 0;
}
