// Save data: saving and loading a 1280 x 720 layer image and 10,000
// variables through the .sd format, against the bare codecs on the same
// bytes in the same run (libdeflate at the engine's level for the image,
// Snappy for each variable's payload): the codecs are the floor, and the
// format's own work (payloads, blocks, the file layout, the checks on
// reading, restoring the variables) is what the ratio shows. The image
// block alone is also set against zlib level 9 bare on the same payload,
// in interleaved rounds, with the sizes of both streams. The durable write (temporary file,
// flush of file and folder, rename) is timed on its own. Prints times and
// ratios; never fails.
#include <libdeflate.h>
#include <snappy-c.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/startup_paths.h"
#include "platform/durable_file.h"
#include "platform/game_path.h"
#include "script/variables.h"
#include "engine/save_commands.h"
#include "storage/save_format.h"
#include "tests/codec_libraries.h"
#include "bench/bench_rounds.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kWidth = 1280, kHeight = 720;
constexpr uint32_t kVariables = 10000;
constexpr int kRounds = 5;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename F>
double Best(F&& f) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        f();
        best = std::min(best, Seconds(Clock::now() - start));
    }
    return best;
}

// A picture that compresses like a game's: smooth gradients with a little
// noise.
std::vector<uint8_t> Picture() {
    std::vector<uint8_t> pixels(size_t(kWidth) * 4 * kHeight);
    uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint8_t* p = &pixels[(size_t(y) * kWidth + x) * 4];
            p[0] = static_cast<uint8_t>(40 + 150 * x / kWidth + (noise >> 30));
            p[1] = static_cast<uint8_t>(30 + 120 * y / kHeight);
            p[2] = static_cast<uint8_t>(200 - 100 * y / kHeight + ((noise >> 28) & 3));
            p[3] = 255;
        }
    }
    return pixels;
}

}  // namespace

