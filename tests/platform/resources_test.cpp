// The executable's resources: the built-in defaults, the test override, the
// section table, finding the section in an ELF file, and patching it after
// linking (this test program itself, and the zorvek executable when built).
#include "platform/resources.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <tuple>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zk::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// ---- helpers -------------------------------------------------------------------

void PutU16(Bytes& out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(Bytes& out, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const Bytes& in, size_t at) {
    return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (static_cast<uint32_t>(in[at + 3]) << 24);
}

// The section magic, made at run time: a literal (or a constant the
// compiler folds into an immediate) would put a second copy of it into this
// program, which MagicAppearsOnlyInTheSection checks does not happen.
std::string Magic() {
    static volatile char shift = 1;
    std::string magic = "YJQRQB/0";  // "ZKRSRC01", each byte less one
    for (char& c : magic) c = static_cast<char>(c + shift);
    return magic;
}

// A section image written from the layout in resources.h, independently of
// the code under test: magic, count, then slots of type[16], id, size, data[64].
Bytes SectionImage(const std::vector<std::tuple<std::string, uint32_t, Bytes>>& entries) {
    Bytes out(kResourceSectionBytes, 0);
    std::memcpy(out.data(), Magic().data(), 8);
    PutU32(out, 8, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [type, id, data] = entries[i];
        size_t at = 12 + i * kResourceSlotBytes;
        std::memcpy(out.data() + at, type.data(), type.size());
        PutU32(out, at + 16, id);
        PutU32(out, at + 20, static_cast<uint32_t>(data.size()));
        if (!data.empty()) std::memcpy(out.data() + at + 24, data.data(), data.size());
    }
    return out;
}

// A minimal ELF64 file: header, a text section, the resource section, the
// section name table, and the section headers
// [0] null, [1] .text, [2] zk_resources (or `name`), [3] .shstrtab.
struct SyntheticElf {
    Bytes file;
    size_t section_offset = 0;
};

SyntheticElf MakeElf(const Bytes& section, const std::string& name = "zk_resources", uint32_t type = 1) {
    std::string names = std::string("\0.text\0", 7) + name + '\0' + ".shstrtab" + '\0';
    uint32_t text_name = 1, res_name = 7, shstr_name = static_cast<uint32_t>(7 + name.size() + 1);
    Bytes text(32, 0x90);
    SyntheticElf elf;
    size_t text_at = 64;
    elf.section_offset = text_at + text.size();
    size_t names_at = elf.section_offset + section.size();
    size_t headers_at = (names_at + names.size() + 7) & ~size_t{7};
    elf.file.assign(headers_at + 4 * 64, 0);
    Bytes& f = elf.file;
    f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = 2, f[5] = 1, f[6] = 1;
    PutU16(f, 16, 2);    // ET_EXEC
    PutU16(f, 18, 62);   // EM_X86_64
    PutU32(f, 20, 1);
    PutU64(f, 0x28, headers_at);
    PutU16(f, 0x34, 64);
    PutU16(f, 0x3A, 64);
    PutU16(f, 0x3C, 4);
    PutU16(f, 0x3E, 3);
    std::memcpy(f.data() + text_at, text.data(), text.size());
    std::memcpy(f.data() + elf.section_offset, section.data(), section.size());
    std::memcpy(f.data() + names_at, names.data(), names.size());
    auto header = [&](int index, uint32_t sh_name, uint32_t sh_type, uint64_t offset, uint64_t size) {
        size_t at = headers_at + index * 64;
        PutU32(f, at, sh_name);
        PutU32(f, at + 4, sh_type);
        PutU64(f, at + 24, offset);
        PutU64(f, at + 32, size);
    };
    header(1, text_name, 1, text_at, text.size());
    header(2, res_name, type, elf.section_offset, section.size());
    header(3, shstr_name, 3, names_at, names.size());
    return elf;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

const std::string kPatchTool = ZORVEK_BINARY_DIR "/zk_patch_exe";
bool HavePatchTool() { return access(kPatchTool.c_str(), X_OK) == 0; }

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/zorvek-resources.XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// ---- the built-in table ------------------------------------------------------------

TEST(ResourcesTest, DefaultsOfTheBuild) {
    ClearResourceOverride();
    EXPECT_EQ(FindResource("ZK_RES", 201), (Bytes{4, 0, 0, 0}));
    EXPECT_EQ(FindResource("ZK_BIN", 148), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(FindResource("zk_res", 201), (Bytes{4, 0, 0, 0}));  // types ignore case, as on Windows
    EXPECT_EQ(FindResource("ZK_RES", 148), std::nullopt);
    EXPECT_EQ(FindResource("ZK_BIN", 201), std::nullopt);
    EXPECT_EQ(FindResource("ZK_RESX", 201), std::nullopt);
    EXPECT_EQ(FindResource("", 201), std::nullopt);
}

TEST(ResourcesTest, OverrideReplacesTheWholeTable) {
    std::string type = "ZK_RES";
    OverrideResources({{type, 201, {0x10, 0x20, 0, 0}}, {"BIG", 7, Bytes(100, 0xAB)}});
    type = "clobbered";  // the override keeps its own copy of the type
    EXPECT_EQ(FindResource("ZK_RES", 201), (Bytes{0x10, 0x20, 0, 0}));
    EXPECT_EQ(FindResource("BIG", 7), Bytes(100, 0xAB));
    EXPECT_EQ(FindResource("ZK_BIN", 148), std::nullopt);  // not in the override
    OverrideResources({});
    EXPECT_EQ(FindResource("ZK_RES", 201), std::nullopt);  // an executable without resources
    ClearResourceOverride();
    EXPECT_EQ(FindResource("ZK_RES", 201), (Bytes{4, 0, 0, 0}));
}

// ---- the section table ----------------------------------------------------------------

TEST(ResourceSectionTest, FindsEntries) {
    Bytes image = SectionImage(
        {{"ZK_RES", 201, {1, 2, 3, 4}}, {"ZK_BIN", 148, {}}, {"SIXTEEN_BYTES_XX", 1, Bytes(64, 7)}});
    EXPECT_EQ(FindResourceInSection(image, "ZK_RES", 201), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(FindResourceInSection(image, "ZK_BIN", 148), Bytes{});
    EXPECT_EQ(FindResourceInSection(image, "SIXTEEN_BYTES_XX", 1), Bytes(64, 7));
    EXPECT_EQ(FindResourceInSection(image, "SIXTEEN_BYTES_X", 1), std::nullopt);
    auto list = ListResourcesInSection(image);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[2].type, "SIXTEEN_BYTES_XX");
}

TEST(ResourceSectionTest, RejectsDamagedImages) {
    Bytes good = SectionImage({{"ZK_RES", 201, {4, 0, 0, 0}}});
    ASSERT_TRUE(FindResourceInSection(good, "ZK_RES", 201));

    EXPECT_FALSE(FindResourceInSection(std::span(good).first(good.size() - 1), "ZK_RES", 201));  // short
    EXPECT_FALSE(FindResourceInSection({}, "ZK_RES", 201));
    Bytes bad = good;
    bad[0] = 'X';  // magic
    EXPECT_FALSE(FindResourceInSection(bad, "ZK_RES", 201));
    bad = good;
    PutU32(bad, 8, 9);  // count above 8
    EXPECT_FALSE(FindResourceInSection(bad, "ZK_RES", 201));
    bad = good;
    PutU32(bad, 8, 0xFFFFFFFF);
    EXPECT_FALSE(FindResourceInSection(bad, "ZK_RES", 201));
    bad = good;
    PutU32(bad, 12 + 20, 65);  // size above 64
    EXPECT_FALSE(FindResourceInSection(bad, "ZK_RES", 201));
    bad = good;
    PutU32(bad, 12 + 20, 0xFFFFFFFF);
    EXPECT_FALSE(FindResourceInSection(bad, "ZK_RES", 201));
    bad = good;
    PutU32(bad, 8, 2);  // the second counted slot is empty: malformed
    EXPECT_FALSE(ListResourcesInSection(bad));
    // Entries past the count are not entries.
    bad = SectionImage({{"ZK_RES", 201, {4, 0, 0, 0}}, {"ZK_BIN", 148, {0}}});
    PutU32(bad, 8, 1);
    EXPECT_FALSE(FindResourceInSection(bad, "ZK_BIN", 148));
}

TEST(ResourceSectionTest, SetAddsOrRewrites) {
    Bytes image = SectionImage({{"ZK_RES", 201, {4, 0, 0, 0}}, {"ZK_BIN", 148, {0, 0, 0, 0}}});
    ASSERT_TRUE(SetResourceInSection(image, "ZK_RES", 201, Bytes{0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(GetU32(image, 8), 2u);  // rewritten in place
    EXPECT_EQ(FindResourceInSection(image, "ZK_RES", 201), (Bytes{0x00, 0x10, 0x00, 0x00}));
    ASSERT_TRUE(SetResourceInSection(image, "ZK_BIN", 148, Bytes{9}));
    EXPECT_EQ(FindResourceInSection(image, "ZK_BIN", 148), Bytes{9});
    EXPECT_EQ(image[12 + kResourceSlotBytes + 24 + 1], 0);  // old data beyond the size cleared
    for (uint32_t id = 0; id < 6; ++id) ASSERT_TRUE(SetResourceInSection(image, "EXTRA", id, Bytes{uint8_t(id)}));
    EXPECT_EQ(GetU32(image, 8), 8u);
    Bytes before = image;
    EXPECT_FALSE(SetResourceInSection(image, "EXTRA", 6, Bytes{6}));  // full
    EXPECT_TRUE(SetResourceInSection(image, "extra", 5, Bytes{55}));   // but a rewrite fits
    EXPECT_EQ(FindResourceInSection(image, "EXTRA", 5), Bytes{55});
    before = image;
    EXPECT_FALSE(SetResourceInSection(image, "", 1, Bytes{}));
    EXPECT_FALSE(SetResourceInSection(image, "SEVENTEEN_BYTES_X", 1, Bytes{}));
    EXPECT_FALSE(SetResourceInSection(image, "ZK_RES", 201, Bytes(65, 0)));
    EXPECT_EQ(image, before);  // failures change nothing
}

TEST(ResourceSectionTest, RemoveMovesTheLastEntryDown) {
    Bytes image = SectionImage({{"A", 1, {1}}, {"B", 2, {2}}, {"C", 3, {3}}});
    ASSERT_TRUE(RemoveResourceFromSection(image, "a", 1));
    EXPECT_EQ(GetU32(image, 8), 2u);
    EXPECT_FALSE(FindResourceInSection(image, "A", 1));
    EXPECT_EQ(FindResourceInSection(image, "B", 2), Bytes{2});
    EXPECT_EQ(FindResourceInSection(image, "C", 3), Bytes{3});
    EXPECT_EQ(image[12 + 2 * kResourceSlotBytes], 0);  // the freed slot is cleared
    EXPECT_FALSE(RemoveResourceFromSection(image, "A", 1));
    ASSERT_TRUE(RemoveResourceFromSection(image, "C", 3));
    ASSERT_TRUE(RemoveResourceFromSection(image, "B", 2));
    EXPECT_EQ(GetU32(image, 8), 0u);
    EXPECT_EQ(ListResourcesInSection(image)->size(), 0u);
}

// ---- the section in an ELF file ----------------------------------------------------------

TEST(ResourceElfTest, FindsTheSectionByName) {
    Bytes image = SectionImage({{"ZK_RES", 201, {4, 0, 0, 0}}});
    SyntheticElf elf = MakeElf(image);
    std::string why;
    auto where = FindResourceSectionInElf(elf.file, &why);
    ASSERT_TRUE(where) << why;
    EXPECT_EQ(where->offset, elf.section_offset);
    EXPECT_EQ(where->size, image.size());
}

TEST(ResourceElfTest, RejectsDamagedFiles) {
    Bytes image = SectionImage({});
    SyntheticElf elf = MakeElf(image);
    std::string why;
    EXPECT_FALSE(FindResourceSectionInElf(Bytes{}, &why));
    EXPECT_FALSE(FindResourceSectionInElf(std::span(elf.file).first(63), &why));
    // Every truncation fails cleanly (the headers sit at the end).
    for (size_t size = 0; size < elf.file.size(); size += 7)
        EXPECT_FALSE(FindResourceSectionInElf(std::span(elf.file).first(size), &why)) << size;

    Bytes bad = elf.file;
    bad[4] = 1;  // 32-bit
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    bad = elf.file;
    PutU64(bad, 0x28, 0xFFFFFFFFFFFFFF00ull);  // section headers far away
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    bad = elf.file;
    PutU16(bad, 0x3C, 0xFFFF);  // too many headers for the file
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    bad = elf.file;
    PutU16(bad, 0x3E, 9);  // name table index out of range
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    bad = elf.file;
    size_t headers_at = static_cast<size_t>(elf.file.size() - 4 * 64);
    PutU64(bad, headers_at + 2 * 64 + 24, 0xFFFFFFFFFFFFFFF0ull);  // section offset overflows
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    bad = elf.file;
    PutU64(bad, headers_at + 2 * 64 + 32, 100);  // too small for the table
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    bad = elf.file;
    PutU32(bad, headers_at + 2 * 64, 0x7FFFFFFF);  // name beyond the name table
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));
    EXPECT_EQ(why, "no zk_resources section");
    bad = elf.file;
    PutU32(bad, headers_at + 1 * 64, 7);  // two sections named zk_resources
    PutU64(bad, headers_at + 1 * 64 + 32, kResourceSectionBytes);
    EXPECT_FALSE(FindResourceSectionInElf(bad, &why));

    EXPECT_FALSE(FindResourceSectionInElf(MakeElf(image, "zk_resource").file, &why));
    EXPECT_FALSE(FindResourceSectionInElf(MakeElf(image, "zk_resources", 8 /* NOBITS */).file, &why));
}

// ---- the patch tool ----------------------------------------------------------------------

TEST(PatchToolTest, PatchesASyntheticExecutable) {
    if (!HavePatchTool()) GTEST_SKIP() << "zk_patch_exe is not built at " << kPatchTool;
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string exe = dir.path() + "/game.exe";
    SyntheticElf elf = MakeElf(SectionImage({{"ZK_RES", 201, {4, 0, 0, 0}}, {"ZK_BIN", 148, {0, 0, 0, 0}}}));
    WriteAll(exe, elf.file);
    auto section = [&] {
        Bytes file = ReadAll(exe);
        EXPECT_EQ(file.size(), elf.file.size());  // patched in place, nothing else moves
        return Bytes(file.begin() + elf.section_offset, file.begin() + elf.section_offset + kResourceSectionBytes);
    };

    CommandResult r = RunCommand(kPatchTool + " " + Quote(exe) + " ZK_RES 201 '00 10 00 00'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(FindResourceInSection(section(), "ZK_RES", 201), (Bytes{0x00, 0x10, 0x00, 0x00}));

    WriteAll(dir.path() + "/data.bin", Bytes{1, 2, 3});
    r = RunCommand(kPatchTool + " " + Quote(exe) + " MY_TYPE 0x10 @" + Quote(dir.path() + "/data.bin"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(FindResourceInSection(section(), "MY_TYPE", 16), (Bytes{1, 2, 3}));

    r = RunCommand(kPatchTool + " " + Quote(exe) + " --list");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "ZK_RES 201 00100000\nZK_BIN 148 00000000\nMY_TYPE 16 010203\n");

    r = RunCommand(kPatchTool + " " + Quote(exe) + " --remove ZK_RES 201");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(FindResourceInSection(section(), "ZK_RES", 201));
    EXPECT_EQ(FindResourceInSection(section(), "MY_TYPE", 16), (Bytes{1, 2, 3}));

    // Failures leave the file alone.
    Bytes before = ReadAll(exe);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe) + " --remove ZK_RES 201").status, 0);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe) + " ZK_RES 201 0g").status, 0);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe) + " ZK_RES 201 123").status, 0);  // odd digit count
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe) + " ZK_RES x1 00").status, 0);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe) + " ZK_RES 201 " + std::string(130, '0')).status, 0);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe) + " ZK_RES 201 @/nonexistent/file").status, 0);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(exe)).status, 0);
    EXPECT_EQ(ReadAll(exe), before);
    WriteAll(dir.path() + "/not-elf", Bytes(4096, 0));
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(dir.path() + "/not-elf") + " ZK_RES 201 00").status, 0);
    EXPECT_NE(RunCommand(kPatchTool + " " + Quote(dir.path() + "/missing") + " --list").status, 0);
}

