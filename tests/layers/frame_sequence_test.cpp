// Frame sequences (commands 109..111) driven as a script drives them, on
// sequence files made by tools/lib/frame_sequence_writer.h in the game
// folder. Frames are flat colours (and flat alphas), so an expected pixel is
// the colour the frame was made of, within the JPEG's rounding.
#include <cstdlib>
#include <limits>

#include "images/frame_sequence.h"
#include "tests/layers/layer_command_test_support.h"
#include "base/format.h"
#include "tools/lib/frame_sequence_writer.h"

namespace zk::layer_test {
namespace {

constexpr int kTolerance = 3;

std::vector<uint8_t> FlatJpeg(int width, int height, uint32_t rgb) {
    return tools::EncodeJpeg(tools::MakeJpegPicture(width, height, 3, [rgb](int, int, int c) {
        return uint8_t(rgb >> (16 - 8 * c));
    }));
}
std::vector<uint8_t> FlatGreyJpeg(int width, int height, uint8_t value) {
    return tools::EncodeJpeg(tools::MakeJpegPicture(width, height, 1, [value](int, int, int) { return value; }));
}

// Frame i of the ten-frame sequence: a colour of its own.
uint32_t FrameColour(int i) { return uint32_t(20 * i) << 16 | uint32_t(250 - 20 * i) << 8 | 100u; }

bool Near(uint32_t got, uint32_t want) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF)) > kTolerance) return false;
    }
    return true;
}

class FrameSequenceTest : public LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        InstallFrameSequenceCommands();
        ResetSequenceDecoder();
        ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 0), 0);
        ASSERT_EQ(FillRealVariable(*FindVariable(1002), VariableShape{}, 0.0), 0);
        ASSERT_EQ(FillStringVariable(*FindVariable(1001), VariableShape{}, ""), 0);
        // layer name="s" no=1 file="a.bmp": a 2 x 2 picture, opaque red.
        WriteBmp("a.bmp", 2, 2, [](int64_t, int64_t) { return 0xFFFF0000u; });
        ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "1"}, {"file", R"("a.bmp")"}}), 0);
        node_ = Leaf("W0/s.1");
        ASSERT_NE(node_, nullptr);
    }
    void TearDown() override {
        ResetSequenceDecoder();
        LayerCommandTest::TearDown();
    }

    void WriteSequence(const std::string& name, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(tools::WriteFile((game_ / name).string(), bytes));
        platform::ClearPathCache();
    }
    // Ten frames of 8 x 6 in the colours of FrameColour, with the values
    // 1, -5 and 3.
    std::vector<uint8_t> TenFrames() {
        tools::FrameSequenceSpec spec;
        spec.values = {1, -5, 3};
        for (int i = 0; i < 10; ++i) spec.frames.push_back({FlatJpeg(8, 6, FrameColour(i)), {}});
        return tools::BuildFrameSequence(spec);
    }

    // sequence name="s" no=1 [file=<file>] [frame=<frame>]
    int32_t Sequence(const std::string& file, const std::string& frame = {}) {
        std::vector<Kw> line = {{"name", R"("s")"}, {"no", "1"}};
        if (!file.empty()) line.push_back({"file", "\"" + file + "\""});
        if (!frame.empty()) line.push_back({"frame", frame});
        return Run("sequence", line);
    }
    // sequenceinfo name="s" no=1 <selector>=1 result=$1000
    int64_t Info(const std::string& selector) {
        FindVariable(1000)->integers.at(0) = 4242;
        EXPECT_EQ(Run("sequenceinfo", {{"name", R"("s")"}, {"no", "1"}, {selector, "1"}, {"result", "$1000"}}), 0);
        return FindVariable(1000)->integers.at(0);
    }

    CgImage& Image() { return *LayerImage(node_); }
    uint32_t Pixel(int64_t x, int64_t y) { return ReadPixel(Image(), x, y); }
    // Every pixel of the layer within the tolerance of `want`.
    void ExpectFlat(uint32_t want, const char* what) {
        int misses = 0;
        for (int64_t y = 0; y < Image().height; ++y)
            for (int64_t x = 0; x < Image().width; ++x)
                if (!Near(Pixel(x, y), want) && ++misses <= 3)
                    ADD_FAILURE() << what << ": (" << x << ", " << y << ") is " << std::hex << Pixel(x, y)
                                  << ", want " << want;
    }

    // Exactly one fatal report, of a code whose text is built in (100010,
    // 104010, 104030, ...): its text with `args`.
    static void ExpectBuiltIn(uint32_t code, std::initializer_list<FormatArg> args) {
        EXPECT_EQ(ErrorReporter().reports, 1u) << LastMessage();
        EXPECT_EQ(LastMessage(), FormatBounded(LookupErrorText(code), args)) << code;
        EXPECT_NE(QuitFlag.load(), 0);
    }

    NamedTreeNode* node_ = nullptr;
};

