// Model layers against the fake model player (tests/emote/fake_player):
// each test copies it into a folder of its own as "emotedriver.so" and
// "VEZoduz.so", loads it from there, and reads the fake's log of calls,
// one line a call ("254 p1 0.96": ordinal, player, arguments). No OpenGL
// device is made here: the device record is attached without a loader, so
// the fake draws nothing and only records what it was given.
#include <dlfcn.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "base/system_text.h"
#include "effects/cg_operations.h"
#include "layers/emote_command.h"
#include "layers/emote_players.h"
#include "platform/emote_library.h"
#include "script/variable_info.h"
#include "core/startup_notes.h"
#include "tests/layers/layer_command_test_support.h"

namespace zk::layer_test {
namespace {

using Lines = std::vector<std::string>;

fs::path FakeLibrary(const std::string& variant) {
    return fs::path(ZORVEK_FAKE_EMOTE_DIR) / ("zk_fake_emote_" + variant + ".so");
}

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A folder standing for the executable's, with the libraries given.
struct LibraryFolder {
    explicit LibraryFolder(const std::string& tag) {
        static int counter = 0;
        path = fs::temp_directory_path() / ("zk_emote_" + std::to_string(::getpid()) + "_" + tag + "_" +
                                            std::to_string(counter++));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~LibraryFolder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
    void Put(const std::string& variant, const std::string& name) const {
        fs::copy_file(FakeLibrary(variant), path / name, fs::copy_options::overwrite_existing);
    }
    fs::path path;
};

// fileinfo model=1, result=$1000: whether the model player is loaded.
template <class Fixture>
int64_t ModelPlayerLoaded(Fixture& test) {
    RegisterCommandHandler(kCmdScriptFileInfo, CmdScriptFileInfo);
    EXPECT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 7), 0);
    EXPECT_EQ(test.RunLine("fileinfo", {{"model", "1"}, {"result", "$1000"}}), 0);
    return FindVariable(1000)->integers.at(0);
}

class EmoteTest : public LayerCommandTest {
public:
    int32_t RunLine(std::string_view command, const std::vector<Kw>& keywords) { return Run(command, keywords); }

protected:
    void SetUp() override {
        ResetEngine();
        LayerCommandTest::SetUp();
        InstallEmoteCommand();
        folder_ = std::make_unique<LibraryFolder>("player");
        folder_->Put("complete", "emotedriver.so");
        folder_->Put("complete", "VEZoduz.so");
        ASSERT_TRUE(platform::LoadEmoteLibraryFrom(folder_->path.string()));
        SetEmoteLibraryLoaded(true);  // as start-up notes it
        // The same instance the engine loaded: its log and its answers.
        fake_ = dlopen((folder_->path / "VEZoduz.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        ASSERT_NE(fake_, nullptr);
        log_ = Entry<const char* (*)()>("fake_emote_log");
        clear_log_ = Entry<void (*)()>("fake_emote_clear_log");
        redraw_answers_ = Entry<void (*)(int, int)>("fake_emote_redraw_answers");
        live_players_ = Entry<int (*)()>("fake_emote_live_players");
        matrices_ = Entry<void (*)(float*)>("fake_emote_matrices_at_draw");
        // A device without OpenGL: the fake records, and draws nothing.
        TheEmoteDeviceLink().device_ready = [] { return true; };
        DescribeEmoteDevice(nullptr, 3, 3);
        ASSERT_EQ(CreateEmoteDriver(), 0);
        EXPECT_EQ(Log(), (Lines{"2 device 0 0", "110 d 0"}));
        clear_log_();
    }

    void TearDown() override {
        ResetEmotePlayers();
        if (fake_ != nullptr) dlclose(fake_);
        LayerCommandTest::TearDown();
        folder_.reset();
        ResetEngine();
    }

    template <class Fn>
    Fn Entry(const char* name) {
        void* symbol = dlsym(fake_, name);
        EXPECT_NE(symbol, nullptr) << name;
        return reinterpret_cast<Fn>(symbol);
    }

    Lines Log() { return SplitLines(log_()); }
    // The log since the last call, then cleared.
    Lines TakeLog() {
        Lines lines = Log();
        clear_log_();
        return lines;
    }

    void WriteModel(const std::string& name, const std::string& bytes) {
        std::ofstream out(game_ / name, std::ios::binary);
        out << bytes;
        out.close();
        platform::ClearPathCache();
    }

    // layer name=<name> no=1 file=<file>
    CgImage& ModelLayer(const std::string& name, const std::string& file) {
        Run("layer", {{"name", "\"" + name + "\""}, {"no", "1"}, {"file", "\"" + file + "\""}});
        return *LayerImage(Leaf("W0/" + name + ".1"));
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : ui_.boxes) texts.push_back(box.text);
        return texts;
    }

    static const EmotePlayerSlot* SlotOf(const CgImage& image) {
        for (const EmotePlayerSlot& slot : TheEmotePlayerTable().slots)
            if (slot.image == &image) return &slot;
        return nullptr;
    }

    std::unique_ptr<LibraryFolder> folder_;
    void* fake_ = nullptr;
    const char* (*log_)() = nullptr;
    void (*clear_log_)() = nullptr;
    void (*redraw_answers_)(int, int) = nullptr;
    int (*live_players_)() = nullptr;
    void (*matrices_)(float*) = nullptr;
};

// ------------------------------------------------------------------ loading

TEST_F(EmoteTest, AModelFileBecomesAPlayerInItsLayer) {
    EXPECT_EQ(ModelPlayerLoaded(*this), 1);
    WriteModel("a.psb", "MODEL");
    CgImage& image = ModelLayer("m", "a.psb");
    EXPECT_EQ(TakeLog(), (Lines{"119 d 5", "214 p1 0.5", "218 p1 0.5", "216 p1 0.5", "222 p1 0 0 0", "205 p1"}));
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_EQ(image.texture_kind, kTextureKindEmote);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(ReadPixel(image, 1, 1) >> 24, 0u) << "the placeholder is transparent";
    ASSERT_NE(SlotOf(image), nullptr);

    // Another model in the same layer replaces the player, and the layer
    // stays a model layer.
    WriteModel("b.psb", "MODEL2");
    CgImage& again = ModelLayer("m", "b.psb");
    ASSERT_EQ(&again, &image);
    EXPECT_EQ(TakeLog(), (Lines{"202 p1", "119 d 6", "214 p2 0.5", "218 p2 0.5", "216 p2 0.5", "222 p2 0 0 0",
                                "205 p2"}));
    EXPECT_EQ(image.texture_kind, kTextureKindEmote);
    EXPECT_EQ(live_players_(), 1);
}

TEST_F(EmoteTest, AModelTheLibraryRefusesLeavesAnEmptyModelLayer) {
    WriteModel("bad.psb", "BAD model");
    CgImage& image = ModelLayer("m", "bad.psb");
    EXPECT_EQ(TakeLog(), (Lines{"119 d 9"}));
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{std::string(Sjis("EmotePlayer読み込みに失敗しました.")),
                                                     std::string(Sjis("E-mote 読込に失敗しました. = bad.psb"))}));
    EXPECT_EQ(image.texture_kind, kTextureKindEmote);
    EXPECT_EQ(image.emote_player, nullptr);
    EXPECT_EQ(SlotOf(image), nullptr);
    // Nothing to drive: the setters and the draw pass it by.
    RenderEmoteModel(image, 64, 48);
    EXPECT_TRUE(Log().empty());
}

