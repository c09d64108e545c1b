// The file-name list that drops and folder listings fill.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/file_name_list.h"

namespace zk {
namespace {

TEST(FileNameListTest, LongNamesAreSkippedWholeAndTheLimitHolds) {
    ResetFileNameList();
    const std::string longest(kMaxFileNameBytes, 'a');
    const std::string too_long(kMaxFileNameBytes + 1, 'b');
    EXPECT_EQ(ReplaceFileNameList({"one", too_long, longest, "three", "four"}, 3), 3u);
    EXPECT_EQ(FileNameListSnapshot(), (std::vector<std::string>{"one", longest, "three"}));
    EXPECT_EQ(FileNameAt(1), longest);
    EXPECT_EQ(FileNameAt(3), std::nullopt);
    EXPECT_EQ(FileNameAt(-1), std::nullopt);
}

TEST(FileNameListTest, TheCountOnlyGoesDown) {
    ResetFileNameList();
    ReplaceFileNameList({"a", "b", "c"}, kMaxDroppedFileNames);
    LowerFileNameCount(7);
    EXPECT_EQ(FileNameCount(), 3u);
    LowerFileNameCount(1);
    EXPECT_EQ(FileNameCount(), 1u);
    EXPECT_EQ(FileNameAt(1), std::nullopt);
    LowerFileNameCount(3);
    EXPECT_EQ(FileNameCount(), 1u);
}

}  // namespace
}  // namespace zk