// ------------------------------------------------------------ loading and showing

TEST_F(FrameSequenceTest, FramesAreClampedToTheSequence) {
    WriteSequence("anim.seq", TenFrames());
    // sequence name="s" no=1 file="ANIM.seq": the name is lower-cased.
    ASSERT_EQ(Sequence("ANIM.seq"), 0);
    ExpectClean();
    ASSERT_NE(Image().frame_sequence, nullptr);
    EXPECT_EQ(Image().width, 2) << "loading shows nothing";
    EXPECT_EQ(Pixel(1, 1), 0xFFFF0000u);
    EXPECT_EQ(Info("count"), 10);
    EXPECT_EQ(Info("value1"), 1);
    EXPECT_EQ(Info("value2"), -5) << "widened with its sign";
    EXPECT_EQ(Info("value3"), 3);

    struct Case {
        const char* frame;
        int shown;
    };
    const Case cases[] = {{"4", 4}, {"1000", 9}, {"-3", 0}, {"9", 9}, {"0", 0},
                          // The frame number is a 32-bit value: 2^32 + 2 is 2.
                          {"4294967298", 2}};
    for (const Case& c : cases) {
        ASSERT_EQ(Sequence({}, c.frame), 0);
        EXPECT_EQ(Image().width, 8);
        EXPECT_EQ(Image().height, 6);
        EXPECT_EQ(Image().alpha_in_use, 0);
        ExpectFlat(0xFF000000u | FrameColour(c.shown), c.frame);
    }
    ExpectClean();
}

TEST_F(FrameSequenceTest, LoadAndShowInOneLineAndReleaseKeepsThePixels) {
    WriteSequence("anim.seq", TenFrames());
    // sequence name="s" no=1 file="anim.seq" frame=7
    ASSERT_EQ(Sequence("anim.seq", "7"), 0);
    ExpectFlat(0xFF000000u | FrameColour(7), "frame 7");
    // delsequence name="s" no=1
    ASSERT_EQ(Run("delsequence", {{"name", R"("s")"}, {"no", "1"}}), 0);
    EXPECT_EQ(Image().frame_sequence, nullptr);
    ExpectFlat(0xFF000000u | FrameColour(7), "the pixels stay");
    EXPECT_EQ(Info("count"), 0);
    EXPECT_EQ(Info("value2"), 0);
    // sequenceinfo name="s" no=1 count=1 result=$1002: 0.0 into a real.
    FindVariable(1002)->reals.at(0) = 2.5;
    ASSERT_EQ(Run("sequenceinfo", {{"name", R"("s")"}, {"no", "1"}, {"count", "1"}, {"result", "$1002"}}), 0);
    EXPECT_EQ(FindVariable(1002)->reals.at(0), 0.0);
    // Showing without a sequence does nothing.
    ASSERT_EQ(Sequence({}, "3"), 0);
    ExpectFlat(0xFF000000u | FrameColour(7), "no sequence, no change");
    ExpectClean();
    // A text variable takes no number.
    ASSERT_EQ(Run("sequenceinfo", {{"name", R"("s")"}, {"no", "1"}, {"count", "1"}, {"result", "$1001"}}), 0);
    ExpectFatal(101140);
}

