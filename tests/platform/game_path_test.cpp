// Game paths onto the host file system: separators, case, CP932 names,
// ".." and missing tails, confinement to a root, the listing cache, and the
// user folders.
#include "platform/game_path.h"
#include "base/text_encoding.h"
#include "platform/file_stream.h"
#include "platform/folder_listing.h"
#include "tests/platform/fifo_watchdog.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace zk::platform {
namespace {

namespace fs = std::filesystem;

// CP932 bytes of the names used below, written out so the test does not
// depend on the converter it checks.
const std::string kGazouCp932 = "\x89\xE6\x91\x9C";          // 画像
const std::string kHyouCp932 = "\x95\x5C";                   // 表: trail byte 0x5C
const std::string kSoosuCp932 = "\x83\x5C\x81\x5B\x83\x58";  // ソース: trail byte 0x5C
const std::string kBunshoCp932 = "\x95\xB6\x8F\x91";         // 文書

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A host path of ASCII names as a game path.
std::string AsciiGamePath(const std::string& host) {
    std::string out = host;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

class GamePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorvek-game-path.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(pattern, real), nullptr);  // getcwd reports the real path
        root_ = real;
        game_root_ = AsciiGamePath(root_);
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
        saved_cwd_ = cwd;
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            const char* value = getenv(name);
            saved_env_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }

        fs::create_directories(root_ + "/Data/Sub Dir");
        WriteFile(root_ + "/Data/Sub Dir/File.TXT", "file contents");
        fs::create_directories(root_ + "/画像");
        WriteFile(root_ + "/画像/Bg01.png", "png bytes");
        fs::create_directories(root_ + "/表");
        WriteFile(root_ + "/表/Inner.txt", "inner");
        WriteFile(root_ + "/ソース.txt", "source");
        WriteFile(root_ + "/a.txt", "lower");
        WriteFile(root_ + "/A.TXT", "upper");
        WriteFile(root_ + "/empty.bin", "");
        ClearPathCache();
        // Game paths are relative to the current folder.
        ASSERT_EQ(chdir(root_.c_str()), 0);
    }

    void TearDown() override {
        ASSERT_EQ(chdir(saved_cwd_.c_str()), 0);
        for (const auto& [name, value] : saved_env_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        ClearPathCache();
    }

    std::string root_;       // host path
    std::string game_root_;  // the same as a game path, no trailing '\'
    std::string saved_cwd_;
    std::map<std::string, std::optional<std::string>> saved_env_;
};

TEST(Cp932Test, ConvertsBothWays) {
    EXPECT_EQ(Cp932ToUtf8(kGazouCp932), "画像");
    EXPECT_EQ(Utf8ToCp932("画像"), kGazouCp932);
    EXPECT_EQ(Cp932ToUtf8(kHyouCp932), "表");
    EXPECT_EQ(Cp932ToUtf8("abc\\~"), "abc\\~");  // Microsoft's table: 0x5C is '\', 0x7E is '~'
    EXPECT_EQ(Cp932ToUtf8("\x81\x60"), "～");    // wave dash as Windows maps it (U+FF5E)
    EXPECT_EQ(Utf8ToCp932("～"), "\x81\x60");
    EXPECT_EQ(Cp932ToUtf8("\xB1\xB2"), "ｱｲ");    // half-width katakana, single bytes
    EXPECT_EQ(Cp932ToUtf8(""), "");
}

TEST(Cp932Test, KeepsBytesThatDoNotConvert) {
    EXPECT_EQ(Cp932ToUtf8("a\x81"), "a\x81");                  // a lead byte at the end
    EXPECT_EQ(Cp932ToUtf8("\x85\x40" "x"), "\x85@x");          // an unassigned pair: the lead kept, '@' converted
    EXPECT_EQ(Cp932ToUtf8("\xFF" + kGazouCp932), "\xFF画像");  // conversion goes on after the bad byte
    EXPECT_EQ(Utf8ToCp932("é"), "\xC3\xA9");                   // not in CP932: the UTF-8 bytes stay
    EXPECT_EQ(Utf8ToCp932("\xFF" "画"), "\xFF\x89\xE6");       // not UTF-8 at all
}

