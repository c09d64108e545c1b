// Verifying and repairing an entry's stored bytes from its trailer, and the
// CRC-32 the trailer's block codes use.
#include "storage/pack_repair.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <random>
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

// The repair rule stated directly, one column walk per rebuilt byte: every
// suspect block (its code differs) has each byte whose column disagrees
// with the parity rebuilt as the parity XOR that byte of every other
// block, as those blocks stand at that moment. Slow, but plainly the rule.
int32_t RepairByTheRule(std::vector<uint8_t>& stored, std::span<const uint8_t> trailer, uint32_t checksum) {
    if (MurmurHash2(std::span<const uint8_t>(stored), 0) == checksum) return 0;
    const size_t n = (stored.size() + 1023) / 1024;
    std::span<const uint8_t> codes = trailer.subspan(8, 2 * n);
    std::span<const uint8_t> parity = trailer.subspan(8 + 2 * n, 1024);
    std::vector<uint8_t> sum(1024, 0);
    for (size_t i = 0; i < stored.size(); ++i) sum[i % 1024] ^= stored[i];
    for (size_t j = 0; j < n; ++j) {
        size_t length = std::min<size_t>(1024, stored.size() - j * 1024);
        uint16_t code = static_cast<uint16_t>(codes[2 * j] | codes[2 * j + 1] << 8);
        uint32_t crc = crc32(0, stored.data() + j * 1024, static_cast<uInt>(length));
        if (static_cast<uint16_t>(crc) == code) continue;
        for (size_t k = 0; k < length; ++k) {
            if (parity[k] == sum[k]) continue;
            uint8_t value = parity[k];
            for (size_t b = 0; b < n; ++b) {
                if (b != j && b * 1024 + k < stored.size()) value ^= stored[b * 1024 + k];
            }
            stored[j * 1024 + k] = value;
        }
    }
    return MurmurHash2(std::span<const uint8_t>(stored), 0) == checksum ? 1 : -1;
}

// Random damage to the stored bytes (one or several blocks, few bytes or
// many) and to the block codes: the repair gives the rule's answer and
// leaves the rule's bytes, rebuilt or not.
TEST_F(PackRepairTest, AgreesWithTheRuleOnRandomDamage) {
    std::mt19937 random(20240611);
    int repaired = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        size_t size = 1 + random() % (7 * 1024);
        std::vector<uint8_t> data = PatternBytes(size, static_cast<uint32_t>(round));
        tools::BuiltPack pack = tools::BuildPack({PackFileSpec("f", data)});
        const tools::PackEntryLayout& layout = pack.entries[0];
        const size_t blocks = (size + 1023) / 1024;
        uint8_t* stored = pack.bytes.data() + layout.data_offset;
        uint8_t* trailer = stored + size;
        size_t damaged_blocks = 1 + random() % std::min<size_t>(blocks, 3);
        for (size_t d = 0; d < damaged_blocks; ++d) {
            size_t block = random() % blocks;
            size_t length = std::min<size_t>(1024, size - block * 1024);
            size_t bytes = random() % 2 == 0 ? 1 + random() % 4 : length;
            for (size_t i = 0; i < bytes; ++i) stored[block * 1024 + random() % length] ^= 1 + random() % 255;
        }
        if (random() % 4 == 0) trailer[8 + 2 * (random() % blocks)] ^= 0x10;  // a code that lies
        std::vector<uint8_t> by_rule(stored, stored + size);
        int32_t expected = RepairByTheRule(by_rule, std::span<const uint8_t>(trailer, 8 + 2 * blocks + 1024),
                                           MurmurHash2(std::span<const uint8_t>(data), 0));
        ASSERT_TRUE(tools::WritePack((folder_ / "p.zpf").string(), pack));

        PackStream stream;
        ASSERT_EQ(OpenPackFile(stream, "p.zpf"), 0);
        std::vector<uint8_t> bytes(stored, stored + size);
        ASSERT_TRUE(SeekPack(stream, layout.data_offset + size));
        EXPECT_EQ(VerifyAndRepair(stream, bytes, MurmurHash2(std::span<const uint8_t>(data), 0)), expected);
        EXPECT_EQ(bytes, by_rule);
        (expected == 1 ? repaired : refused) += 1;
    }
    // Both outcomes were seen often enough to mean something.
    EXPECT_GT(repaired, 50);
    EXPECT_GT(refused, 50);
}

// Repair costs a step per byte whatever the entry's size: a large entry with
// one damaged block is rebuilt, and one damaged in every block is refused,
// each in a moment (a column walk per byte would take minutes here).
TEST_F(PackRepairTest, LargeEntriesAreRepairedOrRefusedQuickly) {
    constexpr size_t kSize = 4 * 1024 * 1024 + 300;
    std::vector<uint8_t> data = PatternBytes(kSize, 9);
    tools::BuiltPack pack = tools::BuildPack({PackFileSpec("one", data), PackFileSpec("every", data)});
    // Entry 0: a whole block damaged. Entry 1: every block damaged, the
    // parity disagreeing in nearly every column.
    for (uint64_t k = 0; k < 1024; ++k) tools::CorruptStoredByte(pack, 0, 2000 * 1024 + k, 0xA5);
    std::vector<uint8_t> other = PatternBytes(kSize, 10);
    std::copy(other.begin(), other.end(), pack.bytes.begin() + static_cast<ptrdiff_t>(pack.entries[1].data_offset));
    ASSERT_TRUE(tools::WritePack((folder_ / "big.zpf").string(), pack));
    ASSERT_EQ(BuildPackIndex(), 0);

    auto start = std::chrono::steady_clock::now();
    Loaded one = Load("one");
    Loaded every = Load("every");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    ASSERT_EQ(one.found, 2);
    EXPECT_EQ(one.result, 0);
    EXPECT_TRUE(one.source.data == data);
    ASSERT_EQ(every.found, 2);
    EXPECT_EQ(every.result, -2);
    EXPECT_EQ(LastMessage(), Message(104100, {".\\big.zpf", "every"}));
    // Far above what the work takes even in a sanitizer build on a busy
    // machine, and far below the minutes of a column walk per byte.
    EXPECT_LT(seconds, 10.0);
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