int main() {
    zk::testing_support::LoadEveryCodecLibrary();
    const fs::path folder = fs::temp_directory_path() / ("zk_bench_save_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path old_cwd = fs::current_path();
    fs::current_path(folder);
    zk::platform::ClearPathCache();

    // 10,000 integer variables, some scalars and some arrays of 16.
    zk::CreateVariableTable(zk::kFirstScriptVariable + kVariables - 1);
    for (uint32_t i = 0; i < kVariables; ++i) {
        zk::VariableShape shape;
        if (i % 4 == 0) {
            shape.dimension_count = 1;
            shape.sizes[0] = 16;
        }
        zk::ScriptVariable& variable = *zk::FindVariable(zk::kFirstScriptVariable + i);
        zk::FillIntegerVariable(variable, shape, int64_t{i} * 7919);
        variable.group = 1;
    }
    const std::vector<uint8_t> pixels = Picture();

    // ---- saving --------------------------------------------------------------
    auto pending = std::make_unique<zk::PendingBlocks>();
    std::vector<uint8_t> file;
    const double save = Best([&] {
        (*pending)[0] = *zk::MakeImageBlock(zk::EncodeImagePayload(kWidth, kHeight, pixels));
        std::vector<std::vector<uint8_t>> records;
        records.reserve(kVariables);
        for (uint32_t i = 0; i < kVariables; ++i) {
            const uint32_t number = zk::kFirstScriptVariable + i;
            records.push_back(*zk::MakeVariableBlock(static_cast<uint16_t>(number),
                                                     zk::EncodeScriptVariable(*zk::FindVariable(number))));
        }
        (*pending)[1] = zk::MakeListBlock(records);
        file = zk::BuildSaveFile(*pending, zk::kDataNumberCount);
    });
    const std::vector<uint8_t> image_payload = zk::EncodeImagePayload(kWidth, kHeight, pixels);
    std::vector<std::vector<uint8_t>> payloads;
    for (uint32_t i = 0; i < kVariables; ++i)
        payloads.push_back(zk::EncodeScriptVariable(*zk::FindVariable(zk::kFirstScriptVariable + i)));
    std::vector<uint8_t> out(compressBound(image_payload.size()));
    std::vector<char> snappy_out(snappy_max_compressed_length(200));
    constexpr int kLibdeflateLevel = 6;  // the level the engine's codec uses for zlib levels 6 to 9
    libdeflate_compressor* deflater = libdeflate_alloc_compressor(kLibdeflateLevel);
    const double save_floor = Best([&] {
        libdeflate_zlib_compress(deflater, image_payload.data(), image_payload.size(), out.data(), out.size());
        for (const std::vector<uint8_t>& payload : payloads) {
            size_t n = snappy_out.size();
            snappy_compress(reinterpret_cast<const char*>(payload.data()), payload.size(), snappy_out.data(), &n);
        }
    });
    const double durable = Best([&] { zk::platform::ReplaceGameFile("bench.sd", file); });

    // ---- loading ---------------------------------------------------------------
    // The buffers are kept between rounds, as the bare codecs keep theirs.
    std::vector<uint8_t> stored, payload;
    std::vector<zk::ListRecord> records;
    const double load = Best([&] {
        zk::MemorySaveSource source(file);
        auto header = zk::ReadStoredBlock(source, zk::ReadDirectoryEntry(source, 1), stored);
        zk::ZlibUncompress(stored, header->uncompressed_length, payload);
        zk::ImagePayload image;
        zk::ParseImagePayload(payload, image);
        header = zk::ReadStoredBlock(source, zk::ReadDirectoryEntry(source, 2), stored);
        zk::ParseListRecords(stored, records);
        for (const zk::ListRecord& record : records) {
            zk::SnappyUncompress(record.stored, record.uncompressed_length, payload);
            zk::RestoreVariable(record.variable, true, payload, 0, "bench");
        }
    });
    // The stream the save file holds, so that both sides decode the same bytes.
    const size_t compressed_image_length =
        libdeflate_zlib_compress(deflater, image_payload.data(), image_payload.size(), out.data(), out.size());
    std::vector<std::vector<char>> compressed_payloads;
    for (const std::vector<uint8_t>& payload : payloads) {
        std::vector<char> c(snappy_max_compressed_length(payload.size()));
        size_t n = c.size();
        snappy_compress(reinterpret_cast<const char*>(payload.data()), payload.size(), c.data(), &n);
        c.resize(n);
        compressed_payloads.push_back(std::move(c));
    }
    std::vector<uint8_t> back(image_payload.size());
    std::vector<char> snappy_back(256);
    const double load_floor = Best([&] {
        uLongf length = back.size();
        uncompress(back.data(), &length, out.data(), compressed_image_length);
        for (const std::vector<char>& c : compressed_payloads) {
            size_t n = snappy_back.size();
            snappy_uncompress(c.data(), c.size(), snappy_back.data(), &n);
        }
    });

    // The image block alone, interleaved with the bare codecs on its payload.
    std::vector<uint8_t> zlib_out(out.size()), deflate_out(out.size());
    size_t image_block_size = 0, zlib_size = 0, deflate_size = 0;
    const std::vector<zk::bench::Timing> image = zk::bench::Interleaved(
        3, {[&] { image_block_size = zk::MakeImageBlock(zk::EncodeImagePayload(kWidth, kHeight, pixels))->size(); },
            [&] {
                uLongf length = zlib_out.size();
                compress2(zlib_out.data(), &length, image_payload.data(), image_payload.size(), 9);
                zlib_size = length;
            },
            [&] {
                deflate_size = libdeflate_zlib_compress(deflater, image_payload.data(), image_payload.size(),
                                                        deflate_out.data(), deflate_out.size());
            }});
    libdeflate_free_compressor(deflater);

    std::printf("save data: a %dx%d image and %u variables, file %zu bytes (best of %d)\n", kWidth, kHeight,
                kVariables, file.size(), kRounds);
    std::printf("  save  %8.2f ms   bare codecs %8.2f ms   ratio %.2f\n", save * 1e3, save_floor * 1e3,
                save / save_floor);
    std::printf("  load  %8.2f ms   bare codecs %8.2f ms   ratio %.2f\n", load * 1e3, load_floor * 1e3,
                load / load_floor);
    std::printf("image block %zu bytes (12 of them the block header); zlib level 9 %zu bytes, libdeflate level %d "
                "%zu bytes\n",
                image_block_size, zlib_size, kLibdeflateLevel, deflate_size);
    zk::bench::PrintRatio("image save vs libdeflate bare", image[0], image[2]);
    zk::bench::PrintRatio("save vs zlib level 9 bare", image[0], image[1]);
    std::printf("  durable write (temporary file, fsync of file and folder, rename): %.2f ms\n", durable * 1e3);

    fs::current_path(old_cwd);
    fs::remove_all(folder);
    return 0;
}