TEST_F(GamePathTest, MatchesEachComponentIgnoringCase) {
    EXPECT_EQ(ToHostPath("DATA\\sub dir\\file.txt"), root_ + "/Data/Sub Dir/File.TXT");
    EXPECT_EQ(ToHostPath("Data\\Sub Dir\\File.TXT"), root_ + "/Data/Sub Dir/File.TXT");
    // '/' separates too, as on Windows; repeated separators are one.
    EXPECT_EQ(ToHostPath("data//SUB DIR\\\\FILE.txt"), root_ + "/Data/Sub Dir/File.TXT");
    EXPECT_EQ(ToHostPath("data\\"), root_ + "/Data");
}

TEST_F(GamePathTest, Cp932NamesAreConvertedAndMatched) {
    // "DATA\..\画像\BG01.PNG": the CP932 name between names of another case.
    EXPECT_EQ(ToHostPath("DATA\\..\\" + kGazouCp932 + "\\BG01.PNG"), root_ + "/画像/Bg01.png");
    EXPECT_TRUE(GameFileExists(kGazouCp932 + "\\bg01.png"));
    EXPECT_EQ(ReadGameFile(kGazouCp932 + "\\BG01.png"), "png bytes");
}

TEST_F(GamePathTest, TrailByte5CIsNotASeparator) {
    // "表\inner.TXT" is 95 5C 5C i n n e r ...: the first 0x5C belongs to 表.
    EXPECT_EQ(ToHostPath(kHyouCp932 + "\\inner.TXT"), root_ + "/表/Inner.txt");
    EXPECT_EQ(ToHostPath(kSoosuCp932 + ".TXT"), root_ + "/ソース.txt");
    EXPECT_TRUE(GameFolderExists(kHyouCp932));
    EXPECT_TRUE(GameFolderExists(kHyouCp932 + "\\"));
    EXPECT_EQ(ReadGameFile(kSoosuCp932 + ".txt"), "source");
}

TEST_F(GamePathTest, MissingTailIsAppendedAsWritten) {
    EXPECT_EQ(ToHostPath("data\\New Folder\\Save01.sd"), root_ + "/Data/New Folder/Save01.sd");
    EXPECT_EQ(ToHostPath("DATA\\" + kGazouCp932 + "\\" + kHyouCp932), root_ + "/Data/画像/表");  // converted, not matched
    // Below a file nothing exists.
    EXPECT_EQ(ToHostPath("a.txt\\X"), root_ + "/a.txt/X");
}

TEST_F(GamePathTest, DotAndDotDot) {
    EXPECT_EQ(ToHostPath("Data\\Sub Dir\\..\\..\\.\\" + kGazouCp932 + "\\.\\bg01.png"), root_ + "/画像/Bg01.png");
    // ".." after a missing component goes back to matching.
    EXPECT_EQ(ToHostPath("data\\missing\\..\\SUB DIR"), root_ + "/Data/Sub Dir");
    EXPECT_EQ(ToHostPath("data\\missing\\..\\nope\\..\\..\\DATA"), root_ + "/Data");
    // Never above the root, which is the current folder.
    EXPECT_EQ(ToHostPath("..\\..\\.."), root_);
    EXPECT_EQ(ToHostPath(""), root_);
    EXPECT_EQ(ToHostPath("."), root_);
    ASSERT_TRUE(ChangeDirectory(game_root_ + "\\DATA"));
    EXPECT_EQ(ToHostPath("sub dir\\FILE.TXT"), root_ + "/Data/Sub Dir/File.TXT");
    EXPECT_EQ(ToHostPath("..\\a.txt"), root_ + "/Data/a.txt");
    EXPECT_EQ(ToHostPath("..\\Data\\sub dir"), root_ + "/Data/Data/sub dir");
    EXPECT_FALSE(GameFileExists("..\\a.txt"));
    EXPECT_EQ(ReadGameFile("SUB DIR\\file.txt"), "file contents");
}

