// Loading pack entries: stored and compressed files, repair of a damaged
// block while loading, and the numbered error of every failure.
#include "storage/pack_loader.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "storage/pack_file.h"
#include "tests/storage/pack_test_folder.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;
using testing_support::PatternBytes;
using tools::PackFileSpec;
using tools::PackTrailer;

class PackLoaderTest : public testing_support::PackGameFolder {
protected:
    // Writes the pack as "data.zpf" and builds the index over it.
    void Install(const tools::BuiltPack& pack) {
        ASSERT_TRUE(tools::WritePack((folder_ / "data.zpf").string(), pack));
        ASSERT_EQ(BuildPackIndex(), 0);
    }
};

TEST_F(PackLoaderTest, LoadsStoredAndCompressedFilesOfEverySize) {
    std::vector<PackFileSpec> files;
    for (uint8_t compression : {0, 1}) {
        for (size_t size : {0, 1, 1023, 1024, 1025, 10 * 1024 + 77}) {
            PackFileSpec file("f" + std::to_string(compression) + "_" + std::to_string(size),
                              PatternBytes(size, static_cast<uint32_t>(size)));
            if (compression == 1) file.Compressed();
            files.push_back(file);
        }
    }
    Install(tools::BuildPack(files));
    for (const PackFileSpec& file : files) {
        Loaded loaded = Load(file.name);
        ASSERT_EQ(loaded.found, 2) << file.name;
        EXPECT_EQ(loaded.result, 0) << file.name;
        EXPECT_EQ(loaded.source.size, static_cast<int32_t>(file.data.size())) << file.name;
        EXPECT_EQ(loaded.source.data, file.data) << file.name;
    }
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(PackLoaderTest, ALooseFileWinsOverThePack) {
    Install(tools::BuildPack({PackFileSpec("bg\\title.png", Bytes("packed"))}));
    fs::create_directories(folder_ / "bg");
    std::ofstream(folder_ / "bg" / "title.png") << "loose";
    FileSource source;
    EXPECT_EQ(ResolveFileSource(source, "bg\\title.png"), 1);
    // A folder of the name is no loose file: the pack answers.
    fs::remove(folder_ / "bg" / "title.png");
    fs::create_directories(folder_ / "bg" / "title.png");
    platform::ClearPathCache();
    EXPECT_EQ(ResolveFileSource(source, "bg\\title.png"), 2);
}

// Damage repaired while loading: the file arrives as written, no message.
TEST_F(PackLoaderTest, RepairsOneDamagedBlockOfStoredAndCompressedEntries) {
    const std::vector<uint8_t> stored_data = PatternBytes(10 * 1024, 7);
    const std::vector<uint8_t> short_tail = PatternBytes(3 * 1024 + 300, 8);
    // Level 0 keeps the compressed form as long as the data, so it spans
    // several blocks; the damage lies in the Adler-32 tail, which zlib
    // always reports.
    const std::vector<uint8_t> compressed_data = PatternBytes(5000, 9);
    tools::BuiltPack pack = tools::BuildPack({
        PackFileSpec("stored", stored_data),
        PackFileSpec("short_tail", short_tail),
        PackFileSpec("compressed", compressed_data).Compressed(0),
    });
    tools::CorruptBlock(pack, 0, 3);
    tools::CorruptLastByte(pack, 1);
    tools::CorruptLastByte(pack, 2);
    Install(pack);
    for (auto [name, data] : {std::pair{"stored", &stored_data}, {"short_tail", &short_tail},
                              {"compressed", &compressed_data}}) {
        Loaded loaded = Load(name);
        ASSERT_EQ(loaded.found, 2) << name;
        EXPECT_EQ(loaded.result, 0) << name;
        EXPECT_EQ(loaded.source.data, *data) << name;
    }
    EXPECT_EQ(Reports(), 0u);
}

// zlib reports some damage as a buffer error rather than a data error: a
// stored-block length made longer runs the stream past the file's size.
// That damage is repaired too.
TEST_F(PackLoaderTest, RepairsDamageThatZlibReportsAsABufferError) {
    const std::vector<uint8_t> data = PatternBytes(3000, 11);
    tools::BuiltPack pack = tools::BuildPack({PackFileSpec("file", data).Compressed(0)});
    const tools::PackEntryLayout& layout = pack.entries[0];
    // zlib header (2 bytes), then one final stored block: 0x01, LEN, NLEN.
    size_t at = static_cast<size_t>(layout.data_offset);
    ASSERT_EQ(pack.bytes[at + 2], 0x01);
    uint16_t length = static_cast<uint16_t>(pack.bytes[at + 3] | pack.bytes[at + 4] << 8);
    ASSERT_EQ(length, data.size());
    uint16_t longer = static_cast<uint16_t>(length + 8);
    uint16_t complement = static_cast<uint16_t>(~longer);
    tools::CorruptStoredByte(pack, 0, 3, static_cast<uint8_t>(pack.bytes[at + 3] ^ (longer & 0xFF)));
    tools::CorruptStoredByte(pack, 0, 4, static_cast<uint8_t>(pack.bytes[at + 4] ^ (longer >> 8)));
    tools::CorruptStoredByte(pack, 0, 5, static_cast<uint8_t>(pack.bytes[at + 5] ^ (complement & 0xFF)));
    tools::CorruptStoredByte(pack, 0, 6, static_cast<uint8_t>(pack.bytes[at + 6] ^ (complement >> 8)));
    // The damage is what this test is about: zlib says -5 for it.
    std::vector<uint8_t> out(data.size());
    uLongf out_length = out.size();
    ASSERT_EQ(uncompress(out.data(), &out_length, pack.bytes.data() + at, static_cast<uLong>(layout.stored_size)),
              Z_BUF_ERROR);

    Install(pack);
    Loaded loaded = Load("file");
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.source.data, data);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(PackLoaderTest, RefusesDamageItCannotRepair) {
    const std::vector<uint8_t> data = PatternBytes(6 * 1024, 3);
    struct Case {
        const char* what;
        PackFileSpec file;
        void (*damage)(tools::BuiltPack&);
    };
    const Case cases[] = {
        {"two blocks of a stored entry", PackFileSpec("file", data),
         [](tools::BuiltPack& p) { tools::CorruptTwoBlocks(p, 0, 1, 4); }},
        {"one block without repair data", PackFileSpec("file", data).WithTrailer(PackTrailer::kNoParity),
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 2); }},
        {"one block with no trailer at all", PackFileSpec("file", data).WithTrailer(PackTrailer::kNone),
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 5); }},
        {"a trailer claiming one block too many", PackFileSpec("file", data).WithTrailer(PackTrailer::kWrongBlockCount),
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 2); }},
        {"a stored entry whose checksum field is wrong", PackFileSpec("file", data),
         [](tools::BuiltPack& p) { tools::CorruptChecksumField(p, 0); }},
        // The zlib header of block 0 and the Adler-32 tail of the last block.
        {"two blocks of a compressed entry", PackFileSpec("file", data).Compressed(0),
         [](tools::BuiltPack& p) {
             tools::CorruptStoredByte(p, 0, 0, 0x01);
             tools::CorruptLastByte(p, 0);
         }},
        {"a compressed entry without repair data",
         PackFileSpec("file", data).Compressed().WithTrailer(PackTrailer::kNoParity),
         [](tools::BuiltPack& p) { tools::CorruptLastByte(p, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetPackIndex();
        ResetErrorReporter();
        tools::BuiltPack pack = tools::BuildPack({c.file});
        c.damage(pack);
        Install(pack);
        Loaded loaded = Load("file");
        ASSERT_EQ(loaded.found, 2);
        EXPECT_EQ(loaded.result, -2);
        EXPECT_EQ(LastMessage(), Message(104100, {".\\data.zpf", "file"}));
        EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
        EXPECT_TRUE(loaded.source.data.empty());
        EXPECT_EQ(loaded.source.size, 0);
    }
}

TEST_F(PackLoaderTest, ACompressedEntryThatDecompressesCleanlyLoadsWhateverItsChecksum) {
    const std::vector<uint8_t> data = PatternBytes(4000, 5);
    tools::BuiltPack pack = tools::BuildPack({PackFileSpec("file", data).Compressed()});
    tools::CorruptChecksumField(pack, 0);
    Install(pack);
    Loaded loaded = Load("file");
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.source.data, data);
    EXPECT_EQ(Reports(), 0u);
}