// Run only as a child of RealExecutablePatchedAfterLinking: prints what this
// (patched) copy of the test program reads from its own section at run time.
TEST(ResourcesChildTest, PrintOwnResources) {
    if (getenv("ZORVEK_RESOURCES_CHILD") == nullptr) GTEST_SKIP() << "only run by the patch test";
    ClearResourceOverride();
    for (auto [type, id] : {std::pair<const char*, uint32_t>{"ZK_RES", 201}, {"ZK_BIN", 148}, {"ZK_NEW", 7}}) {
        std::optional<Bytes> bytes = FindResource(type, id);
        std::printf("RES %s %u ", type, id);
        if (!bytes) std::printf("none");
        if (bytes)
            for (uint8_t b : *bytes) std::printf("%02x", b);
        std::printf("\n");
    }
    std::fflush(stdout);
}

std::string ChildResourceLines(const std::string& output) {
    std::string lines;
    size_t at = 0;
    while ((at = output.find("RES ", at)) != std::string::npos) {
        if (at != 0 && output[at - 1] != '\n') {
            at += 4;
            continue;
        }
        size_t end = output.find('\n', at);
        lines += output.substr(at, end - at) + "\n";
        at = end;
    }
    return lines;
}

// The whole path on a real executable: the defaults are read from the
// section at run time (not folded into the code), so patching the file
// after linking changes what the program sees.
TEST(PatchToolTest, RealExecutablePatchedAfterLinking) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string copy = dir.path() + "/patched_test";
    ASSERT_TRUE(fs::copy_file(fs::read_symlink("/proc/self/exe"), copy));
    fs::permissions(copy, fs::perms::owner_all);
    std::string run_child =
        "ZORVEK_RESOURCES_CHILD=1 " + Quote(copy) + " --gtest_filter=ResourcesChildTest.PrintOwnResources";

    CommandResult r = RunCommand(run_child);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ChildResourceLines(r.output), "RES ZK_RES 201 04000000\nRES ZK_BIN 148 00000000\nRES ZK_NEW 7 none\n");

    if (HavePatchTool()) {
        ASSERT_EQ(RunCommand(kPatchTool + " " + Quote(copy) + " ZK_RES 201 78563412").status, 0);
        ASSERT_EQ(RunCommand(kPatchTool + " " + Quote(copy) + " ZK_NEW 7 ''").status, 0);
        ASSERT_EQ(RunCommand(kPatchTool + " " + Quote(copy) + " --remove ZK_BIN 148").status, 0);
    } else {
        // The same edit through the library the tool is made of.
        Bytes file = ReadAll(copy);
        std::string why;
        auto where = FindResourceSectionInElf(file, &why);
        ASSERT_TRUE(where) << why;
        std::span<uint8_t> section(file.data() + where->offset, kResourceSectionBytes);
        ASSERT_TRUE(SetResourceInSection(section, "ZK_RES", 201, Bytes{0x78, 0x56, 0x34, 0x12}));
        ASSERT_TRUE(SetResourceInSection(section, "ZK_NEW", 7, Bytes{}));
        ASSERT_TRUE(RemoveResourceFromSection(section, "ZK_BIN", 148));
        WriteAll(copy, file);
    }
    r = RunCommand(run_child);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ChildResourceLines(r.output), "RES ZK_RES 201 78563412\nRES ZK_BIN 148 none\nRES ZK_NEW 7 \n");
}