TEST_F(GamePathTest, HostileNamesStayInsideTheRoot) {
    // A file beside the game folder and one in the file system's root stand
    // for everything outside. The game folder is <root>/Game.
    fs::create_directories(root_ + "/Game/etc");
    fs::create_directories(root_ + "/Game/a");
    WriteFile(root_ + "/Game/a/b.txt", "inside");
    WriteFile(root_ + "/secret.txt", "outside");
    ASSERT_TRUE(ChangeDirectory(game_root_ + "\\Game"));
    const std::string outside = game_root_ + "\\secret.txt";  // "\tmp\...\secret.txt"
    const std::string outside_slash = root_ + "/secret.txt";

    // Absolute forms name nothing at all.
    for (const std::string& name : {
             std::string("\\\\etc\\passwd"), std::string("\\etc\\passwd"), std::string("/etc/passwd"),
             std::string("c:/etc/passwd"), std::string("C:\\x"), std::string("C:etc\\passwd"),
             std::string("etc\\..\\c:\\etc\\passwd"), std::string("a\\b.txt:stream"), game_root_, outside, "\\" + outside,
             outside_slash, "C:" + outside, "c:" + outside_slash, std::string("a\\b.txt\0x", 9),
         }) {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_EQ(ToHostPath(name), std::nullopt);
        EXPECT_FALSE(GameFileExists(name));
        EXPECT_FALSE(GameFolderExists(name));
        EXPECT_EQ(ReadGameFile(name), std::nullopt);
        FileStream stream;
        EXPECT_FALSE(stream.Open(name));
        EXPECT_FALSE(ListFolder(name).has_value());
    }

    // Relative ones stay inside: ".." stops at the root, a doubled
    // separator is one, and a trail byte 0x5C separates nothing.
    struct Inside {
        std::string name;
        std::string host;  // under the game folder
    };
    for (const Inside& c : std::vector<Inside>{
             {"..\\secret.txt", "/secret.txt"},
             {"..\\..\\..\\..\\..\\..\\..\\etc\\passwd", "/etc/passwd"},
             {"../../secret.txt", "/secret.txt"},
             {"a\\\\b.txt", "/a/b.txt"},
             {"a//b.txt", "/a/b.txt"},
             {"a\\..\\..\\a\\b.txt", "/a/b.txt"},
             {kHyouCp932 + "\\..\\..\\secret.txt", "/secret.txt"},            // 表\..\..\secret.txt
             {kSoosuCp932 + "\\..\\..\\..\\secret.txt", "/secret.txt"},       // ソース\..\..\..\secret.txt
             {kHyouCp932 + "..\\secret.txt", "/表../secret.txt"},  // "表.." is a name, not 0x95 and ".."
         }) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        EXPECT_EQ(ToHostPath(c.name), root_ + "/Game" + c.host);
    }
    EXPECT_EQ(ReadGameFile("a\\\\b.txt"), "inside");
    EXPECT_EQ(ReadGameFile("..\\secret.txt"), std::nullopt);
    EXPECT_FALSE(GameFileExists("..\\..\\" + game_root_.substr(1) + "\\secret.txt"));

    // The engine's own paths still reach anywhere: the game folder and the
    // executable are absolute.
    EXPECT_EQ(EnginePathToHost(outside), outside_slash);
    EXPECT_EQ(EnginePathToHost("C:" + outside), outside_slash);
    EXPECT_EQ(EnginePathToHost("d:" + game_root_ + "\\GAME\\A"), root_ + "/Game/a");
    EXPECT_EQ(EnginePathToHost("C:\\"), "/");
    EXPECT_EQ(EnginePathToHost("\\..\\..\\.."), "/");
    EXPECT_EQ(EnginePathToHost("..\\SECRET.TXT"), outside_slash);  // relative: the current folder's
    EXPECT_EQ(ReadEngineFile(outside), "outside");
    FileStream stream;
    EXPECT_TRUE(stream.OpenEngineFile(outside));
}