TEST_F(EmoteTest, WithoutADriverNoModelLoads) {
    ReleaseAllEmotePlayers();
    clear_log_();
    WriteModel("a.psb", "MODEL");
    CgImage& image = ModelLayer("m", "a.psb");
    EXPECT_TRUE(Log().empty()) << "the library is not asked to load without its driver";
    EXPECT_EQ(image.emote_player, nullptr);
    EXPECT_EQ(BoxTexts().front(), std::string(Sjis("EmotePlayer読み込みに失敗しました.")));
}

TEST_F(EmoteTest, The129thModelKeepsItsPlayerWithoutASlotAndGoesFirst) {
    WriteModel("a.psb", "MODEL");
    std::vector<CgImage*> images;
    for (int i = 0; i < 129; ++i) images.push_back(&ModelLayer("m" + std::to_string(i), "a.psb"));
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{std::string(Sjis("EmotePlayer最大読込数をオーバーしました.")),
                                                     std::string(Sjis("E-mote 読込に失敗しました. = a.psb"))}));
    CgImage& last = *images.back();
    ASSERT_NE(last.emote_player, nullptr) << "the player stays in its image";
    EXPECT_EQ(SlotOf(last), nullptr);
    EXPECT_EQ(TheEmotePlayerTable().unregistered, (std::vector<CgImage*>{&last}));
    Lines load = TakeLog();
    EXPECT_EQ(load.back(), "119 d 5") << "no values and no zoom for a player without a slot";

    // The clock and the poll pass it by.
    RecordEmoteElapsed(10);
    AdvancePendingEmoteTime();
    EXPECT_EQ(PollEmotePlayers(), 0);
    for (const std::string& line : TakeLog()) EXPECT_EQ(line.find("p129"), std::string::npos) << line;

    ReleaseAllEmotePlayers();
    Lines release = TakeLog();
    ASSERT_EQ(release.size(), 130u);
    EXPECT_EQ(release.front(), "202 p129");
    EXPECT_EQ(release.back(), "102 d");
    EXPECT_EQ(live_players_(), 0);
    for (CgImage* image : images) {
        EXPECT_EQ(image->emote_player, nullptr);
        EXPECT_EQ(image->texture_kind, kTextureKindCpu);
    }
    EXPECT_TRUE(TheEmotePlayerTable().unregistered.empty());
}

