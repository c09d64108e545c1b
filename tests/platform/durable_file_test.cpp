// Replacing a file through a temporary one: the temporary files that
// killed writers left in the folder go with the next replacement there,
// while a temporary file a writer still holds, and every other file, stay.
#include "platform/durable_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace zk::platform {
namespace {

namespace fs = std::filesystem;

class DurableFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorvek-durable-file.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(pattern, real), nullptr);
        root_ = real;
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
        saved_cwd_ = cwd;
        fs::create_directories(root_ + "/save");
        ASSERT_EQ(chdir(root_.c_str()), 0);  // game paths are relative to the current folder
        ClearPathCache();
    }
    void TearDown() override {
        ASSERT_EQ(chdir(saved_cwd_.c_str()), 0);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        ClearPathCache();
    }

    void Touch(const std::string& name) { std::ofstream(root_ + "/save/" + name) << "left over"; }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_ + "/save")) names.insert(entry.path().filename().string());
        return names;
    }

    std::string root_;
    std::string saved_cwd_;
};

TEST_F(DurableFileTest, AWriteRemovesTheTemporaryFilesOfKilledWriters) {
    const std::vector<uint8_t> bytes = {1, 2, 3};
    const std::set<std::string> stale = {".a.sd.tmp-Ab12Cd", ".crash.sd.tmp-xyz789", ".x.tmp-000000"};
    // Not the engine's temporary files: a name, mark or random part that
    // differs, a file of the player's.
    const std::set<std::string> others = {".a.sd.tmp-Ab12C", ".a.sd.tmp-Ab12Cde", "a.sd.tmp-Ab12Cd", "..tmp-Ab12Cd",
                                          ".a.sd.tmp_Ab12Cd", ".a.sd.tmp-Ab-2Cd", "notes.txt", "b.sd"};
    for (const std::string& name : stale) Touch(name);
    for (const std::string& name : others) Touch(name);
    // A writer at work in another process holds its temporary file.
    Touch(".b.sd.tmp-Held01");
    const int held = open((root_ + "/save/.b.sd.tmp-Held01").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    // A folder of that name is no file to remove.
    fs::create_directories(root_ + "/save/.dir.tmp-abcdef");

    ASSERT_EQ(ReplaceGameFile("save\\c.sd", bytes), 0);
    std::set<std::string> want = others;
    want.insert({"c.sd", ".b.sd.tmp-Held01", ".dir.tmp-abcdef"});
    EXPECT_EQ(Names(), want);

    // Once its writer is gone, the next write takes it too.
    close(held);
    ASSERT_EQ(ReplaceGameFile("save\\c.sd", bytes), 0);
    want.erase(".b.sd.tmp-Held01");
    EXPECT_EQ(Names(), want);
}

}  // namespace
}  // namespace zk::platform