// The engine executable itself, once it is built: its section is where the
// tool finds it, and an independent reader (objcopy) sees the patch.
TEST(PatchToolTest, ZorvekExecutable) {
    std::string zorvek = ZORVEK_BINARY_DIR "/zorvek";
    if (access(zorvek.c_str(), X_OK) != 0) GTEST_SKIP() << "no zorvek executable at " << zorvek;
    if (!HavePatchTool()) GTEST_SKIP() << "zk_patch_exe is not built at " << kPatchTool;
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string copy = dir.path() + "/zorvek";
    ASSERT_TRUE(fs::copy_file(zorvek, copy));

    CommandResult r = RunCommand(kPatchTool + " " + Quote(copy) + " --list");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ZK_RES 201 04000000\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("ZK_BIN 148 00000000\n"), std::string::npos) << r.output;

    ASSERT_EQ(RunCommand(kPatchTool + " " + Quote(copy) + " --remove ZK_RES 201").status, 0);
    ASSERT_EQ(RunCommand(kPatchTool + " " + Quote(copy) + " ZK_BIN 148 01020304").status, 0);

    if (access("/usr/bin/objcopy", X_OK) != 0) return;
    std::string dump = dir.path() + "/section.bin";
    r = RunCommand("objcopy --dump-section zk_resources=" + Quote(dump) + " " + Quote(copy) + " " +
                   Quote(dir.path() + "/out"));
    ASSERT_EQ(r.status, 0) << r.output;
    Bytes section = ReadAll(dump);
    ASSERT_GE(section.size(), kResourceSectionBytes);
    EXPECT_EQ(FindResourceInSection(section, "ZK_RES", 201), std::nullopt);
    EXPECT_EQ(FindResourceInSection(section, "ZK_BIN", 148), (Bytes{1, 2, 3, 4}));
}

