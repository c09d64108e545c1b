// The pack index: finding the packs of a game folder, registering them
// within the limits, merging their tables with update packs overriding, and
// looking names up through the pack source.
#include "storage/pack_index.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "storage/descramble.h"
#include "tests/platform/fifo_watchdog.h"
#include "tests/storage/pack_test_folder.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;
using testing_support::Cp932;
using tools::PackFileSpec;
using tools::PackRawOptions;

class PackIndexTest : public testing_support::PackGameFolder {};

std::vector<std::string> SortedPackNames() {
    std::vector<std::string> names = ThePackIndex().pack_names;
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(PackIndexTest, FindsPacksInTheGameFolderAndItsPacFolderOnly) {
    WritePack("a.zpf", {PackFileSpec("a.txt", Bytes("a"))});
    WritePack("PAC/B.ZPF", {PackFileSpec("b.txt", Bytes("b"))});
    WritePack("PAC/sub/c.zpf", {PackFileSpec("c.txt", Bytes("c"))});
    WritePack("other/d.zpf", {PackFileSpec("d.txt", Bytes("d"))});
    WritePack("e.zpfx", {PackFileSpec("e.txt", Bytes("e"))});
    WriteRaw("not_a_pack.zpf", Bytes("PK\x03\x04 this is something else"));
    WriteRaw("tiny.zpf", Bytes("ZP"));
    fs::create_directories(folder_ / "folder.zpf");  // a folder is no pack

    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(SortedPackNames(), (std::vector<std::string>{".\\a.zpf", ".\\pac\\b.zpf"}));
    EXPECT_EQ(Reports(), 0u);

    struct Case {
        const char* name;
        int32_t found;
    };
    for (const Case& c : {Case{"a.txt", 2}, Case{"b.txt", 2}, Case{"c.txt", 0}, Case{"d.txt", 0}, Case{"e.txt", 0}}) {
        FileSource source;
        EXPECT_EQ(ResolveFileSource(source, c.name), c.found) << c.name;
    }
}

TEST_F(PackIndexTest, LooksUpNamesIgnoringAsciiCaseAndKeepsDoubleByteCharacters) {
    // "表" and "ソ" both end in the byte 0x5C, the code of '\'.
    std::string sjis_name = Cp932("表\\ソ.png");
    ASSERT_EQ(sjis_name[1], '\\');
    // A name whose trail byte differs from "ア" (0x83 0x41) by the ASCII
    // case bit, filed under the hash of that other name: only a comparison
    // that folds trail bytes would take the two for one.
    std::string katakana_a = Cp932("ア.png");
    std::string other = katakana_a;
    other[1] = static_cast<char>(other[1] | 0x20);
    WritePack("data.zpf", {
                              PackFileSpec("bg\\title.png", Bytes("title")).WithKind(2),
                              PackFileSpec("Voice\\A01.OGG", Bytes("voice")).WithKind(6),
                              PackFileSpec(sjis_name, Bytes("sjis")).WithKind(2),
                              PackFileSpec(katakana_a, Bytes("a")).WithHash(tools::PackNameHash(other)),
                          });
    ASSERT_EQ(BuildPackIndex(), 0);

    struct Case {
        std::string name;
        int32_t found;
        uint8_t kind;
        std::string data;
    };
    const Case cases[] = {
        {"bg\\title.png", 2, 2, "title"},
        // Stored in upper case, filed under its lower-case hash.
        {"voice\\a01.ogg", 2, 6, "voice"},
        // Callers pass lower-case names: the hash is taken as given.
        {"BG\\TITLE.PNG", 0, 0, ""},
        {sjis_name, 2, 2, "sjis"},
        {other, 0, 0, ""},
        {"bg\\missing.png", 0, 0, ""},
    };
    for (const Case& c : cases) {
        Loaded loaded = Load(c.name);
        EXPECT_EQ(loaded.found, c.found) << c.name;
        if (c.found != 2) continue;
        EXPECT_EQ(loaded.source.state, 2);
        EXPECT_EQ(loaded.source.kind, c.kind) << c.name;
        EXPECT_EQ(loaded.result, 0) << c.name;
        EXPECT_EQ(std::string(loaded.source.data.begin(), loaded.source.data.end()), c.data);
    }
    EXPECT_EQ(Reports(), 0u);
}

// Lookups go to a bucket of the sorted entries by the hash's top bits; a
// bucket crowded with names of one hash (more than a scan takes), hashes at
// both ends of the range and an empty bucket all give what a search of the
// whole index gives.
TEST_F(PackIndexTest, FindsEveryEntryOfAHashWhateverItsBucketHolds) {
    std::vector<PackFileSpec> files;
    // Decoys filed under the hash of "target.txt", then the name itself.
    const uint32_t crowded = tools::PackNameHash("target.txt");
    for (int i = 0; i < 20; ++i) {
        std::string name = "same" + std::to_string(i) + ".txt";
        files.push_back(PackFileSpec(name, Bytes(name)).WithHash(crowded));
    }
    files.push_back(PackFileSpec("target.txt", Bytes("target")));
    files.push_back(PackFileSpec("low.txt", Bytes("low")).WithHash(0));
    files.push_back(PackFileSpec("high.txt", Bytes("high")).WithHash(0xFFFFFFFFu));
    files.push_back(PackFileSpec("plain.txt", Bytes("plain")));
    WritePack("data.zpf", files);
    ASSERT_EQ(BuildPackIndex(), 0) << LastMessage();

    const std::vector<PackIndexEntry>& entries = ThePackIndex().entries;
    for (uint32_t hash : {0u, 1u, crowded - 1, crowded, crowded + 1, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu,
                          tools::PackNameHash("plain.txt")}) {
        size_t expected = size_t(std::count_if(entries.begin(), entries.end(),
                                               [&](const PackIndexEntry& e) { return e.hash == hash; }));
        std::span<const PackIndexEntry> found = FindPackIndexEntries(hash);
        EXPECT_EQ(found.size(), expected) << hash;
        for (const PackIndexEntry& entry : found) EXPECT_EQ(entry.hash, hash);
    }
    EXPECT_EQ(FindPackIndexEntries(crowded).size(), 21u);
    for (auto [name, data] : {std::pair{"target.txt", "target"}, {"plain.txt", "plain"}}) {
        Loaded loaded = Load(name);
        ASSERT_EQ(loaded.found, 2) << name;
        EXPECT_EQ(std::string(loaded.source.data.begin(), loaded.source.data.end()), data);
    }
}

TEST_F(PackIndexTest, UpdatePacksOverrideInNumberOrderWhereverTheyLie) {
    WritePack("data.zpf", {PackFileSpec("a.txt", Bytes("base")), PackFileSpec("b.txt", Bytes("b"))});
    // Found before update1 (the game folder is listed before pac), yet
    // registered after it.
    WritePack("UPDATE2.ZPF", {PackFileSpec("a.txt", Bytes("update2"))});
    WritePack("pac/update1.zpf", {PackFileSpec("A.TXT", Bytes("update1")), PackFileSpec("c.txt", Bytes("c"))});
    WritePack("update3.zpf", {PackFileSpec("c.txt", Bytes("update3 in the game folder"))});
    WritePack("pac/update3.zpf", {PackFileSpec("c.txt", Bytes("update3 in pac"))});

    ASSERT_EQ(BuildPackIndex(), 0) << LastMessage();
    EXPECT_EQ(ThePackIndex().pack_names,
              (std::vector<std::string>{".\\data.zpf", ".\\pac\\update1.zpf", ".\\update2.zpf", ".\\pac\\update3.zpf"}));
    // Replaced entries are gone from the index, not merely unreachable.
    EXPECT_EQ(ThePackIndex().entries.size(), 3u);
    for (auto [name, data] : {std::pair{"a.txt", "update2"}, {"b.txt", "b"}, {"c.txt", "update3 in pac"}}) {
        Loaded loaded = Load(name);
        ASSERT_EQ(loaded.found, 2) << name;
        ASSERT_EQ(loaded.result, 0) << name;
        EXPECT_EQ(std::string(loaded.source.data.begin(), loaded.source.data.end()), data) << name;
    }
}

// Names are folded one by one: a name that ends in a lead byte must not
// keep the next name from replacing its namesake.
TEST_F(PackIndexTest, AnUpdateReplacesANameThatFollowsOneEndingInALeadByte) {
    WritePack("data.zpf", {PackFileSpec("bg\\x.png", Bytes("base"))});
    WritePack("update1.zpf", {PackFileSpec("a\x81", Bytes("a")), PackFileSpec("BG\\X.png", Bytes("update"))});
    ASSERT_EQ(BuildPackIndex(), 0) << LastMessage();
    EXPECT_EQ(ThePackIndex().entries.size(), 2u);
    Loaded loaded = Load("bg\\x.png");
    ASSERT_EQ(loaded.found, 2);
    ASSERT_EQ(loaded.result, 0);
    EXPECT_EQ(std::string(loaded.source.data.begin(), loaded.source.data.end()), "update");
}

TEST_F(PackIndexTest, TheSameNameTwiceOutsideUpdatePacksStopsTheBuild) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::vector<PackFileSpec>>> packs;
    };
    const Case cases[] = {
        {"two ordinary packs", {{"one.zpf", {PackFileSpec("bg\\x.png")}}, {"two.zpf", {PackFileSpec("bg\\x.png")}}}},
        {"letter case only", {{"one.zpf", {PackFileSpec("BG\\X.png")}}, {"two.zpf", {PackFileSpec("bg\\x.PNG")}}}},
        {"one pack", {{"one.zpf", {PackFileSpec("bg\\x.png"), PackFileSpec("Bg\\X.png")}}}},
        {"update10 is no update pack", {{"one.zpf", {PackFileSpec("bg\\x.png")}}, {"update10.zpf", {PackFileSpec("bg\\x.png")}}}},
        // A name that ends in a lead byte stands alone: the next name's
        // first letter is still folded.
        {"behind a name ending in a lead byte",
         {{"one.zpf", {PackFileSpec("a\x81"), PackFileSpec("Bg\\x.png"), PackFileSpec("bg\\x.png")}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [path, files] : c.packs) WritePack(path, files);
        ResetErrorReporter();
        EXPECT_EQ(BuildPackIndex(), -1);
        EXPECT_EQ(Reports(), 1u);
        EXPECT_EQ(ErrorReporter().fatal_reports, 0u);  // the build's -1 ends start-up
        // Which of the two comes second depends on the folder's listing order.
        bool named = false;
        for (const auto& [path, files] : c.packs)
            for (const PackFileSpec& file : files) named |= LastMessage() == Message(104150, {file.name});
        EXPECT_TRUE(named) << LastMessage();
        for (const auto& [path, files] : c.packs) fs::remove(folder_ / path);
    }
}

TEST_F(PackIndexTest, APackHoldingTheConfigurationMarksReleaseData) {
    WritePack("data.zpf", {PackFileSpec("ZKBIN\\ZKCFG.ZBN", Bytes("cfg"))});
    ASSERT_FALSE(ReleaseDataFlag());
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_TRUE(ReleaseDataFlag());
    EXPECT_TRUE(PackIndexHoldsConfig());
    // With release data the packs open by their registered names.
    Loaded loaded = Load("zkbin\\zkcfg.zbn");
    EXPECT_EQ(loaded.found, 2);
    EXPECT_EQ(loaded.result, 0);
}

TEST_F(PackIndexTest, AHundredPacksAreAcceptedAndTheNextIsRefused) {
    for (int i = 0; i < 100; ++i)
        WritePack("p" + std::to_string(i) + ".zpf", {PackFileSpec("f" + std::to_string(i), Bytes("x"))});
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(ThePackIndex().pack_names.size(), 100u);

    WritePack("p100.zpf", {PackFileSpec("f100", Bytes("x"))});
    EXPECT_EQ(BuildPackIndex(), -1);
    EXPECT_EQ(LastMessage(), Message(104130, {int64_t{100}}));
    EXPECT_EQ(ThePackIndex().pack_names.size(), 100u);
}

TEST_F(PackIndexTest, AnEntryTotalOfTwoHundredThousandIsAcceptedAndOneMoreIsRefused) {
    std::vector<PackFileSpec> files(100000);
    for (size_t i = 0; i < files.size(); ++i) {
        files[i].name = "f" + std::to_string(i);
        files[i].trailer = tools::PackTrailer::kNone;
    }
    WritePack("one.zpf", files);
    for (PackFileSpec& file : files) file.name.insert(0, "two\\");
    WritePack("two.zpf", files);
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(ThePackIndex().entries.size(), 200000u);
    Loaded loaded = Load("two\\f99999");
    EXPECT_EQ(loaded.found, 2);
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.source.size, 0);

    // Registration counts the header's entry count before any table is read.
    WritePack("three.zpf", {}, PackRawOptions().WithEntryCount(1));
    EXPECT_EQ(BuildPackIndex(), -1);
    EXPECT_EQ(LastMessage(), Message(104140, {int64_t{200000}}));
}