TEST_F(FrameSequenceTest, AlphaFlags) {
    struct Case {
        int32_t flag;
        uint8_t alpha_in_use;
        uint32_t alpha;  // of every pixel
    };
    const Case cases[] = {{0, 0, 0xFF}, {1, 1, 0x40}, {2, 0, 0x40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        tools::FrameSequenceSpec spec;
        spec.alpha_flag = c.flag;
        spec.frames.push_back({FlatJpeg(6, 4, 0x2080C0), FlatGreyJpeg(6, 4, 0x40)});
        WriteSequence("alpha.seq", tools::BuildFrameSequence(spec));
        // sequence name="s" no=1 file="alpha.seq" frame=0
        ASSERT_EQ(Sequence("alpha.seq", "0"), 0);
        EXPECT_EQ(Image().alpha_in_use, c.alpha_in_use);
        ExpectFlat(c.alpha << 24 | 0x2080C0u, "colour and alpha");
    }
    ExpectClean();
}

// Alpha parts that cannot go into the layer's pixels are skipped: one of
// another size, one that is not one-component (the decoder then ends as
// after a library error), and one behind a colour part that failed.
TEST_F(FrameSequenceTest, AlphaPartsThatDoNotFitAreSkipped) {
    tools::FrameSequenceSpec spec;
    spec.alpha_flag = 1;
    spec.frames.push_back({FlatJpeg(6, 4, 0x2080C0), FlatGreyJpeg(5, 4, 0x40)});
    spec.frames.push_back({FlatJpeg(6, 4, 0x2080C0), FlatJpeg(6, 4, 0x404040)});
    spec.frames.push_back({{1, 2, 3}, FlatGreyJpeg(6, 4, 0x40)});
    WriteSequence("alpha.seq", tools::BuildFrameSequence(spec));
    ASSERT_EQ(Sequence("alpha.seq", "0"), 0);
    ExpectFlat(0xFF2080C0u, "an alpha of another size");
    EXPECT_TRUE(SequenceDecoderExists());
    ASSERT_EQ(Sequence({}, "1"), 0);
    ExpectFlat(0xFF2080C0u, "a colour alpha");
    EXPECT_FALSE(SequenceDecoderExists());
    ASSERT_EQ(Sequence({}, "2"), 0);
    ExpectFlat(0xFF2080C0u, "an alpha behind a broken colour part");
    ExpectClean();
}

TEST_F(FrameSequenceTest, AFrameOfANewSizeGetsANewBlockAndOneOfTheSameSizeReusesIt) {
    tools::FrameSequenceSpec spec;
    spec.frames.push_back({FlatJpeg(8, 6, 0x102030), {}});
    spec.frames.push_back({FlatJpeg(5, 3, 0x405060), {}});
    spec.frames.push_back({FlatJpeg(5, 3, 0x708090), {}});
    WriteSequence("sizes.seq", tools::BuildFrameSequence(spec));
    ASSERT_EQ(Sequence("sizes.seq", "0"), 0);
    EXPECT_EQ(Image().width, 8);
    EXPECT_EQ(Image().owned_block.size(), CgPixelBlockBytes(8, 6));
    ASSERT_EQ(Sequence({}, "1"), 0);
    EXPECT_EQ(Image().width, 5);
    EXPECT_EQ(Image().height, 3);
    EXPECT_EQ(Image().allocated_width, 5);
    EXPECT_EQ(Image().owned_block.size(), CgPixelBlockBytes(5, 3));
    ExpectFlat(0xFF405060u, "frame 1");
    const uint8_t* block = Image().owned_block.data();
    // A toned copy of the old frame would hide the new one: it goes.
    ASSERT_TRUE(Image().derived_copy.Resize(CgPixelBlockBytes(5, 3)));
    Image().current_pixels = Image().derived_copy.data();
    ASSERT_EQ(Sequence({}, "2"), 0);
    EXPECT_EQ(Image().owned_block.data(), block) << "the same size decodes into the block it has";
    EXPECT_TRUE(Image().derived_copy.empty());
    ExpectFlat(0xFF708090u, "frame 2");
    ASSERT_EQ(Sequence({}, "0"), 0);
    EXPECT_EQ(Image().width, 8);
    ExpectFlat(0xFF102030u, "frame 0 again");
    // The layer's area is dirty in the window for each new frame.
    EXPECT_EQ(Canvas().dirty_valid, 1);
    ExpectClean();
}

TEST_F(FrameSequenceTest, AFrameTooLargeForABlockLeavesTheOldPixels) {
    tools::FrameSequenceSpec spec;
    spec.frames.push_back({FlatJpeg(8193, 8, 0x102030), {}});
    WriteSequence("wide.seq", tools::BuildFrameSequence(spec));
    ASSERT_EQ(Sequence("wide.seq", "0"), 0);
    ExpectBuiltIn(100010, {});
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(Image().width, 2);
    EXPECT_EQ(Pixel(0, 0), 0xFFFF0000u);
    EXPECT_TRUE(SequenceDecoderExists()) << "no library error: the decoder stays";

    ForgetReports();
    EXPECT_TRUE(AllocFramePixels(8192, 70000).empty()) << "beyond the block limit";
    ExpectBuiltIn(104030, {std::string_view()});
    ForgetReports();
    const PixelBlock block = AllocFramePixels(3, 2);
    EXPECT_EQ(block.size(), 3u * 4 * 3 + 4);
    ExpectClean();
}

// A colour part the library refuses ends its decode and the decompressor
// with it; the next frame makes a new one and shows.
TEST_F(FrameSequenceTest, ACorruptPartIsFollowedByAGoodFrame) {
    std::vector<uint8_t> broken = FlatJpeg(8, 6, 0x102030);
    broken.resize(40);  // inside the tables: the library gives up
    for (size_t i = 20; i < broken.size(); ++i) broken[i] = 0xFF;
    tools::FrameSequenceSpec spec;
    spec.frames.push_back({FlatJpeg(8, 6, 0x102030), {}});
    spec.frames.push_back({broken, {}});
    spec.frames.push_back({FlatJpeg(8, 6, 0x405060), {}});
    WriteSequence("broken.seq", tools::BuildFrameSequence(spec));
    ASSERT_EQ(Sequence("broken.seq", "0"), 0);
    const uint64_t made = SequenceDecoderCreations();
    ASSERT_EQ(Sequence({}, "1"), 0);
    EXPECT_FALSE(SequenceDecoderExists());
    ExpectFlat(0xFF102030u, "the rows before stay");
    ASSERT_EQ(Sequence({}, "2"), 0);
    EXPECT_TRUE(SequenceDecoderExists());
    EXPECT_EQ(SequenceDecoderCreations(), made + 1);
    ExpectFlat(0xFF405060u, "the next frame");
    ExpectClean() ;
}

// ------------------------------------------------------------ the file

TEST_F(FrameSequenceTest, PartsAreUnscrambledByPosition) {
    // A part of 17 zero bytes is stored as 0x10..0x1F, 0x10.
    tools::FrameSequenceSpec spec;
    spec.frames.push_back({std::vector<uint8_t>(17, 0), std::vector<uint8_t>(3, 0xFF)});
    const std::vector<uint8_t> file = tools::BuildFrameSequence(spec);
    ASSERT_EQ(file.size(), 32u + 12 + 17 + 3);
    for (size_t j = 0; j < 17; ++j) ASSERT_EQ(file[44 + j], 0x10 + j % 16) << j;
    EXPECT_EQ(file[61], 0xFF ^ 0x10) << "the alpha part has its own key from 0x10";
    WriteSequence("raw.seq", file);
    ASSERT_EQ(Sequence("raw.seq"), 0);
    ExpectClean();
    const FrameSequence& sequence = *Image().frame_sequence;
    for (size_t j = 0; j < 17; ++j) EXPECT_EQ(sequence.data[44 + j], 0) << j;
    for (size_t j = 61; j < 64; ++j) EXPECT_EQ(sequence.data[j], 0xFF) << j;
    EXPECT_EQ(sequence.data[8], 1) << "the header is not part of any part";
}

TEST_F(FrameSequenceTest, OverlappingPartsUnscrambleAsPartByPartWithoutTakingLonger) {
    // The sweep over the file must leave every byte as XORing each part in
    // turn does; parts overlap each other, the tables and the whole file.
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
    std::vector<int32_t> offsets, colours, alphas;
    uint32_t seed = 1;
    auto next = [&](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return int32_t((seed >> 8) % range);
    };
    for (int i = 0; i < 40; ++i) {
        offsets.push_back(next(300));
        colours.push_back(next(300) - 30);
        alphas.push_back(next(300) - 30);
    }
    offsets.push_back(0);
    colours.push_back(300);
    alphas.push_back(0);
    std::vector<uint8_t> want = data;
    for (size_t i = 0; i < offsets.size(); ++i) {
        const int64_t starts[] = {offsets[i], int64_t{offsets[i]} + colours[i]};
        const int64_t lengths[] = {colours[i], alphas[i]};
        for (int k = 0; k < 2; ++k) {
            if (lengths[k] <= 0 || starts[k] < 0 || starts[k] + lengths[k] > 300) continue;
            for (int64_t j = 0; j < lengths[k]; ++j) want[size_t(starts[k] + j)] ^= uint8_t(0x10 + j % 16);
        }
    }
    UnscrambleFrameSequence(data, offsets, colours, alphas);
    EXPECT_EQ(data, want);

    // A few thousand frames that each cover the whole file load at once
    // (part by part this would be some 10^10 byte steps).
    const int32_t n = 100000;
    std::vector<uint8_t> file(32 + 12 * size_t(n), 0);
    tools::PutSequenceField(file, tools::kSequenceCountField, n);
    for (int32_t i = 0; i < n; ++i) {
        tools::PutSequenceField(file, tools::SequenceOffsetField(size_t(i)), 0);
        tools::PutSequenceField(file, tools::SequenceColourLengthField(size_t(n), size_t(i)), int32_t(file.size()));
    }
    WriteSequence("many.seq", file);
    ASSERT_EQ(Sequence("many.seq"), 0);
    ExpectClean();
    const FrameSequence& sequence = *Image().frame_sequence;
    EXPECT_EQ(sequence.frame_count, n);
    // An even number of identical parts: the file comes back as it was, and
    // the tables were taken before the parts were unscrambled over them.
    EXPECT_EQ(sequence.data, file);
    EXPECT_EQ(sequence.colour_lengths.back(), int32_t(file.size()));
}

TEST_F(FrameSequenceTest, MalformedFilesAreRefusedAndTheOldSequenceKept) {
    WriteSequence("good.seq", TenFrames());
    ASSERT_EQ(Sequence("good.seq", "3"), 0);
    const FrameSequence* old = Image().frame_sequence.get();
    ASSERT_NE(old, nullptr);

    tools::FrameSequenceSpec spec;
    spec.frames.push_back({FlatJpeg(8, 6, 0x102030), FlatGreyJpeg(8, 6, 9)});
    spec.frames.push_back({FlatJpeg(8, 6, 0x405060), {}});
    const std::vector<uint8_t> two = tools::BuildFrameSequence(spec);
    const int32_t size = int32_t(two.size());
    using Field = std::pair<size_t, int32_t>;
    struct Case {
        const char* what;
        std::vector<Field> fields;
        size_t cut = 0;  // the file's size, when not 0
    };
    const Case cases[] = {
        {"shorter than its header", {}, 31},
        {"tables beyond the end", {{tools::kSequenceCountField, 100000}}},
        {"a frame count that overflows 32 bits", {{tools::kSequenceCountField, std::numeric_limits<int32_t>::max()}}},
        {"a colour part past the end", {{tools::SequenceColourLengthField(2, 1), size}}},
        {"a colour part at a negative offset", {{tools::SequenceOffsetField(1), -4}}},
        {"a length that overflows 32 bits",
         {{tools::SequenceColourLengthField(2, 1), std::numeric_limits<int32_t>::max()}}},
        {"an alpha part past the end", {{tools::SequenceAlphaLengthField(2, 0), size}}},
        {"an alpha part before the file",
         {{tools::SequenceColourLengthField(2, 0), -200}, {tools::SequenceAlphaLengthField(2, 0), 10}}},
        {"the file cut inside the last part", {}, two.size() - 1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = two;
        for (const Field& field : c.fields) tools::PutSequenceField(bad, field.first, field.second);
        if (c.cut != 0) bad.resize(c.cut);
        WriteSequence("bad.seq", bad);
        ForgetReports();
        EXPECT_EQ(Sequence("bad.seq"), 0) << c.what;
        ExpectBuiltIn(104010, {std::string_view("bad.seq")});
        EXPECT_EQ(Image().frame_sequence.get(), old) << c.what;
    }
    ForgetReports();
    ASSERT_EQ(Sequence({}, "5"), 0);
    ExpectFlat(0xFF000000u | FrameColour(5), "the old sequence still shows");

    // Accepted: no frames, a negative count, empty and negative lengths.
    const Case accepted[] = {
        {"no frames", {{tools::kSequenceCountField, 0}}},
        {"a negative count", {{tools::kSequenceCountField, -2}}},
        {"an empty colour part", {{tools::SequenceColourLengthField(2, 1), 0}}},
        {"a negative alpha length", {{tools::SequenceAlphaLengthField(2, 0), -7}}},
    };
    for (const Case& c : accepted) {
        std::vector<uint8_t> file = two;
        for (const Field& field : c.fields) tools::PutSequenceField(file, field.first, field.second);
        WriteSequence("ok.seq", file);
        ForgetReports();
        EXPECT_EQ(Sequence("ok.seq", "1"), 0) << c.what;
        ExpectClean();
        EXPECT_NE(Image().frame_sequence, nullptr) << c.what;
    }
    EXPECT_EQ(Info("count"), 2);
}

TEST_F(FrameSequenceTest, LookupErrors) {
    WriteSequence("anim.seq", TenFrames());
    ASSERT_EQ(Sequence("anim.seq"), 0);
    const FrameSequence* old = Image().frame_sequence.get();

    // sequence name="s" no=1 file="nothing.seq": not found, then unreadable;
    // the command still answers 0 and the layer keeps its sequence.
    EXPECT_EQ(Sequence("nothing.seq"), 0);
    EXPECT_EQ(ErrorReporter().reports, 2u);
    EXPECT_EQ(LastMessage(), FormatBounded(LookupErrorText(104010), {std::string_view("nothing.seq")}));
    EXPECT_NE(QuitFlag.load(), 0);
    EXPECT_EQ(Image().frame_sequence.get(), old);

    // sequence name="ghost" frame=1: no such layer.
    ForgetReports();
    EXPECT_EQ(Run("sequence", {{"name", R"("ghost")"}, {"frame", "1"}}), -1);
    ExpectFatal(101250);
    EXPECT_EQ(LastMessage().substr(0, 27), "E101250|sequence|W0/ghost||");
    ForgetReports();
    EXPECT_EQ(Run("delsequence", {{"name", R"("ghost")"}}), -1);
    ExpectFatal(101250);
    ForgetReports();
    EXPECT_EQ(Run("sequenceinfo", {{"name", R"("ghost")"}, {"count", "1"}, {"result", "$1000"}}), -1);
    ExpectFatal(101250);

    // Without keyword 0 the commands do nothing.
    ForgetReports();
    EXPECT_EQ(Run("sequence", {{"file", R"("anim.seq")"}, {"frame", "1"}}), 0);
    EXPECT_EQ(Run("delsequence", {{"no", "1"}}), 0);
    EXPECT_EQ(Run("sequenceinfo", {{"count", "1"}, {"result", "$1000"}}), 0);
    ExpectClean();
    EXPECT_EQ(Image().frame_sequence.get(), old);
    EXPECT_EQ(Image().width, 2);
}

}  // namespace
}  // namespace zk::layer_test