// ----------------------------------------------------------------- the clock

TEST_F(EmoteTest, TheFrameClockAdvancesByTheLastFramesMillisecondsAtSixtyFramesASecond) {
    WriteModel("a.psb", "MODEL");
    ModelLayer("m", "a.psb");
    clear_log_();
    struct Case {
        uint32_t elapsed_ms;
        float frames;
    };
    // Above ten seconds (a stall, a suspended machine) a model moves one
    // frame's worth only.
    for (const Case& c : {Case{20, 20.0f * 0.06f}, Case{1, 0.06f}, Case{10000, 10000.0f * 0.06f},
                          Case{10001, 16.0f * 0.06f}, Case{0xFFFFFFFFu, 16.0f * 0.06f}}) {
        RecordEmoteElapsed(c.elapsed_ms);
        AdvancePendingEmoteTime();
        const Lines lines = TakeLog();
        ASSERT_EQ(lines.size(), 1u) << c.elapsed_ms;
        float frames = 0;
        ASSERT_EQ(std::sscanf(lines[0].c_str(), "254 p1 %g", &frames), 1) << lines[0];
        EXPECT_FLOAT_EQ(frames, c.frames) << c.elapsed_ms;
        AdvancePendingEmoteTime();
        EXPECT_TRUE(Log().empty()) << "the time is used once";
    }
    RecordEmoteElapsed(0);
    AdvancePendingEmoteTime();
    EXPECT_TRUE(Log().empty()) << "no time, no call";
}

TEST_F(EmoteTest, ThePollAsksEachRegisteredPlayerUntilOneWantsARedraw) {
    WriteModel("a.psb", "MODEL");
    ModelLayer("a", "a.psb");
    ModelLayer("b", "a.psb");
    clear_log_();
    EXPECT_EQ(PollEmotePlayers(), 0);
    EXPECT_EQ(TakeLog(), (Lines{"255 p1", "246 p1 []", "255 p2", "246 p2 []"}));
    redraw_answers_(1, 0);
    EXPECT_EQ(PollEmotePlayers(), 1);
    EXPECT_EQ(TakeLog(), (Lines{"255 p1"}));
    redraw_answers_(0, 1);
    EXPECT_EQ(PollEmotePlayers(), 1);
    EXPECT_EQ(TakeLog(), (Lines{"255 p1", "246 p1 []"}));
}

// ---------------------------------------------------------------- the camera

using Matrix = std::array<float, 16>;

Matrix Read(const float (&m)[16]) {
    Matrix out;
    std::copy(std::begin(m), std::end(m), out.begin());
    return out;
}