TEST_F(PackIndexTest, EveryMalformedPackGetsItsNumberedError) {
    const PackFileSpec entry = PackFileSpec("a.txt", Bytes("abc"));
    struct Case {
        const char* what;
        std::vector<PackFileSpec> files;
        PackRawOptions options;
        int32_t result;
        uint32_t code;  // 0: nothing reported
    };
    const Case cases[] = {
        {"version 233", {entry}, PackRawOptions().WithVersion(233), -1, 104120},
        {"version 234", {entry}, PackRawOptions().WithVersion(234), 0, 0},
        {"version 555", {entry}, PackRawOptions().WithVersion(555), 0, 0},
        {"header cut after the magic", {entry}, PackRawOptions().TruncatedTo(6), -1, 104120},
        {"header cut inside the count", {entry}, PackRawOptions().TruncatedTo(10), -1, 104120},
        {"cut inside the entry table", {entry}, PackRawOptions().TruncatedTo(40), -1, 104120},
        {"table size past the end", {entry}, PackRawOptions().WithTableSize(100000), -1, 104120},
        {"table size of 2^31", {entry}, PackRawOptions().WithTableSize(0x80000000u), -1, 104120},
        {"table size of 2^32 - 1", {entry}, PackRawOptions().WithTableSize(0xFFFFFFFFu), -1, 104120},
        {"more entries than the table holds", {entry}, PackRawOptions().WithEntryCount(2), -1, 104120},
        {"name running past the table",
         {PackFileSpec("a.txt", Bytes("abc")).WithNameLengthCode(NameLengthCode(200))},
         {},
         -1,
         104120},
        {"another magic", {entry}, PackRawOptions().WithMagic({'Z', 'P', 'F', '!'}) , 0, 0},
        {"no entries", {}, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WritePack("data.zpf", c.files, c.options);
        ResetErrorReporter();
        EXPECT_EQ(BuildPackIndex(), c.result);
        if (c.code == 0) {
            EXPECT_EQ(Reports(), 0u);
        } else {
            EXPECT_EQ(LastMessage(), Message(c.code, {".\\data.zpf"}));
            EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
        }
    }
}

TEST_F(PackIndexTest, APackThatVanishedAfterTheBuildFailsTheLookup) {
    WritePack("data.zpf", {PackFileSpec("a.txt", Bytes("abc"))});
    ASSERT_EQ(BuildPackIndex(), 0);
    fs::remove(folder_ / "data.zpf");
    platform::ClearPathCache();
    FileSource source;
    EXPECT_EQ(ResolveFileSource(source, "a.txt"), -2);
    EXPECT_EQ(ReadGameFileReported(source, "a.txt"), -1);
    EXPECT_EQ(LastMessage(), Message(901040, {"a.txt"}));
}

TEST_F(PackIndexTest, AFifoNamedLikeAPackIsRefusedWithoutWaiting) {
    // Opening a FIFO for reading would wait for a writer and hang start-up.
    for (const char* name : {"data.zpf", "pac/update1.zpf"}) {
        SCOPED_TRACE(name);
        ResetPackIndex();
        ResetErrorReporter();
        fs::create_directories(folder_ / "pac");
        const std::string fifo = (folder_ / name).string();
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        platform::ClearPathCache();
        int32_t built = 0;
        EXPECT_TRUE(testing_support::FinishesWithoutWaitingOn({fifo}, [&] { built = BuildPackIndex(); }));
        EXPECT_EQ(built, -1);
        std::string shown = std::string(".\\") + name;
        std::replace(shown.begin(), shown.end(), '/', '\\');
        EXPECT_EQ(LastMessage(), Message(901040, {std::string_view(shown)}));
        fs::remove(fifo);
    }
}

TEST(DescrambleTables, TheNameLengthTableIsItsOwnInverseAndTheKeyIsFixed) {
    ASSERT_EQ(BuildDescrambleTables(), 0);
    const auto& table = NameLengthTable();
    int exchanged = 0;
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(table[table[i]], i);
        if (table[i] != i) {
            ++exchanged;
            EXPECT_GE(i, 3);
            EXPECT_LE(i, 53);
        }
        EXPECT_EQ(NameLengthFromCode(NameLengthCode(static_cast<uint8_t>(i))), i);
    }
    EXPECT_EQ(exchanged, 24);
    // The key is the CRC-32 of a fixed text, most significant byte first.
    // The bytes below were computed outside the engine (zlib's crc32 of
    // "ZORVEK script sections / vimtarol" is 0x66083C95): every script file
    // written for the engine depends on them, so they must never change.
    EXPECT_EQ(ScriptFileKey(), (std::array<uint8_t, 4>{0x66, 0x08, 0x3C, 0x95}));
}

}  // namespace
}  // namespace zk