// Entry records are untrusted: each malformed one gets its numbered error
// before anything is allocated or read for it.
TEST_F(PackLoaderTest, EveryMalformedEntryGetsItsNumberedError) {
    const std::vector<uint8_t> data = PatternBytes(2000, 2);
    struct Case {
        const char* what;
        PackFileSpec file;
        int32_t result;
        uint32_t code;
        bool names_pack_only;
    };
    const Case cases[] = {
        {"compression 2", PackFileSpec("").WithCompressionByte(2), -3, 901040, true},
        {"stored size of 2^31", PackFileSpec("").WithSize(0x80000000u), -2, 104100, false},
        {"stored size of 2^32 - 1", PackFileSpec("").WithSize(0xFFFFFFFFu), -2, 104100, false},
        {"compressed stored size of 2^31", PackFileSpec("").Compressed().WithStoredSize(0x80000000u), -2, 104100, false},
        {"data offset past the end", PackFileSpec("").WithDataOffset(1u << 20), -2, 104100, false},
        {"data offset of 2^64 - 1", PackFileSpec("").WithDataOffset(~uint64_t{0}), -2, 104100, false},
        {"data running past the end", PackFileSpec("").WithSize(2000 + 2000), -2, 104100, false},
        // No zlib stream of 2 KB expands to a gigabyte.
        {"a size no stream can expand to", PackFileSpec("").Compressed().WithSize(1u << 30), -2, 104100, false},
        {"a size too small for the stream", PackFileSpec("").Compressed().WithSize(1000), -2, 900040, false},
        // The stream ends before the file does.
        {"a size larger than the stream", PackFileSpec("").Compressed().WithSize(3000), -2, 104100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetPackIndex();
        ResetErrorReporter();
        PackFileSpec file = c.file;
        file.name = "file";
        file.data = data;
        Install(tools::BuildPack({file}));
        Loaded loaded = Load("file");
        ASSERT_EQ(loaded.found, 2);
        EXPECT_EQ(loaded.result, c.result);
        if (c.code == 104100) {
            EXPECT_EQ(LastMessage(), Message(104100, {".\\data.zpf", "file"}));
        } else {
            EXPECT_EQ(LastMessage(), Message(c.code, {c.names_pack_only ? ".\\data.zpf" : "file"}));
        }
        EXPECT_TRUE(loaded.source.data.empty());
    }
}

TEST_F(PackLoaderTest, WithoutTheZlibLibraryOnlyStoredEntriesLoad) {
    Install(tools::BuildPack({PackFileSpec("stored", Bytes("plain")),
                       PackFileSpec("compressed", Bytes("squeezed")).Compressed()}));
    platform::UnloadCodecLibrary(platform::CodecLibraryId::kDevod);
    EXPECT_EQ(Load("stored").result, 0);
    Loaded loaded = Load("compressed");
    EXPECT_EQ(loaded.result, -2);
    EXPECT_EQ(LastMessage(), Message(106010, {"compressed"}));
}

// With the game appended to the executable every pack path means the
// executable, read from the appended pack's base.
TEST_F(PackLoaderTest, AnAppendedPackIsReadFromTheExecutableAtItsBase) {
    TheAppendedData().appended = true;
    TheAppendedData().block_offset = 1;
    TheAppendedData().pack_offset = 2;
    PackStream stream;
    ASSERT_EQ(OpenPackFile(stream, "no such pack.zpf"), 0);
    std::array<uint8_t, 2> bytes{};
    ASSERT_TRUE(ReadPackBytes(stream, bytes));
    EXPECT_EQ(bytes[0], 'F');  // "\x7FELF" from offset 3
    EXPECT_EQ(TellPack(stream), 2u);
    ASSERT_TRUE(SeekPack(stream, 0));
    EXPECT_EQ(ReadPackU8(stream), uint8_t{'F'});
    ASSERT_TRUE(SeekPack(stream, PackLength(stream)));
    EXPECT_EQ(ReadPackU8(stream), std::nullopt);
}

}  // namespace
}  // namespace zk
