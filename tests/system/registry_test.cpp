// The registry store and command 78: .reg fixtures in a config folder of
// the test's own, the seven prefixes, reads into each element type, the
// machine store refused without full access, and deletions by command 116.
#include <fstream>

#include "base/text_encoding.h"
#include "system/registry_read.h"
#include "system/registry_store.h"
#include "system/system_command.h"
#include "tests/platform/scoped_env.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> Bytes(std::string_view text) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(RegistryStoreTest, ParsesWhatWindowsExports) {
    const std::string kanji = Utf8ToCp932("表示");
    const std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zk]\r\n\"Name\"=\"a \\\"q\\\" \\\\ " + kanji +
                             "\"\r\n\"N\"=dword:00000041\r\n@=\"default\"\r\n\"Bin\"=hex:01,02,\\\r\n  03\r\n"
                             "\"Multi\"=hex(7):61,00,62,00,00\r\n; comment\r\nbroken line\r\n\"bad\"=dword:xyz\r\n"
                             "[hkey_current_user\\software\\zk\\Sub]\r\n\"x\"=\"1\"\r\n";
    const RegistryStore store = ParseRegistryText(Bytes(text));
    ASSERT_EQ(store.keys.size(), 2u);
    const RegistryKey& key = store.keys.at("hkey_current_user\\software\\zk");
    ASSERT_EQ(key.values.size(), 5u);
    EXPECT_EQ(std::string(key.values[0].data.begin(), key.values[0].data.end()), "a \"q\" \\ " + kanji + std::string(1, '\0'));
    EXPECT_EQ(key.values[1].data, (std::vector<uint8_t>{0x41, 0, 0, 0}));
    EXPECT_EQ(key.values[2].name, "");
    EXPECT_EQ(key.values[3].data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(key.values[4].type, kRegMultiSz);
    // Written and read again: the same store.
    const std::string written = SerializeRegistryText(store);
    const RegistryStore again = ParseRegistryText(Bytes(written));
    ASSERT_EQ(again.keys.size(), 2u);
    EXPECT_EQ(again.keys.at("hkey_current_user\\software\\zk").values[0].data, key.values[0].data);
    EXPECT_EQ(again.keys.at("hkey_current_user\\software\\zk").values[3].data, key.values[3].data);
}