TEST_F(GamePathTest, UserFolderRootsConfineSaveFolders) {
    std::string data_home = root_ + "/xdg data";
    std::string home = root_ + "/home";
    fs::create_directories(home + "/Documents/My Games");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", data_home.c_str(), 1);  // not there yet
    unsetenv("XDG_CONFIG_HOME");
    const std::string save = "PALVOR_SaveData\\ubeko\\save\\";

    EXPECT_EQ(RootHostPath(PathRoot::kGame), root_);
    EXPECT_EQ(RootHostPath(PathRoot::kAppData), data_home);
    EXPECT_EQ(RootHostPath(PathRoot::kDocuments), home + "/Documents");
    // A missing root: everything below it is as written.
    EXPECT_EQ(ToHostPath(save + "s01.sd", PathRoot::kAppData), data_home + "/PALVOR_SaveData/ubeko/save/s01.sd");
    EXPECT_FALSE(GameFileExists(save + "s01.sd", PathRoot::kAppData));
    // An existing one is matched ignoring case.
    EXPECT_EQ(ToHostPath("MY GAMES\\" + save, PathRoot::kDocuments),
              home + "/Documents/My Games/PALVOR_SaveData/ubeko/save");
    for (PathRoot root : {PathRoot::kGame, PathRoot::kAppData, PathRoot::kDocuments}) {
        std::string host = *RootHostPath(root);
        EXPECT_EQ(ToHostPath("..\\..\\..\\x.sd", root), host + "/x.sd");
        EXPECT_EQ(ToHostPath("\\x.sd", root), std::nullopt);
        EXPECT_EQ(ToHostPath("c:\\x.sd", root), std::nullopt);
    }
    WriteFile(home + "/Documents/My Games/note.txt", "documents");
    EXPECT_EQ(ReadGameFile("my games\\NOTE.TXT", PathRoot::kDocuments), "documents");
    EXPECT_EQ(ReadGameFile("my games\\NOTE.TXT"), std::nullopt);  // not in the game folder
}

TEST_F(GamePathTest, FifosAndDevicesAreRefusedWithoutWaiting) {
    // A FIFO under a game-file name would hold an open for reading until a
    // writer came; a device is no file either.
    const std::string fifo = root_ + "/Data/pipe.zpf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Seen {
        bool exists = true, folder = true, opened = true, opened_engine = true, opened_device = true;
        std::optional<std::string> read, read_engine, read_device;
        std::optional<std::vector<FolderEntry>> listed;
    } seen;
    EXPECT_TRUE(testing_support::FinishesWithoutWaitingOn({fifo}, [&] {
        seen.exists = GameFileExists("data\\PIPE.ZPF");
        seen.folder = GameFolderExists("data\\pipe.zpf");
        seen.read = ReadGameFile("data\\Pipe.zpf");
        seen.read_engine = ReadEngineFile(game_root_ + "\\Data\\pipe.zpf");
        FileStream stream;
        seen.opened = stream.Open("DATA\\pipe.zpf");
        seen.opened_engine = stream.OpenEngineFile(game_root_ + "\\data\\pipe.zpf");
        seen.opened_device = stream.OpenEngineFile("\\dev\\zero");
        seen.read_device = ReadEngineFile("\\dev\\null");
        seen.listed = ListFolder("data\\pipe.zpf");
    }));
    EXPECT_FALSE(seen.exists);
    EXPECT_FALSE(seen.folder);
    EXPECT_EQ(seen.read, std::nullopt);
    EXPECT_EQ(seen.read_engine, std::nullopt);
    EXPECT_FALSE(seen.opened);
    EXPECT_FALSE(seen.opened_engine);
    EXPECT_FALSE(seen.opened_device);
    EXPECT_EQ(seen.read_device, std::nullopt);
    EXPECT_FALSE(seen.listed.has_value());
    // The folder holding it still lists, with the FIFO as a (non-folder) name.
    std::optional<std::vector<FolderEntry>> data = ListFolder("data");
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(data->size(), 2u);
}