void ExpectMatrix(const Matrix& actual, const Matrix& expected, const char* what) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(actual[i], expected[i], 1e-4f * std::max(1.0f, std::fabs(expected[i])))
            << what << " row " << i / 4 + 1 << " column " << i % 4 + 1;
    }
}

// The camera for (x, y, angle, w, h): the world turns by -angle degrees
// about z; the view looks from (-x - 0.5, 0.5 - y, h / 2) along -z with y
// down, x mirrored; the projection keeps the view depth as w, so that a
// point at z = 0 shows one unit a pixel over the height h.
void ExpectCamera(float x, float y, float angle, float w, float h) {
    const ZkEmoteDevice& device = TheEmoteDevice();
    const double radians = -angle * std::numbers::pi / 180.0;
    const float c = static_cast<float>(std::cos(radians)), s = static_cast<float>(std::sin(radians));
    ExpectMatrix(Read(device.world), Matrix{c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, "world");
    ExpectMatrix(Read(device.view),
                 Matrix{-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, x + 0.5f, 0.5f - y, h / 2, 1}, "view");
    ExpectMatrix(Read(device.projection), Matrix{h / w, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0}, "projection");
}

TEST_F(EmoteTest, TheCameraMatricesFollowTheFormulas) {
    SetEmoteCamera(3.5f, -2.0f, 30.0f, 640, 480);
    ExpectCamera(3.5f, -2.0f, 30.0f, 640, 480);
    SetEmoteCamera(-100.25f, 7.0f, -90.0f, 320, 1000);
    ExpectCamera(-100.25f, 7.0f, -90.0f, 320, 1000);
    // A view without an extent is one pixel, not a division by zero.
    SetEmoteCamera(1.0f, 2.0f, 0.0f, 640, 0);
    ExpectCamera(1.0f, 2.0f, 0.0f, 1, 1);
    SetEmoteCamera(1.0f, 2.0f, 0.0f, 0, 480);
    ExpectCamera(1.0f, 2.0f, 0.0f, 1, 1);
    ResetEmoteCamera();
    ExpectCamera(0, 0, 0, 1, 1);
    // Points at z = 0 through view and projection: (0.5, 0.5) is the middle
    // of the view; 240 units along y reach its edge, and 320 units along x
    // reach the side, mirrored: one unit a pixel of a 640 x 480 view.
    SetEmoteCamera(0.0f, 0.0f, 0.0f, 640, 480);
    const Matrix view = Read(TheEmoteDevice().view);
    const Matrix projection = Read(TheEmoteDevice().projection);
    auto project = [&](float px, float py) {
        std::array<float, 4> v{}, p{};
        const float in[4] = {px, py, 0, 1};
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k) v[c] += in[k] * view[k * 4 + c];
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k) p[c] += v[k] * projection[k * 4 + c];
        return std::array<float, 2>{p[0] / p[3], p[1] / p[3]};
    };
    struct Point {
        float px, py, clip_x, clip_y;
    };
    for (const Point& point : {Point{0.5f, 0.5f, 0, 0}, Point{0.5f, 240.5f, 0, -1}, Point{0.5f, -239.5f, 0, 1},
                               Point{320.5f, 0.5f, -1, 0}, Point{-319.5f, 0.5f, 1, 0}}) {
        const auto clip = project(point.px, point.py);
        EXPECT_NEAR(clip[0], point.clip_x, 1e-5f) << point.px << ", " << point.py;
        EXPECT_NEAR(clip[1], point.clip_y, 1e-5f) << point.px << ", " << point.py;
    }
}

