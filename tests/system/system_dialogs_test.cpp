// Command 116's dialogs with the recording double: the text-entry box and
// its kept text, the folder browser and the save dialogs, whose choices come
// back as engine paths the file commands can reach.
#include <filesystem>

#include "base/text_encoding.h"
#include "platform/game_path.h"
#include "system/script_paths.h"
#include "system/system_command.h"
#include "system/system_dialogs.h"
#include "system/system_reset.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using Outcome = platform::TextEntryResult::Outcome;

class SystemDialogsTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
        ResetSystemServices();
        outside_ = fs::temp_directory_path() / ("zk_dialogs_" + std::to_string(getpid()));
        fs::remove_all(outside_);
        fs::create_directories(outside_ / "pics");
    }
    void TearDown() override {
        ResetSystemServices();
        fs::remove_all(outside_);
        RunOnceTest::TearDown();
    }
    static constexpr std::string_view kDecl = "int n = -7\nstr s = \"unset\"\n";
    fs::path outside_;
};

TEST_F(SystemDialogsTest, TextEntryKeepsTheLastConfirmedText) {
    // Before any dialog: the empty text.
    ASSERT_EQ(Run(kDecl, "system code=10205, result=s"), 0);
    EXPECT_EQ(Text("s"), "");
    ui_.QueueTextEntry({Outcome::kOk, "line1\r\nline2"});
    ASSERT_EQ(Run(kDecl, "system code=10201, result=n, text1=\"first\"\nsystem code=10205, result=s"), 0);
    ASSERT_EQ(ui_.text_entry_boxes.size(), 1u);
    EXPECT_EQ(ui_.text_entry_boxes[0].initial, "first");
    EXPECT_EQ(Int("n"), 1);
    EXPECT_EQ(Text("s"), "line1\r\nline2");
    // Cancel: 0, and the text confirmed before stays.
    ui_.QueueTextEntry({Outcome::kCancel, "ignored"});
    ASSERT_EQ(Run(kDecl, "system code=10201, result=n\nsystem code=10205, result=s"), 0);
    EXPECT_EQ(Int("n"), 0);
    EXPECT_EQ(Text("s"), "line1\r\nline2");
    // A box that cannot be shown: -1, the text still kept.
    ASSERT_EQ(Run(kDecl, "system code=10201, result=n\nsystem code=10205, result=s"), 0);
    EXPECT_EQ(Int("n"), -1);
    EXPECT_EQ(Text("s"), "line1\r\nline2");
    // An overlong answer is cut to the result's 4095 bytes at a character.
    ui_.QueueTextEntry({Outcome::kOk, std::string(5000, '\x88')});
    EXPECT_EQ(RunTextEntry(""), 1);
    EXPECT_EQ(LastConfirmedText().size(), 4094u);
}

TEST_F(SystemDialogsTest, FolderBrowser) {
    fs::create_directories(game_ / "start");
    ui_.QueueFolder((outside_ / "pics").string());
    ASSERT_EQ(Run(kDecl, "system code=21000, result=s, text1=\"start/\", text2=\"title\""), 0);
    ASSERT_EQ(ui_.folder_boxes.size(), 1u);
    EXPECT_EQ(fs::path(ui_.folder_boxes[0].initial_folder), fs::canonical(game_ / "start"));
    EXPECT_EQ(ui_.folder_boxes[0].title, "title");
    const std::string chosen = Text("s");
    EXPECT_EQ(chosen, platform::HostPathToEnginePath((outside_ / "pics").string()).substr(0, chosen.size()));
    ASSERT_FALSE(chosen.empty());
    EXPECT_NE(chosen.back(), '\\');
    // The chosen folder is open to the file commands now.
    const std::optional<std::string> host = ScriptPathToHost(chosen + "\\a.png");
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(fs::path(*host), fs::canonical(outside_ / "pics") / "a.png");
    // A cancel stores the empty text.
    ASSERT_EQ(Run(kDecl, "system code=21000, result=s"), 0);
    EXPECT_EQ(Text("s"), "");
}

TEST_F(SystemDialogsTest, SaveDialogs) {
    // A new file name is a choice like any other.
    const fs::path target = outside_ / "pics" / "new.png";
    ui_.QueueSaveFile(target.string());
    ASSERT_EQ(Run(kDecl, "system code=26, result=s, text1=\"shot.png\""), 0);
    ASSERT_EQ(ui_.save_boxes.size(), 1u);
    EXPECT_EQ(ui_.save_boxes[0].filter_name, "PNG File(*.png)");
    EXPECT_EQ(ui_.save_boxes[0].pattern, "*.png");
    EXPECT_EQ(ui_.save_boxes[0].title, Utf8ToCp932("保存する場所を指定してください。"));
    EXPECT_EQ(ui_.save_boxes[0].initial_name, "shot.png");
    EXPECT_EQ(ui_.save_boxes[0].initial_folder, "");
    const std::string stored = Text("s");
    EXPECT_EQ(stored, platform::HostPathToEnginePath(target.string()));
    const std::optional<std::string> host = ScriptPathToHost(stored);
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(fs::path(*host), fs::canonical(outside_ / "pics") / "new.png");

    // Code 25 is the BMP dialog; a path in text1 opens its folder.
    fs::create_directories(game_ / "save");
    ASSERT_EQ(Run(kDecl, "system code=25, result=s, text1=\"save/a.bmp\""), 0);
    ASSERT_EQ(ui_.save_boxes.size(), 2u);
    EXPECT_EQ(ui_.save_boxes[1].filter_name, "BMP File(*.bmp)");
    EXPECT_EQ(ui_.save_boxes[1].initial_name, "a.bmp");
    EXPECT_EQ(fs::path(ui_.save_boxes[1].initial_folder), fs::canonical(game_ / "save"));
    EXPECT_EQ(Text("s"), "unset") << "cancelled: nothing stored";

    // A path too long for the file name buffer comes back as no choice.
    ui_.QueueSaveFile((outside_ / std::string(200, 'a') / std::string(200, 'b') / std::string(200, 'c')).string());
    ASSERT_EQ(Run(kDecl, "system code=26, result=s"), 0);
    EXPECT_EQ(Text("s"), "unset");
}

}  // namespace
}  // namespace zk