TEST_F(GamePathTest, ExactNameWinsOverCaseMatches) {
    EXPECT_EQ(ToHostPath("a.txt"), root_ + "/a.txt");
    EXPECT_EQ(ToHostPath("A.TXT"), root_ + "/A.TXT");
    // Neither is exact: the smaller in byte order, whatever readdir says.
    EXPECT_EQ(ToHostPath("A.txt"), root_ + "/A.TXT");
    EXPECT_EQ(ReadGameFile("a.txt"), "lower");
}

TEST_F(GamePathTest, RawCp932NamesOnDiskStillOpen) {
    // A folder unpacked without converting names keeps CP932 bytes on disk.
    fs::create_directories(root_ + "/raw");
    WriteFile(root_ + "/raw/" + kGazouCp932 + ".bin", "raw");
    WriteFile(root_ + "/raw/" + kHyouCp932 + "X.bin", "raw2");
    EXPECT_EQ(ToHostPath("RAW\\" + kGazouCp932 + ".bin"), root_ + "/raw/" + kGazouCp932 + ".bin");
    EXPECT_EQ(ToHostPath("raw\\" + kGazouCp932 + ".BIN"), root_ + "/raw/" + kGazouCp932 + ".bin");
    EXPECT_EQ(ReadGameFile("raw\\" + kHyouCp932 + "x.bin"), "raw2");
}

TEST_F(GamePathTest, CacheFollowsChanges) {
    std::string game = "Data\\LATE.txt";
    EXPECT_EQ(ToHostPath(game), root_ + "/Data/LATE.txt");  // missing: as written
    EXPECT_FALSE(GameFileExists(game));
    WriteFile(root_ + "/Data/late.TXT", "late");
    EXPECT_EQ(ToHostPath(game), root_ + "/Data/late.TXT");  // seen at once, same tick or not
    EXPECT_EQ(ReadGameFile(game), "late");
    fs::rename(root_ + "/Data/late.TXT", root_ + "/Data/Late.Txt");
    EXPECT_EQ(ToHostPath(game), root_ + "/Data/Late.Txt");
    fs::remove(root_ + "/Data/Late.Txt");
    EXPECT_EQ(ToHostPath(game), root_ + "/Data/LATE.txt");
    EXPECT_FALSE(GameFileExists(game));
    ClearPathCache();
    EXPECT_EQ(ToHostPath("data\\sub dir"), root_ + "/Data/Sub Dir");
}

TEST_F(GamePathTest, CacheSeesChangesWithinOneTimestampTick) {
    // Each file is created right after the previous lookup listed the
    // folder, often within the same timestamp tick, so the folder's
    // modification time may not move between the listing and the change.
    fs::create_directories(root_ + "/Fast");
    for (int i = 0; i < 300; ++i) {
        std::string name = "Fresh" + std::to_string(i) + ".TXT";
        WriteFile(root_ + "/Fast/" + name, "x");
        ASSERT_EQ(ToHostPath("fast\\fresh" + std::to_string(i) + ".txt"), root_ + "/Fast/" + name);
    }
}

TEST_F(GamePathTest, ExistsAndRead) {
    EXPECT_TRUE(GameFileExists("data\\sub dir\\file.txt"));
    EXPECT_FALSE(GameFileExists("data\\sub dir"));  // a folder is not a file
    EXPECT_TRUE(GameFolderExists("data\\sub dir"));
    EXPECT_FALSE(GameFolderExists("data\\sub dir\\file.txt"));
    EXPECT_FALSE(GameFileExists("nothing.txt"));
    EXPECT_FALSE(GameFolderExists("nothing"));

    EXPECT_EQ(ReadGameFile("DATA\\SUB DIR\\FILE.TXT"), "file contents");
    EXPECT_EQ(ReadGameFile("EMPTY.BIN"), "");  // empty, not missing
    EXPECT_EQ(ReadGameFile("nothing.txt"), std::nullopt);
    EXPECT_EQ(ReadGameFile("data"), std::nullopt);  // a folder
    EXPECT_EQ(ReadEngineFile(game_root_ + "\\data\\sub dir\\file.txt"), "file contents");
    EXPECT_EQ(ReadEngineFile(game_root_ + "\\data"), std::nullopt);
}