TEST_F(EmoteTest, AModelIsPlacedZoomedTurnedAdvancedAndDrawnFromItsLayer) {
    WriteModel("a.psb", "MODEL");
    CgImage& image = ModelLayer("m", "a.psb");
    image.x100 = 1234;
    image.y100 = -500;
    image.placement[0] = 300;  // the model's position, 1/100 pixel
    image.placement[1] = -200;
    image.zoom_x = 15000;
    image.angles[2] = 4500.0f;  // 45 degrees
    RecordEmoteElapsed(50);
    clear_log_();
    RenderEmoteModel(image, 640, 480);
    const Lines lines = TakeLog();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "220 p1 -1.5 -1 0 0");
    EXPECT_EQ(lines[1], "222 p1 1.5 0 0");
    float radians = 0;
    ASSERT_EQ(std::sscanf(lines[2].c_str(), "224 p1 %g 0 0", &radians), 1) << lines[2];
    EXPECT_NEAR(radians, -std::numbers::pi / 4, 1e-6);
    EXPECT_EQ(lines[3], "254 p1 3");
    EXPECT_EQ(lines[4], "256 p1");

    float seen[48];
    matrices_(seen);
    const float camera_x = 12.34f - 1.5f - 320.0f;
    const float camera_y = -5.0f - -1.0f - 240.0f;
    Matrix view;
    std::copy(seen + 16, seen + 32, view.begin());
    ExpectMatrix(view, Matrix{-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, camera_x + 0.5f, 0.5f - camera_y, 240, 1},
                 "view at the draw");

    RenderEmoteModel(image, 640, 480);
    EXPECT_EQ(TakeLog().size(), 4u) << "the pending time was used by the first render";
}

// ------------------------------------------------------- hand-over and release

TEST_F(EmoteTest, CopyOperationEightHandsThePlayerAndItsSlotOver) {
    WriteModel("a.psb", "MODEL");
    CgImage& model = ModelLayer("m", "a.psb");
    WriteBmp("b.bmp", 4, 4, [](int64_t, int64_t) { return 0xFF102030u; });
    CgImage& other = ModelLayer("o", "b.bmp");
    clear_log_();
    ASSERT_EQ(RunCgFilter(8, Leaf("W0/m.1"), Leaf("W0/o.1"), 0, 0, 1, 1, 0, 0, 1, 0), 0);
    EXPECT_EQ(model.emote_player, nullptr);
    EXPECT_EQ(model.texture_kind, kTextureKindGrid);
    ASSERT_NE(other.emote_player, nullptr);
    EXPECT_EQ(other.texture_kind, kTextureKindEmote);
    EXPECT_EQ(SlotOf(model), nullptr);
    ASSERT_NE(SlotOf(other), nullptr);
    EXPECT_TRUE(Log().empty()) << "the same player, not a new one";

    // The clock now drives it through the other layer; freeing the old
    // layer leaves it alone, freeing the new one releases it.
    RecordEmoteElapsed(100);
    AdvancePendingEmoteTime();
    EXPECT_EQ(TakeLog(), (Lines{"254 p1 6"}));
    FreeLayerNode(Leaf("W0/m.1"));
    EXPECT_TRUE(Log().empty());
    TheLayerGpuRequests().full_redraw = 0;
    FreeLayerNode(Leaf("W0/o.1"));
    EXPECT_EQ(TakeLog(), (Lines{"202 p1"}));
    EXPECT_EQ(TheLayerGpuRequests().full_redraw, 1);
    for (const EmotePlayerSlot& slot : TheEmotePlayerTable().slots) EXPECT_EQ(slot.image, nullptr);
    EXPECT_EQ(live_players_(), 0);
}

TEST_F(EmoteTest, ACopyOntoAModelLayerReleasesThatLayersPlayerFirst) {
    WriteModel("a.psb", "MODEL");
    ModelLayer("a", "a.psb");
    CgImage& b = ModelLayer("b", "a.psb");
    clear_log_();
    ASSERT_EQ(RunCgFilter(9, Leaf("W0/a.1"), Leaf("W0/b.1"), 0, 0, 1, 1, 0, 0, 1, 0), 0);
    EXPECT_EQ(TakeLog(), (Lines{"202 p2"}));
    ASSERT_NE(b.emote_player, nullptr);
    EXPECT_EQ(PollEmotePlayers(), 0);
    EXPECT_EQ(TakeLog(), (Lines{"255 p1", "246 p1 []"})) << "one slot, now for b";
}

// ---------------------------------------------------------------- command 12

