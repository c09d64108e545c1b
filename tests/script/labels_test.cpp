// The label table and FindLabel: bucketed lookup, names that share a
// bucket, the forced first bucket, and the tables the loader refuses.
#include <array>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/hashes.h"
#include "script/labels.h"
#include "tools/lib/script_writer.h"

namespace zk {
namespace {

using tools::LabelDef;
using tools::ZklFile;

uint32_t Top(std::string_view name) { return LabelCheckValue(name) >> 24; }

LabelDef At(std::string name, uint32_t command, uint16_t file = 0) {
    LabelDef label;
    label.name = std::move(name);
    label.command_index = command;
    label.file_number = file;
    return label;
}

// Names "L<n>" grouped by their bucket, enough to find buckets that hold
// several names and buckets that hold exactly one.
std::map<uint32_t, std::vector<std::string>> NamesByBucket(int count) {
    std::map<uint32_t, std::vector<std::string>> buckets;
    for (int i = 0; i < count; ++i) {
        std::string name = "L" + std::to_string(i);
        buckets[Top(name)].push_back(name);
    }
    return buckets;
}

LabelTable Parse(const ZklFile& file, uint32_t file_count = 4) {
    LabelTable table;
    EXPECT_TRUE(ParseLabelTable(tools::BuildZkl(file), file_count, table));
    return table;
}

TEST(LabelTable, CheckValueIsMurmurHash2SeededWithTheLength) {
    EXPECT_EQ(LabelCheckValue("SYSTEM_START"), MurmurHash2(std::string_view("SYSTEM_START"), 12));
    EXPECT_NE(LabelCheckValue("SYSTEM_START"), MurmurHash2(std::string_view("SYSTEM_START"), 0));
}

TEST(LabelTable, FindsEveryLabelIncludingNamesThatShareABucket) {
    ZklFile file;
    for (const auto& [bucket, names] : NamesByBucket(600)) {
        for (const std::string& name : names) file.labels.push_back(At(name, static_cast<uint32_t>(file.labels.size())));
    }
    LabelTable table = Parse(file);
    ASSERT_EQ(table.entries.size(), 600u);
    std::vector<LabelDef> sorted = tools::SortedLabels(file);
    for (size_t i = 0; i < sorted.size(); ++i) {
        ASSERT_EQ(FindLabelIn(table, sorted[i].name), static_cast<int32_t>(i)) << sorted[i].name;
        EXPECT_EQ(table.entries[i].command_index, sorted[i].command_index);
    }
}

TEST(LabelTable, MissingNamesGiveMinusOne) {
    auto buckets = NamesByBucket(400);
    // A bucket with at least two names: keep one, ask for the other (the
    // scan meets the kept name and goes on to the table's end).
    auto shared = std::find_if(buckets.begin(), buckets.end(), [](const auto& b) { return b.second.size() >= 2; });
    ASSERT_NE(shared, buckets.end());
    ZklFile file;
    file.labels = {At(shared->second[0], 1), At("other", 2)};
    LabelTable table = Parse(file);
    EXPECT_EQ(FindLabelIn(table, shared->second[1]), -1);
    EXPECT_GE(FindLabelIn(table, shared->second[0]), 0);
    // Same length as a stored name, different bytes; a prefix; the empty name.
    EXPECT_EQ(FindLabelIn(table, "othes"), -1);
    EXPECT_EQ(FindLabelIn(table, "oth"), -1);
    EXPECT_EQ(FindLabelIn(table, ""), -1);
    EXPECT_EQ(FindLabelIn(LabelTable{}, "other"), -1);
}

TEST(LabelTable, DuplicateNamesFindTheFirst) {
    ZklFile file;
    file.labels = {At("TWICE", 5), At("TWICE", 9)};
    LabelTable table = Parse(file);
    int32_t index = FindLabelIn(table, "TWICE");
    ASSERT_EQ(index, 0);
    EXPECT_EQ(table.entries[0].command_index, 5u);
}

TEST(LabelTable, BucketZeroStartsAtZeroWhateverTheFileHolds) {
    // A name in bucket 0 and one in a later bucket.
    std::string low, high;
    for (int i = 0; low.empty() || high.empty(); ++i) {
        std::string name = "N" + std::to_string(i);
        if (Top(name) == 0 && low.empty()) low = name;
        if (Top(name) > 0x80 && high.empty()) high = name;
    }
    ZklFile file;
    file.labels = {At(low, 3), At(high, 4)};
    std::array<uint32_t, 256> starts{};
    for (uint32_t b = 1; b < 256; ++b) starts[b] = b <= Top(high) ? 1 : 2;
    starts[0] = 2;  // not read
    file.bucket_starts = starts;
    LabelTable table = Parse(file);
    EXPECT_EQ(table.bucket_start[0], 0u);
    EXPECT_EQ(FindLabelIn(table, low), 0);
    EXPECT_EQ(FindLabelIn(table, high), 1);
}

TEST(LabelTable, RemembersHowFarLabelsReachIntoEachFile) {
    ZklFile file;
    file.labels = {At("a", 7, 1), At("b", 3, 1), At("c", 0, 3)};
    LabelTable table = Parse(file);
    EXPECT_EQ(table.command_limit_by_file, (std::vector<uint32_t>{0, 8, 0, 1}));
}

// Tables the compiler never writes: each would hide labels from the scan,
// point past the records or give a task depths beyond its stacks.
TEST(LabelTable, RefusesInconsistentTables) {
    std::string first = "A", second;
    for (int i = 0; second.empty(); ++i) {
        std::string name = "B" + std::to_string(i);
        if (Top(name) > Top(first)) second = name;
    }
    auto base = [&] {
        ZklFile file;
        file.labels = {At(first, 0), At(second, 1)};
        return file;
    };
    struct Case {
        const char* what;
        ZklFile file;
        uint32_t file_count = 4;
    };
    std::vector<Case> cases;
    {
        ZklFile f = base();
        f.labels[0].check_value = LabelCheckValue(first) ^ 1;
        cases.push_back({"check value not the name's hash", f});
    }
    {
        ZklFile f = base();
        f.sort = false;
        std::swap(f.labels[0], f.labels[1]);
        cases.push_back({"records out of bucket order", f});
    }
    {
        ZklFile f = base();
        std::array<uint32_t, 256> starts{};
        for (uint32_t b = 0; b < 256; ++b) starts[b] = b <= Top(second) ? 0 : 2;  // second's bucket starts at 0
        f.bucket_starts = starts;
        cases.push_back({"bucket start before its first record", f});
    }
    {
        ZklFile f = base();
        std::array<uint32_t, 256> starts{};
        for (uint32_t b = 0; b < 256; ++b) starts[b] = b <= Top(first) ? 0 : (b <= Top(second) ? 1 : 2);
        starts[255] = 3;
        f.bucket_starts = starts;
        cases.push_back({"empty bucket starting past the records", f});
    }
    {
        ZklFile f = base();
        f.labels[1].file_number = 4;
        cases.push_back({"file number outside the list", f});
    }
    {
        ZklFile f = base();
        f.labels[1].block_depth = 128;
        cases.push_back({"block depth beyond the stack", f});
    }
    {
        ZklFile f = base();
        f.labels[1].loop_depth = 64;
        cases.push_back({"loop depth beyond the stack", f});
    }
    {
        ZklFile f = base();
        f.labels[1].command_index = 0xFFFFFFFF;
        cases.push_back({"command index no file can hold", f});
    }
    for (const Case& c : cases) {
        LabelTable table;
        table.entries.resize(1);
        EXPECT_FALSE(ParseLabelTable(tools::BuildZkl(c.file), c.file_count, table)) << c.what;
        EXPECT_EQ(table.entries.size(), 1u) << c.what << ": changed on failure";
    }
    // The base itself, and the deepest depths a label can have, are fine.
    ZklFile deepest = base();
    deepest.labels[1].block_depth = 127;
    deepest.labels[1].loop_depth = 63;
    LabelTable table;
    EXPECT_TRUE(ParseLabelTable(tools::BuildZkl(deepest), 4, table));
}

}  // namespace
}  // namespace zk