TEST_F(GamePathTest, CurrentDirectoryRoundTrips) {
    ASSERT_TRUE(ChangeDirectory(game_root_ + "\\data\\SUB DIR"));
    EXPECT_EQ(CurrentDirectory(), game_root_ + "\\Data\\Sub Dir\\");
    ASSERT_TRUE(ChangeDirectory(game_root_ + "\\" + kGazouCp932));
    EXPECT_EQ(CurrentDirectory(), game_root_ + "\\" + kGazouCp932 + "\\");
    // Ends in 0x5C 0x5C: the trail byte of 表, then the separator.
    ASSERT_TRUE(ChangeDirectory(game_root_ + "\\" + kHyouCp932));
    EXPECT_EQ(CurrentDirectory(), game_root_ + "\\" + kHyouCp932 + "\\");
    EXPECT_EQ(EnginePathToHost(CurrentDirectory() + "inner.txt"), root_ + "/表/Inner.txt");
    EXPECT_FALSE(ChangeDirectory(game_root_ + "\\nothing"));
    EXPECT_EQ(CurrentDirectory(), game_root_ + "\\" + kHyouCp932 + "\\");
    ASSERT_TRUE(ChangeDirectory("\\"));
    EXPECT_EQ(CurrentDirectory(), "\\");
}

TEST_F(GamePathTest, ExecutablePathIsThisProgram) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string game = ExecutablePath();
    EXPECT_EQ(game, Utf8ToCp932(AsciiGamePath(self)));
    EXPECT_EQ(EnginePathToHost(game), std::string(self));
    FileStream stream;
    EXPECT_TRUE(stream.OpenEngineFile(game));
}

TEST_F(GamePathTest, AppDataFolderFollowsXdg) {
    std::string home = root_ + "/home";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(AppDataFolder(), game_root_ + "\\home\\.local\\share");
    setenv("XDG_DATA_HOME", "", 1);  // empty: ignored
    EXPECT_EQ(AppDataFolder(), game_root_ + "\\home\\.local\\share");
    setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
    EXPECT_EQ(AppDataFolder(), game_root_ + "\\home\\.local\\share");
    std::string data = root_ + "/データ/";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_EQ(AppDataFolder(), game_root_ + "\\" + Utf8ToCp932("データ"));  // no trailing '\'
}

TEST_F(GamePathTest, DocumentsFolderFollowsUserDirs) {
    std::string home = root_ + "/home";
    fs::create_directories(home + "/.config");
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DocumentsFolder(), game_root_ + "\\home\\Documents");  // no user-dirs.dirs

    WriteFile(home + "/.config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\n"
              "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
              "XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n"
              "XDG_MUSIC_DIR=\"$HOME/Music\"\n");
    EXPECT_EQ(DocumentsFolder(), game_root_ + "\\home\\" + kBunshoCp932);

    std::string config = root_ + "/config";
    fs::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    WriteFile(config + "/user-dirs.dirs",
              "  XDG_DOCUMENTS_DIR = \"" + root_ + "/My \\\"Docs\\\"\"\n"  // absolute, escaped quotes
              "XDG_DOCUMENTS_DIR_OLD=\"$HOME/old\"\n"
              "XDG_DOCUMENTS_DIR=relative\n");  // invalid lines are skipped
    EXPECT_EQ(DocumentsFolder(), game_root_ + "\\My \"Docs\"");

    WriteFile(config + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME\"\n");  // disabled: the home folder
    EXPECT_EQ(DocumentsFolder(), game_root_ + "\\home");
    WriteFile(config + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n");
    EXPECT_EQ(DocumentsFolder(), game_root_ + "\\home\\Documents");
}

}  // namespace
}  // namespace zk::platform