TEST_F(EmoteTest, CommandTwelveDrivesTheLayersPlayer) {
    WriteModel("a.psb", "MODEL");
    ModelLayer("m", "a.psb");
    clear_log_();
    const std::string kana = std::string(Sjis("あい"));
    struct Case {
        std::vector<Kw> line;
        Lines calls;
    };
    const std::vector<Case> cases = {
        {{{"textmode", "1"}, {"text", "\"" + kana + "\""}}, {"245 p1 あい 1"}},
        {{{"textmode", "2"}, {"text", "\"walk\""}}, {"247 p1 walk"}},
        {{{"text", "\"walk\""}}, {}},
        {{{"action", "1"}}, {"253 p1"}},
        {{{"action", "2"}}, {}},
        {{{"value1", "2500"}, {"value2", "-10000"}, {"value3", "5000"}}, {"214 p1 0.25", "218 p1 -1", "216 p1 0.5"}},
        {{{"five", "0"}}, {"236 p1"}},
        {{{"five", "1"}}, {"235 p1 0 1 1 1 1"}},
        {{{"five", "1"}, {"five1", "3"}, {"five5", "-2"}}, {"235 p1 3 1 1 1 -2"}},
        // Every part at once, in the command's order.
        {{{"five", "0"}, {"value1", "10000"}, {"action", "1"}, {"textmode", "0"}, {"text", "\"x\""}},
         {"247 p1 x", "253 p1", "214 p1 1", "236 p1"}},
    };
    for (const Case& c : cases) {
        std::vector<Kw> line = {{"name", "\"m\""}, {"no", "1"}};
        line.insert(line.end(), c.line.begin(), c.line.end());
        ASSERT_EQ(Run("emote", line), 0);
        EXPECT_EQ(TakeLog(), c.calls) << c.calls.size();
    }
    ExpectClean();
}

TEST_F(EmoteTest, CommandTwelveSendsNamedValuesUpToTheShorterArrayAndAtMost255) {
    WriteModel("a.psb", "MODEL");
    ModelLayer("m", "a.psb");
    clear_log_();
    auto arrays = [](int count) {
        ASSERT_EQ(FillStringVariable(*FindVariable(1001), VariableShape{1, {count}}, ""), 0);
        ASSERT_EQ(FillRealVariable(*FindVariable(1002), VariableShape{1, {count + 1}}, 0.0), 0);
        for (int i = 0; i < count; ++i) {
            FindVariable(1001)->texts[size_t(i)] = "L" + std::to_string(i);
            FindVariable(1002)->reals[size_t(i)] = i + 0.5;
        }
    };
    arrays(3);
    // count above the labels: three pairs; time 100 ms is 6 frames.
    ASSERT_EQ(Run("emote", {{"name", "\"m\""}, {"no", "1"}, {"labels", "@$1001"}, {"values", "@$1002"},
                            {"count", "5"}, {"time", "100"}}),
              0);
    EXPECT_EQ(TakeLog(), (Lines{"233 p1 L0 0.5 6 0", "233 p1 L1 1.5 6 0", "233 p1 L2 2.5 6 0"}));
    ASSERT_EQ(Run("emote", {{"name", "\"m\""}, {"no", "1"}, {"labels", "@$1001"}, {"values", "@$1002"},
                            {"count", "2"}}),
              0);
    EXPECT_EQ(TakeLog(), (Lines{"233 p1 L0 0.5 0 0", "233 p1 L1 1.5 0 0"})) << "no time: 0 frames";
    // 300 pairs asked for: the list holds 255.
    arrays(300);
    ASSERT_EQ(Run("emote", {{"name", "\"m\""}, {"no", "1"}, {"labels", "@$1001"}, {"values", "@$1002"},
                            {"count", "300"}}),
              0);
    const Lines lines = TakeLog();
    ASSERT_EQ(lines.size(), 255u);
    EXPECT_EQ(lines.back(), "233 p1 L254 254.5 0 0");
    // Without the count, or a negative one, nothing is sent.
    ASSERT_EQ(Run("emote", {{"name", "\"m\""}, {"no", "1"}, {"labels", "@$1001"}, {"values", "@$1002"},
                            {"count", "-4"}}),
              0);
    EXPECT_TRUE(Log().empty());
    ExpectClean();
}

