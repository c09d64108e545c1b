// The script's EDIT field on window 0 of the headless window system: text
// and composition events of the input list reach the focused field, the
// editing keys and Ctrl+V edit it while the key-state arrays still see the
// keys, the field is drawn over the presented picture, and it ends with
// window 0.
#include <gtest/gtest.h>

#include <unistd.h>

#include "base/text_encoding.h"
#include "core/engine_state.h"
#include "core/window_record.h"
#include "engine/engine_reset.h"
#include "engine/window_proc.h"
#include "layers/cg_image.h"
#include "platform/headless_window_system.h"
#include "platform/input_script.h"
#include "platform/ui.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "renderer/script_edit_overlay.h"
#include "system/script_edit.h"

namespace zk {
namespace {

using platform::InputEvent;
using Kind = InputEvent::Kind;

InputEvent Typed(Kind kind, const std::string& text) {
    InputEvent event;
    event.kind = kind;
    event.files = {text};
    return event;
}
InputEvent Key(Kind kind, int32_t key) {
    InputEvent event;
    event.kind = kind;
    event.a = key;
    return event;
}

class ScriptEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallWindowSystem(&windows_);
        platform::InstallUi(&ui_);
        ASSERT_EQ(CreateWindowRecords(), 0);
        main_ = GetWindowRecord(0);
        main_->client_width = 64;
        main_->client_height = 32;
        SetupWindowRecord(*main_, "main");
        const std::string name = "zktest-edit-" + std::to_string(getpid());
        ASSERT_TRUE(windows_.RegisterClass(name, EngineWindowProc));
        platform::WindowCreateParams params;
        params.class_name = name;
        params.width = 64;
        params.height = 32;
        main_->window = windows_.CreateWindow(params);
        windows_.SetUserData(main_->window, main_);
        windows_.ShowWindow(main_->window, platform::SW_SHOW);
        windows_.InjectInput(Key(Kind::kActivate, 0));
        Drain();
    }
    void TearDown() override {
        DestroyWindowRecords();
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        ResetEngine();
    }
    void Drain() {
        platform::Message m;
        while (windows_.PeekMessage(m, true)) windows_.DispatchMessage(m);
    }

    platform::HeadlessWindowSystem windows_;
    platform::RecordingUi ui_;
    WindowRecord* main_ = nullptr;
};

TEST_F(ScriptEditTest, InputListLinesForText) {
    std::string error;
    const auto events = platform::ParseInputScript("2 text hello world\n3 compose " + std::string("かな") + "\n", error);
    ASSERT_TRUE(events) << error;
    ASSERT_EQ(events->size(), 2u);
    EXPECT_EQ((*events)[0].kind, Kind::kText);
    EXPECT_EQ((*events)[0].files, std::vector<std::string>{"hello world"});
    EXPECT_EQ((*events)[1].kind, Kind::kCompose);
}

TEST_F(ScriptEditTest, TypedTextReachesTheFocusedField) {
    CreateScriptEdit("ab", 4, 4, 56, 20);
    windows_.InjectInput(Typed(Kind::kText, "x"));
    Drain();
    EXPECT_EQ(GetScriptEditText(), "ab") << "no focus: nothing typed";
    FocusScriptEdit(true);
    windows_.InjectInput(Typed(Kind::kCompose, "か"));
    Drain();
    EXPECT_EQ(ScriptEditState().composition, Utf8ToCp932("か"));
    windows_.InjectInput(Typed(Kind::kText, "漢z"));
    Drain();
    EXPECT_EQ(GetScriptEditText(), Utf8ToCp932("漢z") + "ab");
    EXPECT_EQ(ScriptEditState().composition, "");
    // Editing keys; the key-state arrays still see them.
    windows_.InjectInput(Key(Kind::kKeyDown, platform::VK_END));
    windows_.InjectInput(Key(Kind::kKeyDown, platform::VK_BACK));
    Drain();
    EXPECT_EQ(GetScriptEditText(), Utf8ToCp932("漢z") + "a");
    platform::KeyboardState keys{};
    windows_.GetKeyboardState(keys);
    EXPECT_NE(keys[platform::VK_BACK] & 0x80, 0);
    windows_.InjectInput(Key(Kind::kKeyDown, platform::VK_HOME));
    windows_.InjectInput(Key(Kind::kKeyDown, platform::VK_DELETE));
    Drain();
    EXPECT_EQ(GetScriptEditText(), "za");
    // Window 0 destroyed: the field ends with it.
    windows_.DestroyWindow(main_->window);
    Drain();
    EXPECT_FALSE(ScriptEditState().exists);
}

// The shown part follows the caret: 36 pixels of room show five
// half-width characters before the caret, and Home scrolls back.
TEST_F(ScriptEditTest, HorizontalScrollingFollowsTheCaret) {
    CreateScriptEdit(std::string(20, 'a'), 0, 0, 40, 18);
    FocusScriptEdit(true);
    ScriptEditKey(platform::VK_END);
    ScriptEditScrollToCaret(ScriptEditTextWidth);
    EXPECT_EQ(ScriptEditState().scroll, 15u);
    ScriptEditKey(platform::VK_HOME);
    ScriptEditScrollToCaret(ScriptEditTextWidth);
    EXPECT_EQ(ScriptEditState().scroll, 0u);
    // Double-byte characters scroll whole.
    SetScriptEditText(Utf8ToCp932("漢字漢字漢字"));
    ScriptEditKey(platform::VK_END);
    ScriptEditScrollToCaret(ScriptEditTextWidth);
    EXPECT_EQ(ScriptEditState().scroll, 8u);
}

TEST_F(ScriptEditTest, FieldIsDrawnOverThePicture) {
    CreateScriptEdit("", 8, 6, 40, 18);
    FocusScriptEdit(true);
    ASSERT_TRUE(AllocateCpuBackBuffer(64, 32));
    CgImage image;
    image.width = 64;
    image.height = 32;
    ASSERT_TRUE(AllocCgPixels(image, 64, 32));
    std::fill(image.owned_block.data(), image.owned_block.data() + image.owned_block.size(), uint8_t{0x20});
    image.presented_rect = {0, 0, 63, 31};
    PresentWindowImage(*main_, image);
    platform::ClientImage client;
    ASSERT_TRUE(windows_.ReadClientPixels(main_->window, client));
    auto pixel = [&](int x, int y) { return client.pixels[(size_t(y) * size_t(client.width) + size_t(x)) * 4]; };
    EXPECT_EQ(pixel(2, 2), 0x20) << "the picture around the field";
    EXPECT_EQ(pixel(8, 6), 0x80) << "the field's edge";
    EXPECT_EQ(pixel(30, 20), 0xFF) << "the field's white inside";
    EXPECT_EQ(pixel(8 + 2, 6 + 3), 0x00) << "the caret at the start";
    // Rendering alone: the composition is underlined.
    ScriptEditField field = ScriptEditState();
    field.composition = "ab";
    const std::vector<uint8_t> pixels = RenderScriptEdit(field);
    const int underline_y = (18 - kScriptEditFontHeight) / 2 + kScriptEditFontHeight;
    EXPECT_EQ(pixels[(size_t(underline_y) * 40 + 4) * 4], 0x00);
}

}  // namespace
}  // namespace zk
