#include "layers/emote_command.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/named_tree.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/emote_players.h"
#include "layers/layer_command.h"
#include "platform/emote_library.h"
#include "script/command_table.h"
#include "script/variables.h"

namespace zk {

namespace {

// The labels and values of one command: label pointers into the text
// variable, the list ending at the first entry without one.
struct EmotePair {
    const char* label = nullptr;
    float value = 0.0f;
};
std::array<EmotePair, kMaxEmotePairs + 1> pair_list{};

float Value(const CommandArgBlock& args, uint8_t keyword, float fallback) {
    const CommandArgSlot* slot = args.Find(keyword);
    return slot != nullptr ? static_cast<float>(slot->value) : fallback;
}

// Keywords 2..4: ten-thousandths.
float Ratio(const CommandArgBlock& args, uint8_t keyword) {
    return static_cast<float>(static_cast<double>(args.Find(keyword)->value) / 10000.0);
}

void SendNamedValues(const CommandArgBlock& args, void* handle) {
    const ScriptVariable* labels = FindVariable(args.Find(kEmoteLabels)->var_number);
    const ScriptVariable* values = FindVariable(args.Find(kEmoteValues)->var_number);
    int64_t n = args.Given(kEmoteCount) ? args.Find(kEmoteCount)->value : 0;
    // A variable of another type has no elements of the kind read here.
    const int64_t label_count = labels != nullptr && labels->type == kVariableText ? int64_t(labels->texts.size()) : 0;
    const int64_t value_count = values != nullptr && values->type == kVariableReal ? int64_t(values->reals.size()) : 0;
    n = std::clamp<int64_t>(n, 0, std::min({label_count, value_count, kMaxEmotePairs}));
    pair_list.fill(EmotePair{});
    for (int64_t i = 0; i < n; ++i) {
        pair_list[size_t(i)] = {labels->texts[size_t(i)].c_str(), static_cast<float>(values->reals[size_t(i)])};
    }
    const float frames = args.Given(kEmoteFrames) ? static_cast<float>(static_cast<double>(args.Find(kEmoteFrames)->value) * 0.06) : 0.0f;
    const platform::EmoteApiTable& api = platform::EmoteApi();
    for (const EmotePair& pair : pair_list) {
        if (pair.label == nullptr) break;
        CallEmote(api.set_named_value, handle, pair.label, pair.value, frames, 0.0f);
    }
}

}  // namespace

int32_t CmdControlEmotePlayer() {
    if (DecodeCommandArgs(kCmdControlEmotePlayer) != 0) return -1;
    const CommandArgBlock& args = Args();
    const std::optional<AddressedLayer> layer = FindAddressedLayer(args);
    if (!layer) return -1;
    CgImage* image = LayerImage(layer->node);
    if (image == nullptr) return 0;
    // Every call needs the layer's player.
    void* handle = image->emote_player != nullptr ? image->emote_player->handle : nullptr;
    if (handle == nullptr || !EmoteAvailable()) return 0;
    const platform::EmoteApiTable& api = platform::EmoteApi();

    if (args.Given(kEmoteText) && args.Given(kEmoteTextMode)) {
        const CommandArgSlot* text = args.Find(kEmoteText);
        const std::string utf8 = ShiftJisToUtf8(text->Text().substr(0, text->Text().find('\0')));
        if (args.Find(kEmoteTextMode)->value == 1) {
            CallEmote(api.text_action_1, handle, utf8.c_str(), 1.0f);
        } else {
            CallEmote(api.text_action, handle, utf8.c_str());
        }
    }
    if (args.Given(kEmoteAction) && args.Find(kEmoteAction)->value == 1) CallEmote(api.action_253, handle);
    if (args.Given(kEmoteValue214)) CallEmote(api.set_value_214, handle, Ratio(args, kEmoteValue214));
    if (args.Given(kEmoteValue218)) CallEmote(api.set_value_218, handle, Ratio(args, kEmoteValue218));
    if (args.Given(kEmoteValue216)) CallEmote(api.set_value_216, handle, Ratio(args, kEmoteValue216));
    if (args.Given(kEmoteFive)) {
        if (args.Find(kEmoteFive)->value == 0) {
            CallEmote(api.clear_five_values, handle);
        } else {
            CallEmote(api.set_five_values, handle, Value(args, kEmoteFive1, 0.0f), Value(args, kEmoteFive1 + 1, 1.0f),
                      Value(args, kEmoteFive1 + 2, 1.0f), Value(args, kEmoteFive1 + 3, 1.0f),
                      Value(args, kEmoteFive1 + 4, 1.0f));
        }
    }
    if (args.Given(kEmoteLabels) && args.Given(kEmoteValues)) SendNamedValues(args, handle);
    return 0;
}

void InstallEmoteCommand() { RegisterCommandHandler(kCmdControlEmotePlayer, CmdControlEmotePlayer); }

}  // namespace zk