TEST_F(EmoteTest, CommandTwelveWithoutAPlayerDoesNothing) {
    WriteBmp("b.bmp", 2, 2, [](int64_t, int64_t) { return 0xFF000000u; });
    ModelLayer("plain", "b.bmp");
    WriteModel("bad.psb", "BAD");
    ModelLayer("empty", "bad.psb");
    clear_log_();
    for (const char* layer : {"plain", "empty", "missing"}) {
        ASSERT_EQ(Run("emote", {{"name", "\"" + std::string(layer) + "\""}, {"no", "1"}, {"textmode", "1"}, {"text", "\"x\""},
                                {"action", "1"}, {"value1", "1"}, {"five", "1"}}),
                  0)
            << layer;
    }
    EXPECT_TRUE(Log().empty());
}

// ------------------------------------------------------------ the library itself

TEST(EmoteLibraryTest, OnlyACompleteLibraryOfThisInterfaceBesideTheExecutableLoads) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // variant, name
        bool loads;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, false},
        {"the wrapper alone", {{"complete", "VEZoduz.so"}}, false},
        {"the driver alone", {{"complete", "emotedriver.so"}}, false},
        {"an entry point missing", {{"complete", "emotedriver.so"}, {"missing247", "VEZoduz.so"}}, false},
        {"another interface version", {{"complete", "emotedriver.so"}, {"abi2", "VEZoduz.so"}}, false},
        {"other spellings", {{"complete", "EmoteDriver.so"}, {"complete", "vezoduz.so"}}, false},
        {"complete", {{"complete", "emotedriver.so"}, {"complete", "VEZoduz.so"}}, true},
    };
    for (const Case& c : cases) {
        LibraryFolder folder("library");
        for (const auto& [variant, name] : c.files) folder.Put(variant, name);
        EXPECT_EQ(platform::LoadEmoteLibraryFrom(folder.path.string()), c.loads) << c.what;
        EXPECT_EQ(platform::EmoteLibraryAvailable(), c.loads) << c.what;
        EXPECT_EQ(platform::EmoteApi().draw != nullptr, c.loads) << c.what;
        platform::UnloadEmoteLibrary();
    }
    // A folder given relative would be searched for: never.
    EXPECT_FALSE(platform::LoadEmoteLibraryFrom(""));
    EXPECT_FALSE(platform::LoadEmoteLibraryFrom("."));
}

TEST(EmoteLibraryTest, ALibraryInTheCurrentFolderIsNotLoaded) {
    LibraryFolder folder("game");
    folder.Put("complete", "emotedriver.so");
    folder.Put("complete", "VEZoduz.so");
    const fs::path before = fs::current_path();
    fs::current_path(folder.path);
    // The executable (this test) lives elsewhere, without the library.
    EXPECT_FALSE(platform::LoadEmoteLibrary());
    fs::current_path(before);
    EXPECT_FALSE(platform::EmoteLibraryAvailable());
}

// Without the library: the placeholder on the CPU path, and command 12 is
// quiet.
class NoEmoteTest : public LayerCommandTest {
public:
    int32_t RunLine(std::string_view command, const std::vector<Kw>& keywords) { return Run(command, keywords); }

protected:
    void SetUp() override {
        ResetEngine();
        LayerCommandTest::SetUp();
        InstallEmoteCommand();
    }
    void TearDown() override {
        LayerCommandTest::TearDown();
        ResetEngine();
    }
};

TEST_F(NoEmoteTest, AModelFileIsATransparentPlaceholderOnTheCpuPath) {
    std::ofstream(game_ / "a.psb", std::ios::binary) << "MODEL";
    platform::ClearPathCache();
    ASSERT_EQ(Run("layer", {{"name", "\"m\""}, {"no", "1"}, {"file", "\"a.psb\""}}), 0);
    const CgImage& image = *LayerImage(Leaf("W0/m.1"));
    EXPECT_EQ(image.texture_kind, kTextureKindCpu);
    EXPECT_EQ(image.emote_player, nullptr);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(ReadPixel(image, x, y) >> 24, 0u);
    EXPECT_EQ(Run("emote", {{"name", "\"m\""}, {"no", "1"}, {"action", "1"}, {"five", "0"}}), 0);
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_EQ(PollEmotePlayers(), 0);
    EXPECT_EQ(ModelPlayerLoaded(*this), 0);
    ExpectClean();
}

}  // namespace
}  // namespace zk::layer_test
