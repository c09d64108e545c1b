// Verifying and repairing an entry's stored bytes from its trailer, and the
// CRC-32 the trailer's block codes use.
#include "storage/pack_repair.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "base/hashes.h"
#include "tests/storage/pack_test_folder.h"

namespace zk {
namespace {

using testing_support::PatternBytes;
using tools::PackFileSpec;
using tools::PackTrailer;

class PackRepairTest : public testing_support::PackGameFolder {
protected:
    struct Outcome {
        int32_t result = 0;
        std::vector<uint8_t> bytes;  // the buffer afterwards
        uint64_t position = 0;       // the stream afterwards, from the data start
    };

    // Writes one stored entry with its trailer, damages it, and runs the
    // check over the stored bytes read back from the pack.
    Outcome Verify(const std::vector<uint8_t>& data, PackTrailer trailer, void (*damage)(tools::BuiltPack&),
                   size_t truncate_by = 0) {
        tools::BuiltPack pack = tools::BuildPack({PackFileSpec("f", data).WithTrailer(trailer)});
        uint32_t checksum = MurmurHash2(std::span<const uint8_t>(data), 0);
        if (damage != nullptr) damage(pack);
        pack.bytes.resize(pack.bytes.size() - truncate_by);
        EXPECT_TRUE(tools::WritePack((folder_ / "p.zpf").string(), pack));
        const tools::PackEntryLayout& layout = pack.entries[0];

        PackStream stream;
        EXPECT_EQ(OpenPackFile(stream, "p.zpf"), 0);
        Outcome outcome;
        outcome.bytes.assign(pack.bytes.begin() + static_cast<ptrdiff_t>(layout.data_offset),
                             pack.bytes.begin() + static_cast<ptrdiff_t>(layout.data_offset + layout.stored_size));
        EXPECT_TRUE(SeekPack(stream, layout.data_offset + layout.stored_size));
        outcome.result = VerifyAndRepair(stream, outcome.bytes, checksum);
        outcome.position = TellPack(stream) - layout.data_offset;
        return outcome;
    }
};

TEST_F(PackRepairTest, AHealthyEntryIsNotTouchedAndReadsNothing) {
    std::vector<uint8_t> data = PatternBytes(10 * 1024);
    Outcome outcome = Verify(data, PackTrailer::kPresent, nullptr);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.bytes, data);
    EXPECT_EQ(outcome.position, data.size());
}

TEST_F(PackRepairTest, RebuildsOneDamagedBlock) {
    struct Case {
        const char* what;
        size_t size;
        void (*damage)(tools::BuiltPack&);
    };
    const Case cases[] = {
        {"one byte in block 3 of 10", 10 * 1024, [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 3); }},
        {"the first byte", 10 * 1024, [](tools::BuiltPack& p) { tools::CorruptStoredByte(p, 0, 0, 0xFF); }},
        {"many bytes of one block", 4 * 1024,
         [](tools::BuiltPack& p) {
             for (uint64_t k = 0; k < 1024; k += 3) tools::CorruptStoredByte(p, 0, 2 * 1024 + k, 0x81);
         }},
        {"the short last block", 3 * 1024 + 100, [](tools::BuiltPack& p) { tools::CorruptLastByte(p, 0); }},
        {"a file of one short block", 10, [](tools::BuiltPack& p) { tools::CorruptStoredByte(p, 0, 4); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> data = PatternBytes(c.size, static_cast<uint32_t>(c.size));
        Outcome outcome = Verify(data, PackTrailer::kPresent, c.damage);
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.bytes, data);
    }
}

// A block whose code in the trailer is wrong while its bytes are sound is
// rebuilt from its neighbours and comes out unchanged, so a damaged block
// elsewhere is still repaired.
TEST_F(PackRepairTest, ASoundBlockWithADamagedCodeDoesNotSpoilTheRepair) {
    std::vector<uint8_t> data = PatternBytes(10 * 1024, 4);
    Outcome outcome = Verify(data, PackTrailer::kPresent, [](tools::BuiltPack& p) {
        tools::CorruptBlock(p, 0, 3);
        // The trailer follows the stored bytes: parity length, count, codes.
        const tools::PackEntryLayout& layout = p.entries[0];
        p.bytes[layout.data_offset + layout.stored_size + 8 + 2 * 7] ^= 0x01;
    });
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.bytes, data);
}

TEST_F(PackRepairTest, RefusesWhatItCannotRepair) {
    struct Case {
        const char* what;
        PackTrailer trailer;
        void (*damage)(tools::BuiltPack&);
        size_t truncate_by;
    };
    const Case cases[] = {
        {"two damaged blocks", PackTrailer::kPresent, [](tools::BuiltPack& p) { tools::CorruptTwoBlocks(p, 0, 3, 8); },
         0},
        {"two bytes in one column of two blocks", PackTrailer::kPresent,
         [](tools::BuiltPack& p) {
             tools::CorruptStoredByte(p, 0, 1024 + 5);
             tools::CorruptStoredByte(p, 0, 5 * 1024 + 5);
         },
         0},
        {"no repair data", PackTrailer::kNoParity, [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 3); }, 0},
        {"a parity length of 512", PackTrailer::kWrongParityLength,
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 3); }, 0},
        {"a block count one too many", PackTrailer::kWrongBlockCount,
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 3); }, 0},
        {"a trailer cut short by the end of the pack", PackTrailer::kPresent,
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 3); }, 1},
        {"no trailer before the end of the pack", PackTrailer::kNone,
         [](tools::BuiltPack& p) { tools::CorruptBlock(p, 0, 3); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> data = PatternBytes(10 * 1024, 6);
        Outcome outcome = Verify(data, c.trailer, c.damage, c.truncate_by);
        EXPECT_EQ(outcome.result, -1);
    }
}

TEST(ComputeCrc32, MatchesZlib) {
    std::vector<uint8_t> data = testing_support::PatternBytes(4099, 12);
    for (size_t length : {0, 1, 3, 4, 5, 7, 8, 1024, 4099}) {
        std::span<const uint8_t> part(data.data(), length);
        EXPECT_EQ(ComputeCrc32(part), crc32(0, data.data(), static_cast<uInt>(length))) << length;
    }
    const std::string check = "123456789";
    EXPECT_EQ(ComputeCrc32(std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size())), 0xCBF43926u);
}

}  // namespace
}  // namespace zk