// True when file offset `at` lies in a section that is loaded into memory
// (SHF_ALLOC). Debug information may hold a copy of the header's constant;
// it is never loaded, so it does not count.
bool InLoadedSection(const Bytes& elf, uint64_t at) {
    auto u16 = [&](size_t o) { return static_cast<uint64_t>(elf[o] | (elf[o + 1] << 8)); };
    auto u64 = [&](size_t o) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | elf[o + i];
        return v;
    };
    uint64_t shoff = u64(0x28), shentsize = u16(0x3A), shnum = u16(0x3C);
    for (uint64_t i = 0; i < shnum && shoff + (i + 1) * shentsize <= elf.size(); ++i) {
        size_t h = static_cast<size_t>(shoff + i * shentsize);
        uint64_t type = GetU32(elf, h + 4), flags = u64(h + 8), offset = u64(h + 24), size = u64(h + 32);
        if ((flags & 2) != 0 && type != 8 /* NOBITS */ && at >= offset && at - offset < size) return true;
    }
    return false;
}

// The magic appears once in the loaded image of a built program, inside the
// section: nothing else (a string literal, an immediate) carries a copy.
TEST(ResourcesTest, MagicAppearsOnlyInTheSection) {
    Bytes self = ReadAll("/proc/self/exe");
    ASSERT_GE(self.size(), 64u);
    std::string why;
    auto where = FindResourceSectionInElf(self, &why);
    ASSERT_TRUE(where) << why;
    std::string_view text(reinterpret_cast<const char*>(self.data()), self.size());
    std::string needle = Magic();
    int loaded_copies = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) {
        if (!InLoadedSection(self, at)) continue;
        ++loaded_copies;
        EXPECT_EQ(at, where->offset)
            << "a second copy of the magic: is kResourceSectionMagic used outside a constant expression?";
    }
    EXPECT_EQ(loaded_copies, 1);
}

}  // namespace
}  // namespace zk::platform