TEST(RegistryStoreTest, PrefixesAreCaseSensitive) {
    struct Case {
        const char* path;
        bool matches;
        RegistryRoot root;
        const char* sub_key;
    };
    const Case cases[] = {
        {"HKEY_CURRENT_USER/Software/X", true, RegistryRoot::kCurrentUser, "Software\\X"},
        {"HKEY_LOCAL_MACHINE\\A", true, RegistryRoot::kLocalMachine, "A"},
        {"HKEY_CLASSES_ROOT\\.txt", true, RegistryRoot::kClassesRoot, ".txt"},
        {"HKEY_USERS\\x", true, RegistryRoot::kUsers, "x"},
        {"HKEY_PERFORMANCE_DATA\\x", true, RegistryRoot::kPerformanceData, "x"},
        {"HKEY_CURRENT_CONFIG\\x", true, RegistryRoot::kCurrentConfig, "x"},
        {"HKEY_DYN_DATA\\x", true, RegistryRoot::kDynData, "x"},
        {"hkey_current_user\\Software", false, {}, ""},
        {"HKEY_CURRENT_USER", false, {}, ""},
        {"HKCU\\Software", false, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::optional<RegistryPath> path = SplitRegistryPath(c.path);
        ASSERT_EQ(path.has_value(), c.matches);
        if (!path) continue;
        EXPECT_EQ(path->root, c.root);
        EXPECT_EQ(path->sub_key, c.sub_key);
    }
}

TEST(RegistryStoreTest, ValueTextsStopAtTheFirstNulAndFitTheBuffer) {
    EXPECT_EQ(RegistryValueText({0x41, 0, 0, 0}), "A");
    EXPECT_EQ(RegistryValueText({'a', 'b'}), "ab");
    // 1024 bytes without a NUL: 1023 bytes, never half a character.
    std::vector<uint8_t> full(1024, 'x');
    EXPECT_EQ(RegistryValueText(full).size(), 1023u);
    full.assign(1024, 0x88);
    EXPECT_EQ(RegistryValueText(full).size(), 1022u);
    EXPECT_EQ(RegistryValueText({'a', 0x88, 0}), "a\x88");  // a lead byte before the NUL
}

class RegistryCommandTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
        config_ = std::make_unique<test::ScopedEnv>("XDG_CONFIG_HOME", (game_ / "config").string());
        fs::create_directories(game_ / "config" / "zorvek");
        saved_check_ = MachineAccessCheck();
    }
    void TearDown() override {
        MachineAccessCheck() = saved_check_;
        config_.reset();
        RunOnceTest::TearDown();
    }
    void WriteStore(const char* file, const std::string& text) {
        std::ofstream(game_ / "config" / "zorvek" / file, std::ios::binary) << text;
    }
    std::string ReadStore(const char* file) {
        std::ifstream in(game_ / "config" / "zorvek" / file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    static constexpr std::string_view kDecl = "str s = \"unset\"\nint n = 7\nreal r = 7.0\n";
    std::unique_ptr<test::ScopedEnv> config_;
    std::function<bool()> saved_check_;
};

TEST_F(RegistryCommandTest, ReadsIntoEachElementType) {
    WriteStore("user.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"D\"=dword:00000041\r\n\"T\"=\"text\"\r\n"
                           "\"Big\"=\"" + std::string(2000, 'b') + "\"\r\n@=\"dflt\"\r\n");
    struct Case {
        std::string line;
        std::string text;
    };
    const Case cases[] = {
        {"regread key=\"HKEY_CURRENT_USER/Software/X\", value=\"D\", result=s", "A"},
        {"regread key=\"HKEY_CURRENT_USER\\\\software\\\\x\", value=\"t\", result=s", "text"},
        {"regread key=\"HKEY_CURRENT_USER/Software/X\", result=s", "dflt"},
        {"regread key=\"HKEY_CURRENT_USER/Software/X\", value=\"Big\", result=s", ""},  // over 1024 bytes
        {"regread key=\"HKEY_CURRENT_USER/Software/X\", value=\"none\", result=s", ""},
        {"regread key=\"hkey_current_user/Software/X\", value=\"D\", result=s", "unset"},  // no prefix: untouched
        {"regread key=\"HKEY_USERS/Software/X\", value=\"D\", result=s", ""},  // other roots always fail
        {"regread value=\"D\", result=s", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(Run(kDecl, c.line), 0);
        EXPECT_EQ(Text("s"), c.text);
    }
    // A successful read leaves numbers alone; a failed one clears them.
    ASSERT_EQ(Run(kDecl, "regread key=\"HKEY_CURRENT_USER/Software/X\", value=\"D\", result=n\n"
                         "regread key=\"HKEY_CURRENT_USER/Software/X\", value=\"no\", result=r"),
              0);
    EXPECT_EQ(Int("n"), 7);
    EXPECT_EQ(Real("r"), 0.0);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(RegistryCommandTest, MachineStoreNeedsFullAccess) {
    WriteStore("machine.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\M]\r\n\"V\"=\"machine\"\r\n\"W\"=\"w\"\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\M\\Sub]\r\n[HKEY_LOCAL_MACHINE\\Software\\Empty]\r\n");
    MachineAccessCheck() = [] { return false; };
    ASSERT_EQ(Run(kDecl, "regread key=\"HKEY_LOCAL_MACHINE/Software/M\", value=\"V\", result=s\n"
                         "system code=36, text1=\"Software/M\", text2=\"V\"\nsystem code=38, result=n"),
              0);
    EXPECT_EQ(Text("s"), "") << "readable by the user, but not with full access";
    EXPECT_EQ(Int("n"), 0);
    EXPECT_NE(ReadStore("machine.reg").find("\"V\""), std::string::npos);
    MachineAccessCheck() = [] { return true; };
    ASSERT_EQ(Run(kDecl, "regread key=\"HKEY_LOCAL_MACHINE/Software/M\", value=\"V\", result=s\n"
                         "system code=36, text1=\"Software/M\", text2=\"V\"\n"
                         "system code=37, text1=\"Software/M\"\nsystem code=37, text1=\"Software/Empty\"\n"
                         "system code=38, result=n"),
              0);
    EXPECT_EQ(Text("s"), "machine");
    EXPECT_EQ(Int("n"), 1);
    const std::string after = ReadStore("machine.reg");
    EXPECT_EQ(after.find("\"V\""), std::string::npos);
    EXPECT_NE(after.find("\"W\""), std::string::npos);
    EXPECT_NE(after.find("[HKEY_LOCAL_MACHINE\\Software\\M]"), std::string::npos) << "a key with sub keys stays";
    EXPECT_EQ(after.find("Empty"), std::string::npos);
    EXPECT_FALSE(fs::exists(game_ / "config" / "zorvek" / "machine.reg.tmp"));
}

TEST_F(RegistryCommandTest, UserValueDeletionTakesTheKeyWithIt) {
    WriteStore("user.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Game]\r\n\"Only\"=\"1\"\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"A\"=\"1\"\r\n");
    ASSERT_EQ(Run(kDecl, "system code=33, text1=\"Software\\\\Game\", text2=\"ONLY\"\n"
                         "system code=33, text1=\"Software\\\\Keep\", text2=\"missing\""),
              0);
    const std::string after = ReadStore("user.reg");
    EXPECT_EQ(after.find("Game"), std::string::npos);
    EXPECT_NE(after.find("[HKEY_CURRENT_USER\\Software\\Keep]"), std::string::npos);
}

}  // namespace
}  // namespace zk
