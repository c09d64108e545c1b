#include "sound/flash_movie.h"

#include "base/sjis.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/variables.h"
#include "storage/file_source.h"

namespace zk {

namespace {

constexpr uint8_t kOpenFile = 0;
constexpr uint8_t kOpenSwitch = 1;
constexpr uint8_t kOpenArea = 2;  // 2..5: x, y, w, h
constexpr uint8_t kOpenValue = 6;
constexpr uint8_t kQueryPlaying = 0;
constexpr uint8_t kQueryVariable = 1;
constexpr uint8_t kQueryArea = 2;  // 2..5
constexpr uint8_t kQueryFrame = 6;
constexpr uint8_t kQueryValue = 7;
constexpr uint8_t kQueryFrames = 8;
constexpr uint8_t kQueryResult = 9;

// The element cleared: 0 for a number variable, the empty text for a text
// variable; nothing outside the variable.
void ClearResult(const CommandArgSlot& result) {
    const ScriptVariable* variable = FindVariable(result.var_number);
    if (variable == nullptr || !ElementInRange(*variable, result.var_element)) return;
    if (variable->type == kVariableText) StoreStringElement(result.var_number, result.var_element, {});
    else if (variable->type == kVariableInteger || variable->type == kVariableReal)
        SetNumberElement(result.var_number, result.var_element, 0);
}

int32_t* AreaField(FlashMovie& movie, uint8_t i) {
    int32_t* fields[] = {&movie.x, &movie.y, &movie.w, &movie.h};
    return fields[i];
}

}  // namespace

FlashMovie& TheFlashMovie() {
    static FlashMovie movie;
    return movie;
}

int32_t CreateFlashControl(std::string_view) {
    // No player: the control cannot be created. The missing-host box is
    // not shown: it would greet the player at every movie for nothing he
    // can change.
    return 0;
}

void ReleaseFlashControl() {
    FlashMovie& movie = TheFlashMovie();
    if (movie.use_count > 0) --movie.use_count;
}

int32_t FlashIsPlaying() { return 0; }
int32_t FlashCurrentFrame() { return 0; }
// With no control nothing is asked and no box is shown.
int32_t FlashAskVariable(std::string_view) { return 0; }

int32_t CmdOpenFlashMovie() {
    if (DecodeCommandArgs(kCmdOpenFlashMovie) != 0) return -1;
    const CommandArgBlock& args = Args();
    FlashMovie& movie = TheFlashMovie();
    for (uint8_t i = 0; i < 4; ++i) {
        if (const CommandArgSlot* slot = args.Find(kOpenArea + i)) {
            int32_t* field = AreaField(movie, i);
            *field = int32_t(ApplyArgOperator(uint8_t(slot->op), *field, slot->value));
        }
    }
    if (const CommandArgSlot* file = args.Find(kOpenFile)) {
        const std::string name = SjisReplaceByte(SjisLowerAscii(file->Text()), '/', '\\');
        for (uint8_t i = 0; i < 4; ++i) {
            if (args.Given(kOpenArea + i)) continue;
            *AreaField(movie, i) = i == 2 ? Settings().screen_width : i == 3 ? Settings().screen_height : 0;
        }
        if (ProbeLooseFile(name) != 1) {
            ReportEngineErrorF(kErrFileMissing, true, {std::string_view(name)});
            return -1;
        }
        movie.file = name;
        movie.open = false;
    }
    const CommandArgSlot* open = args.Find(kOpenSwitch);
    if (open == nullptr || open->value != 1) return 0;
    const CommandArgSlot* value = args.Find(kOpenValue);
    movie.total_frames = CreateFlashControl(movie.file);
    movie.user_value = value != nullptr ? value->value : 0;
    movie.open = true;
    return 0;
}

int32_t CmdCloseFlashMovie() {
    if (DecodeCommandArgs(kCmdCloseFlashMovie) != 0) return -1;
    ReleaseFlashControl();
    FlashMovie& movie = TheFlashMovie();
    movie.file.clear();
    movie.open = false;
    movie.user_value = 0;
    movie.total_frames = 0;
    return 0;
}

int32_t CmdQueryFlashMovie() {
    if (DecodeCommandArgs(kCmdQueryFlashMovie) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(kQueryResult);
    FlashMovie& movie = TheFlashMovie();
    int64_t answer = 0;
    bool needs_open = false;
    if (args.Given(kQueryPlaying)) {
        answer = FlashIsPlaying();
    } else if (args.Given(kQueryVariable)) {
        answer = FlashAskVariable("zorvik");
    } else if (args.Given(kQueryArea) || args.Given(kQueryArea + 1) || args.Given(kQueryArea + 2) ||
               args.Given(kQueryArea + 3)) {
        uint8_t i = 0;
        while (!args.Given(kQueryArea + i)) ++i;
        answer = *AreaField(movie, i);
    } else if (args.Given(kQueryFrame)) {
        needs_open = true;
        answer = FlashCurrentFrame();
    } else if (args.Given(kQueryValue)) {
        needs_open = true;
        answer = movie.user_value;
    } else if (args.Given(kQueryFrames)) {
        needs_open = true;
        answer = movie.total_frames;
    } else {
        return 0;
    }
    if (result == nullptr) return 0;
    if (needs_open && !movie.open) {
        ClearResult(*result);
        return 0;
    }
    SetNumberElement(result->var_number, result->var_element, answer);
    return 0;
}

void RegisterFlashCommands() {
    RegisterCommandHandler(kCmdOpenFlashMovie, CmdOpenFlashMovie);
    RegisterCommandHandler(kCmdCloseFlashMovie, CmdCloseFlashMovie);
    RegisterCommandHandler(kCmdQueryFlashMovie, CmdQueryFlashMovie);
}

void ResetFlashMovie() { TheFlashMovie() = FlashMovie{}; }

}  // namespace zk
