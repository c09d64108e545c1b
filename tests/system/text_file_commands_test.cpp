// Commands 7, 8 and 98: CSV fields, their count and text lines read from a
// game file, on fixtures that show each rule of the readers.
#include "base/text_encoding.h"
#include "layers/text_buffer.h"
#include "system/text_file_commands.h"
#include "system/text_file_reader.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

using Texts = std::vector<std::string>;

TEST(CsvReaderTest, FieldsOfFixtures) {
    const std::string kanji = Utf8ToCp932("表");  // 0x95 0x5C
    struct Case {
        std::string file;
        Texts fields;
    };
    const Case cases[] = {
        {"a,b", {"a", "b"}},
        {"a, b,c", {"a", "b", "c"}},
        {"x,\"1,2\",y", {"x", "\"1,2\"", "y"}},
        {"  a,\t b ,c", {"a", "b ", "c"}},  // leading blanks dropped, trailing kept
        {"a,b\r\nc,d\ne,f\rg,h", {"a", "b", "c", "d", "e", "f", "g", "h"}},
        // Blank lines store nothing: not the one a final line break leaves
        // behind, nor one between lines, nor one of blanks only.
        {"a,b\r\n", {"a", "b"}},
        {"a,b\n\nc,d", {"a", "b", "c", "d"}},
        {"a\n \t\nb", {"a", "b"}},
        {",a", {"", "a"}},
        {"a,,b", {"a", "", "b"}},
        {"a,b,\n", {"a", "b", ""}},
        // A line of one field is that field: a list of one name a line.
        {"x\ny,z", {"x", "y", "z"}},
        {"Alice\r\nBob\r\n  Carol\r\n", {"Alice", "Bob", "Carol"}},
        {"\"\"\n'x'", {"\"\"", "'x'"}},
        // An apostrophe protects commas across line ends until its partner.
        {"it's,a\nb,c'd,e", {"it's,a", "b,c'd", "e"}},
        // A double quote's protection ends with its line.
        {"\"a,b\nc,d", {"\"a,b", "c", "d"}},
        // A lead byte takes the next byte: a trail byte is no separator.
        {"\x81,b,c", {"\x81,b", "c"}},
        {kanji + "," + kanji, {kanji, kanji}},
        {kanji + "\n" + kanji, {kanji, kanji}},
        // A lead byte as the last byte takes the CR that ends the data.
        {"a,\x81", {"a", "\x81\r"}},
        {"", {}},
        {"\r\n\n", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCsvFields(Bytes(c.file), 100), c.fields) << c.file;
        // A script sizes its array by the count before it reads the fields.
        EXPECT_EQ(CountCsvFields(Bytes(c.file)), int64_t(c.fields.size())) << c.file;
    }
    EXPECT_EQ(SplitCsvFields(Bytes("a,b,c,d"), 2), (Texts{"a", "b"}));
}

// The readers see the file where it lies: every field inside the file is a
// view of its bytes, never of a copy of the file.
TEST(CsvReaderTest, FieldsAreReadWhereTheFileLies) {
    const std::string file = "a,bb\r\n  \"c,d\",e\n\nlast";
    const std::span<const uint8_t> bytes = Bytes(file);
    Texts fields;
    ReadCsvFields(bytes, 100, [&](std::string_view field) {
        EXPECT_TRUE(field.data() >= file.data() && field.data() + field.size() <= file.data() + file.size())
            << field;
        fields.emplace_back(field);
    });
    EXPECT_EQ(fields, (Texts{"a", "bb", "\"c,d\"", "e", "last"}));
}

TEST(CsvReaderTest, LongFieldsAreCutAtACharacter) {
    const std::string kanji = Utf8ToCp932("表");
    Texts fields = SplitCsvFields(Bytes(std::string(5000, 'a') + ",b"), 10);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0].size(), kMaxFieldBytes);
    EXPECT_EQ(fields[1], "b");
    fields = SplitCsvFields(Bytes(std::string(4094, 'a') + kanji + ",b"), 10);
    EXPECT_EQ(fields[0], std::string(4094, 'a')) << "the double-byte character would pass 4095 bytes";
}

TEST(CsvReaderTest, FieldCounts) {
    struct Case {
        std::string file;
        int64_t count;
    };
    const Case cases[] = {
        {"a,b,c", 3},     {"a,b,c\r\n", 3},  {"a,b,", 3},      {",a", 2},          {"x\ny,z", 3},
        {"", 0},          {"\n\r\n", 0},     {" \t\n", 0},     {"'a,b\nc,d'", 2},  {"\"a,b\"\nc,d", 3},
        {"\x81,", 1},
        // A lead byte as the last byte: the scan ends at the data's end.
        {"a,\x81", 2},
    };
    for (const Case& c : cases) EXPECT_EQ(CountCsvFields(Bytes(c.file)), c.count) << c.file;
}

TEST(TextLinesTest, LinesEndWithACarriageReturn) {
    EXPECT_EQ(SplitTextLines(Bytes("ab\r\nc\r\n"), 10), (Texts{"ab\r", "c\r", "\r", "", ""}));
    EXPECT_EQ(SplitTextLines(Bytes("ab\nc"), 10), (Texts{"ab\r", "c\r", "", ""}));
    EXPECT_EQ(SplitTextLines(Bytes("ab\r\nc\r\n"), 2), (Texts{"ab\r", "c\r", "", ""}));
    EXPECT_EQ(SplitTextLines(Bytes("ab\r\ncd\r\n"), 1), (Texts{"ab\r", "cd", ""}));
    const Texts long_line = SplitTextLines(Bytes(std::string(5000, 'x')), 4);
    EXPECT_EQ(long_line[0].size(), kMaxFieldBytes) << "4094 bytes and the CR";
}

class TextFileCommandsTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterTextFileCommands();
        CreateTextBuffer();
    }
    void WriteText(const std::string& path, std::string_view text) {
        Write(path, std::vector<uint8_t>(text.begin(), text.end()));
    }
    static constexpr std::string_view kDeclarations = "str fields[10]\nstr two[2]\nint n = 99\nint i\n";
};

TEST_F(TextFileCommandsTest, ReadAndCountCsvFields) {
    WriteText("data\\list.csv", "a, b,\"c,d\"\r\ne,f\r\n");
    ASSERT_EQ(Run(kDeclarations, "readcsv file=\"DATA/List.CSV\", into=@fields\ncountcsv file=\"data/list.csv\", result=n"), 0);
    EXPECT_EQ(Text("fields", 0), "a");
    EXPECT_EQ(Text("fields", 1), "b");
    EXPECT_EQ(Text("fields", 2), "\"c,d\"");
    EXPECT_EQ(Text("fields", 3), "e");
    EXPECT_EQ(Text("fields", 4), "f");
    EXPECT_EQ(Int("n"), 5);
    // More fields than elements: the rest is dropped without a report.
    ASSERT_EQ(Run(kDeclarations, "readcsv file=\"data/list.csv\", into=@two"), 0);
    EXPECT_EQ(Text("two", 1), "b");
    EXPECT_EQ(Reports(), 0u);
}

// A script sizes its array by command 8's count and reads the fields with
// command 7: a list of one name a line, and fields behind a blank line,
// fill the array exactly.
TEST_F(TextFileCommandsTest, AnArraySizedByTheCountHoldsEveryField) {
    struct Case {
        const char* file;
        Texts fields;
    };
    const Case cases[] = {
        {"Alice\r\nBob\r\nCarol\r\n", {"Alice", "Bob", "Carol"}},
        {"a,b\r\n\r\nc,d\r\n", {"a", "b", "c", "d"}},
        {"one", {"one"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteText("names.csv", c.file);
        ASSERT_EQ(Run(kDeclarations, "countcsv file=\"names.csv\", result=n"), 0);
        ASSERT_EQ(Int("n"), int64_t(c.fields.size()));
        const std::string declarations = "str f[" + std::to_string(c.fields.size()) + "] = \"unset\"\nint n\n";
        ASSERT_EQ(Run(declarations, "readcsv file=\"names.csv\", into=@f"), 0);
        for (size_t i = 0; i < c.fields.size(); ++i) EXPECT_EQ(Text("f", int64_t(i)), c.fields[i]) << i;
    }
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(TextFileCommandsTest, ReadLinesAndClearTheTextBuffer) {
    WriteText("story.txt", "ab\r\nc\r\n");
    ReplaceTextBufferText("shown");
    TheTextBuffer().dirty = 0;
    ASSERT_EQ(Run(kDeclarations, "readlines file=\"story.txt\", into=@fields, clear=1"), 0);
    EXPECT_EQ(Text("fields", 0), "ab\r");
    EXPECT_EQ(Text("fields", 1), "c\r");
    EXPECT_EQ(Text("fields", 2), "\r");
    EXPECT_EQ(Text("fields", 3), "");
    EXPECT_EQ(TextBufferText(), "") << "clear=1 empties the text buffer";
    ASSERT_EQ(Run(kDeclarations, "readlines file=\"story.txt\", into=@two"), 0);
    EXPECT_EQ(Text("two", 0), "ab\r");
    EXPECT_EQ(Text("two", 1), "c\r");
    // Command 99 checks its arguments and goes on.
    ASSERT_EQ(Run(kDeclarations, "check99\ni = 1"), 0);
    EXPECT_EQ(Int("i"), 1);
    // Without a file name only the buffer is cleared.
    ReplaceTextBufferText("again");
    ASSERT_EQ(Run(kDeclarations, "readlines clear=1"), 0);
    EXPECT_EQ(TextBufferText(), "");
    EXPECT_EQ(Reports(), 0u);
}

// A name longer than the 263-byte name buffer overran it; it is now in no
// source. A missing file and a target of another type are refused too.
TEST_F(TextFileCommandsTest, RefusedNamesAndTargets) {
    // Even a file that exists is not read under a name that long.
    const std::string long_name = std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(95, 'c') + ".csv";
    WriteText(long_name, "a,b");
    EXPECT_EQ(Run(kDeclarations, "readcsv file=\"" + long_name + "\", into=@fields"), 1);
    EXPECT_EQ(LastMessage(), Missing(long_name));
    EXPECT_EQ(Run(kDeclarations, "readlines file=\"" + long_name + "\", into=@fields"), 1);
    EXPECT_EQ(LastMessage(), Missing(long_name));
    EXPECT_EQ(Run(kDeclarations, "countcsv file=\"Nothing.csv\", result=n"), 1);
    EXPECT_EQ(LastMessage(), Missing("nothing.csv"));
    EXPECT_EQ(Int("n"), 99);
    WriteText("list.csv", "a,b");
    EXPECT_EQ(Run(kDeclarations, "readcsv file=\"list.csv\", into=@n"), 1);
    EXPECT_EQ(LastCode(), kErrWrongVariableType);
    EXPECT_EQ(DataFileLookupName("Dir/Sub/" + Utf8ToCp932("表") + ".CSV"), "dir\\sub\\" + Utf8ToCp932("表") + ".csv");
}

}  // namespace
}  // namespace zk
