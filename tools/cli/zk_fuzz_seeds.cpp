// zk_fuzz_seeds: writes small valid inputs for the fuzz targets of the pack
// entries, the settings files, the error texts, the appended data, sounds
// and movies, so a short fuzzing run starts from real structure.
//
//   zk_fuzz_seeds CORPUS_FOLDER     (the repository's is tests/fuzz/corpus)
//
// Each target's seeds go to CORPUS_FOLDER/<target>/, in the input layout its
// harness (tests/fuzz/<target>.cpp) describes. The output is the same on
// every run.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/text_encoding.h"
#include "storage/save_format.h"
#include "storage/save_rows.h"
#include "tests/codec_libraries.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/movie_writer.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/sound_writer.h"
#include "tools/lib/zkcfg_writer.h"
#include "tools/lib/zke_writer.h"

namespace zk::tools {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

// Text that compresses, for the compressed entries.
std::vector<uint8_t> Text(size_t size) {
    const std::string line = "The quick brown fox jumps over the lazy dog. ";
    std::vector<uint8_t> bytes;
    while (bytes.size() < size) bytes.insert(bytes.end(), line.begin(), line.end());
    bytes.resize(size);
    return bytes;
}

class Seeds {
public:
    explicit Seeds(std::string folder) : folder_(std::move(folder)) {}

    void Write(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
        if (!WriteFile(folder_ + "/" + target + "/" + name, bytes)) {
            std::fprintf(stderr, "zk_fuzz_seeds: cannot write %s/%s/%s\n", folder_.c_str(), target.c_str(),
                         name.c_str());
            failed_ = true;
        }
    }
    // The first byte picks what the harness reads; the rest is the file.
    void Write(const std::string& target, const std::string& name, uint8_t selector, const std::vector<uint8_t>& file) {
        std::vector<uint8_t> bytes{selector};
        bytes.insert(bytes.end(), file.begin(), file.end());
        Write(target, name, bytes);
    }
    bool Failed() const { return failed_; }

private:
    std::string folder_;
    bool failed_ = false;
};

// Whole packs: entries stored and compressed, with and without repair data,
// healthy and damaged the ways the loader meets (one block, the short last
// block, two blocks, the compressed bytes).
void PackEntrySeeds(Seeds& seeds) {
    const std::string target = "pack_entry";
    auto pack = [](std::vector<PackFileSpec> files) { return BuildPack(files); };
    seeds.Write(target, "stored.zpf",
                pack({PackFileSpec("bg\\a.png", Pattern(3 * 1024 + 100, 1)).WithKind(2),
                      PackFileSpec("Voice\\B.ogg", Pattern(10, 2)).WithKind(6), PackFileSpec("empty.txt")})
                    .bytes);
    seeds.Write(target, "compressed.zpf",
                pack({PackFileSpec("zkbin\\zkcfg.zbn", Text(2500)).Compressed(),
                      PackFileSpec(Utf8ToCp932("表\\ソ.txt"), Text(300)).Compressed(1)})
                    .bytes);

    BuiltPack one_block = pack({PackFileSpec("f", Pattern(3 * 1024, 3))});
    CorruptBlock(one_block, 0, 1);
    seeds.Write(target, "one_block_damaged.zpf", one_block.bytes);

    BuiltPack last_block = pack({PackFileSpec("f", Pattern(2 * 1024 + 77, 4))});
    CorruptLastByte(last_block, 0);
    seeds.Write(target, "short_last_block_damaged.zpf", last_block.bytes);

    BuiltPack two_blocks = pack({PackFileSpec("f", Pattern(3 * 1024, 5))});
    CorruptTwoBlocks(two_blocks, 0, 0, 2);
    seeds.Write(target, "two_blocks_damaged.zpf", two_blocks.bytes);

    BuiltPack no_parity = pack({PackFileSpec("f", Pattern(2 * 1024, 6)).WithTrailer(PackTrailer::kNoParity)});
    CorruptBlock(no_parity, 0, 1);
    seeds.Write(target, "no_parity_damaged.zpf", no_parity.bytes);

    BuiltPack compressed = pack({PackFileSpec("f", Text(3000)).Compressed()});
    CorruptStoredByte(compressed, 0, 20);
    seeds.Write(target, "compressed_damaged.zpf", compressed.bytes);
}

std::vector<uint8_t> EntryFile(std::vector<std::pair<int, int32_t>> entries, size_t bytes) {
    std::vector<int32_t> table(32, 0);
    for (auto [index, value] : entries) table[static_cast<size_t>(index)] = value;
    ByteWriter out;
    for (int32_t value : table) out.I32(value);
    std::vector<uint8_t> file = out.Take();
    file.resize(bytes);
    return file;
}

// Selector 0 zkcfg.zbn, 1 zkcfg.dat, 2 zksfs.dat.
void SettingsSeeds(Seeds& seeds) {
    const std::string target = "settings_files";
    EngineConfigFile config;
    config.title = Utf8ToCp932("テストゲーム");
    config.image_extension_order = {1, 3, 2, 0, 0, 0, 0, 0};
    config.sound_extension_order = {1, 2, 0, 0};
    seeds.Write(target, "zkcfg_zbn", 0, WriteEngineConfig(config));
    EngineConfigFile desktop;
    desktop.screen_width = 0;
    desktop.screen_height = 0;
    desktop.game_loop_thread = 1;
    desktop.debug = 1;
    desktop.sound = 2;
    seeds.Write(target, "zkcfg_zbn_desktop", 0, WriteEngineConfig(desktop));
    seeds.Write(target, "zkcfg_dat", 1,
                EntryFile({{0, 0}, {2, 1}, {3, 0}, {4, 0}, {6, 1}, {7, 2}, {8, 1}, {9, 1}, {13, 1}, {22, 1}}, 128));
    seeds.Write(target, "zkcfg_dat_short", 1, EntryFile({{7, 3}, {8, 3}}, 40));
    seeds.Write(target, "zksfs_dat", 2, EntryFile({{21, 3}}, 128));
}

void ErrorTextSeeds(Seeds& seeds) {
    const std::string target = "error_texts";
    seeds.Write(target, "zke.zbn",
                BuildZke({{104010, Utf8ToCp932("[%s]ファイルを\n読み込めませんでした。")},
                          {901020, Utf8ToCp932("設定値が範囲外です。")},
                          {900070, "variable %d of %s is outside the table (%5d, %-8s, %x, %c, %%)"},
                          {200000, ""}}));
    seeds.Write(target, "empty.zbn", BuildZke({}));
}

// The first byte is the resource's length (4), then the resource (V), then
// the executable: filler up to V, the block, the preview, a small pack.
std::vector<uint8_t> AppendedInput(uint32_t v, std::string_view magic, uint32_t preview_size, bool with_pack) {
    ByteWriter out;
    out.U8(4);
    out.U32(v);
    std::vector<uint8_t> filler(v, 0xCC);
    out.Bytes(filler);
    out.Bytes(magic);
    out.U32(16 + preview_size);
    out.U32(preview_size);
    out.U32(0);
    out.Bytes(Pattern(preview_size, 7));
    if (with_pack) out.Bytes(BuildPack({PackFileSpec("zkbin\\zkcfg.zbn", Text(100))}).bytes);
    return out.Take();
}

void AppendedSeeds(Seeds& seeds) {
    const std::string target = "appended_data";
    seeds.Write(target, "single_file_game", AppendedInput(64, "ZKER", 0, true));
    seeds.Write(target, "screen_saver", AppendedInput(64, "ZKER", 54, true));
    seeds.Write(target, "another_magic", AppendedInput(64, "ZKEX", 0, false));
    // V = 4: nothing appended, whatever follows.
    seeds.Write(target, "nothing_appended", AppendedInput(4, "ZKER", 0, false));
}

// Save files holding every block kind: an integer array, a text element,
// a real, a layer image, a list and the memory rows of block 1024.
void SaveDataSeeds(Seeds& seeds) {
    const std::string target = "save_data";
    testing_support::LoadEveryCodecLibrary();
    auto pending = std::make_unique<PendingBlocks>();
    std::vector<uint8_t> array = {1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 24, 0, 0, 0};
    for (int i = 0; i < 24; ++i) array.push_back(static_cast<uint8_t>(i % 8 == 0 ? i : 0));
    (*pending)[0] = *MakeVariableBlock(1000, array);
    (*pending)[1] = *MakeVariableBlock(1002, EncodeTextElementPayload(Utf8ToCp932("ソ表")));
    (*pending)[2] = *MakeVariableBlock(1001, EncodeRealElementPayload(0.25));
    const std::vector<uint8_t> pixels = Pattern(3 * 4 * 2, 7);
    (*pending)[3] = *MakeImageBlock(EncodeImagePayload(3, 2, pixels));
    std::vector<std::vector<uint8_t>> records = {*MakeVariableBlock(1000, array),
                                                 *MakeVariableBlock(1004, EncodeTextElementPayload("t"))};
    (*pending)[4] = MakeListBlock(records);
    seeds.Write(target, "blocks.sd", BuildSaveFile(*pending, kDataNumberCount));

    auto row_blocks = std::make_unique<PendingBlocks>();
    (*row_blocks)[0] = (*pending)[0];
    std::vector<std::vector<uint8_t>> rows(kSaveRowCount);
    rows[0] = BuildSaveFile(*row_blocks, kDataNumberCount - 1);
    rows[499] = rows[0];
    std::vector<std::span<const uint8_t>> views(rows.begin(), rows.end());
    auto file_blocks = std::make_unique<PendingBlocks>();
    MakeRowsBlock(views, (*file_blocks)[kRowsDataNumber - 1]);
    seeds.Write(target, "rows.sd", BuildSaveFile(*file_blocks, kDataNumberCount));
}

// sound_file: one byte (0 Ogg, 1 WAVE) and the file.
void SoundSeeds(Seeds& seeds) {
    const std::string target = "sound_file";
    auto with_kind = [](uint8_t kind, std::vector<uint8_t> file) {
        file.insert(file.begin(), kind);
        return file;
    };
    WaveSpec spec;
    spec.channels = 2;
    spec.rate = 8000;
    spec.frames = 200;
    spec.samples = SineTone(400, 8000, 8000);
    spec.before_format = {{"LIST", std::vector<uint8_t>(9, 'i')}};
    seeds.Write(target, "wave_pcm16", with_kind(1, WaveFile(spec)));
    spec.bits = 8;
    spec.channels = 1;
    seeds.Write(target, "wave_pcm8", with_kind(1, WaveFile(spec)));
    seeds.Write(target, "wave_adpcm", with_kind(1, AdpcmWaveFile(1, 8000, 300, SineTone(400, 8000, 8000))));
    seeds.Write(target, "ogg_mono", with_kind(0, OggVorbisFile(1, 8000, 4000, SineTone(300, 8000, 6000))));
}

// theora_movie: an Ogg Theora file, small pictures of each chroma layout.
void MovieSeeds(Seeds& seeds) {
    const std::string target = "theora_movie";
    TheoraSpec spec;
    spec.pic_width = 20;
    spec.pic_height = 14;
    spec.pic_x = 3;
    spec.pic_y = 1;
    spec.frames = 6;
    spec.keyframe_every = 3;
    seeds.Write(target, "yuv420", TheoraMovieFile(spec));
    spec.layout = ChromaLayout::k444;
    spec.with_sound = true;
    spec.sound_channels = 1;
    spec.sound_rate = 8000;
    spec.sound = SineTone(300, 8000, 4000);
    seeds.Write(target, "yuv444_sound", TheoraMovieFile(spec));
}

}  // namespace
}  // namespace zk::tools

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zk_fuzz_seeds CORPUS_FOLDER\n");
        return 2;
    }
    zk::tools::Seeds seeds(argv[1]);
    zk::tools::PackEntrySeeds(seeds);
    zk::tools::SettingsSeeds(seeds);
    zk::tools::ErrorTextSeeds(seeds);
    zk::tools::AppendedSeeds(seeds);
    zk::tools::SaveDataSeeds(seeds);
    zk::tools::SoundSeeds(seeds);
    zk::tools::MovieSeeds(seeds);
    return seeds.Failed() ? 1 : 0;
}
