// The sound commands: 89 makes channels and groups and posts requests to
// the sound thread, 90 deletes them, 91 answers questions about a channel.
// They run on the script's thread; every channel field they touch is read
// or written under EngineLock, and every wait happens outside it.
#include "sound/sound_commands.h"

#include <mutex>
#include <string>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"
#include "sound/sound_system.h"
#include "storage/asset_name.h"

namespace zk {

namespace {

// The node that keyword 0 names: false after a report when the path is
// refused; `node` null when there is none.
bool FindSoundNode(const CommandArgSlot* path_slot, std::string& path, bool& group, NamedTreeNode*& node) {
    const std::string_view name = path_slot != nullptr ? path_slot->Text() : std::string_view();
    const int32_t kind = NormaliseNodePath(path, name, TheRootTrees().sound_folder, false);
    if (kind < 0) return false;
    group = kind == 1;
    std::lock_guard lock(EngineLock);
    node = TheRootTrees().sounds != nullptr ? FindNodeByPath(TheRootTrees().sounds, path, group ? kFindGroup : kFindLeaf)
                                            : nullptr;
    return true;
}

uint8_t ChannelState(NamedTreeNode* node) {
    std::lock_guard lock(EngineLock);
    const SoundChannel* channel = ChannelOf(node);
    return channel != nullptr ? channel->state : uint8_t{kSoundIdle};
}

int32_t Value(const CommandArgSlot* slot) { return slot != nullptr ? static_cast<int32_t>(slot->value) : 0; }

// Keyword 2: the old sound stopped, the new one resolved and loaded.
// 0 done (or nothing to load), -1 after a report.
int32_t LoadChannelFile(NamedTreeNode* node, std::string_view file) {
    if (ChannelState(node) != kSoundIdle) {
        PostSoundRequest(node, kSoundStop, 0);
        WaitChannelIdle(node);
    }
    std::string name(file);
    std::string resolved;
    FileSource source;
    const int32_t found = ResolveAssetName(source, resolved, name, kAssetModeSound);
    if (found < 0) return -1;
    if (found != 0) return 0;
    const uint8_t kind = source.kind != 0 ? source.kind : static_cast<uint8_t>(KindByExtension(resolved));
    uint8_t format = kSoundFormatNone;
    if (kind == kFileKindWav) format = kSoundFormatWave;
    if (kind == kFileKindOgg) format = kSoundFormatOgg;
    if (format == kSoundFormatNone) {
        const std::string command(CommandName(kCmdControlSound));
        ReportScriptErrorF(kErrUnknownFileKind, true, {command, resolved});
        return -1;
    }
    {
        std::lock_guard lock(EngineLock);
        if (SoundChannel* channel = ChannelOf(node)) channel->format = format;
    }
    WaitSoundRequest(PostSoundRequest(node, kSoundLoad, 0, resolved));
    return 0;
}

// Frees a node once every request that names it has run; a request still
// in the ring (the thread gone) is cleared so nothing reaches the freed node.
void DeleteSoundNode(NamedTreeNode* node) {
    WaitSoundRequest(PostSoundRequest(node, kSoundStop, 0));
    std::lock_guard lock(EngineLock);
    SoundRequestQueue& queue = TheSoundQueue();
    for (int32_t slot = queue.read_index; slot != queue.write_index; slot = (slot + 1) % kSoundRingSlots) {
        if (IsInSubtree(queue.channel[static_cast<size_t>(slot)], node)) queue.channel[static_cast<size_t>(slot)] = nullptr;
    }
    UnlinkTreeNode(node);
    FreeTreeNode(node);
}

// Children before their parents, depth first.
void DeleteSoundDescendants(NamedTreeNode* group) {
    for (;;) {
        NamedTreeNode* child = nullptr;
        {
            std::lock_guard lock(EngineLock);
            child = group->first_child;
        }
        if (child == nullptr) return;
        if (child->group != 0) DeleteSoundDescendants(child);
        DeleteSoundNode(child);
    }
}

// An element index outside the variable stores nothing and is no error.
bool ElementOutOfRange(const CommandArgSlot& result) {
    const ScriptVariable* variable = FindVariable(result.var_number);
    return variable == nullptr || !ElementInRange(*variable, result.var_element);
}

bool IsTextVariable(uint32_t number) {
    const ScriptVariable* variable = FindVariable(number);
    return variable != nullptr && variable->type == kVariableText;
}

// The element cleared: 0 for a number variable, the empty text for a text
// variable; nothing outside the variable.
void ClearResult(const CommandArgSlot& result) {
    const ScriptVariable* variable = FindVariable(result.var_number);
    if (variable == nullptr || !ElementInRange(*variable, result.var_element)) return;
    if (variable->type == kVariableText) StoreStringElement(result.var_number, result.var_element, {});
    else if (variable->type == kVariableInteger || variable->type == kVariableReal)
        SetNumberElement(result.var_number, result.var_element, 0);
}

}  // namespace

int32_t PeakLevel(const SoundChannel& channel, bool second) {
    if (!channel.buffer) return -1;
    const uint16_t channels = channel.channels;
    const uint16_t bits = channel.bits;
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return -1;
    const uint32_t frame = channels * bits / 8u;
    uint32_t play = 0, write = 0;
    channel.buffer->GetCurrentPosition(play, write);
    auto lock = channel.buffer->LockBytes(play, frame);
    if (lock.size() < frame) return -1;
    auto byte = [&](size_t i) { return i < lock.part1.size() ? lock.part1[i] : lock.part2[i - lock.part1.size()]; };
    const size_t sample = second && channels == 2 ? 1 : 0;
    if (bits == 16) {
        const int16_t value = static_cast<int16_t>(static_cast<uint16_t>(byte(2 * sample) | (byte(2 * sample + 1) << 8)));
        return value < 0 ? -int32_t{value} : value;
    }
    const int32_t value = int32_t{byte(sample)} - 128;
    return value < 0 ? -value : value;
}

int32_t CmdControlSound() {
    if (DecodeCommandArgs(kCmdControlSound) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (Settings().sound == 0) return 0;
    std::string path;
    bool group = false;
    NamedTreeNode* node = nullptr;
    if (!FindSoundNode(args.Find(0), path, group, node)) return -1;
    if (node == nullptr) {
        if (group && args.Given(2)) {
            const std::string command(CommandName(kCmdControlSound));
            ReportScriptErrorF(kErrSoundGroupWithFile, true, {command});
            return -1;
        }
        if (!group && !args.Given(2)) return 0;
        std::lock_guard lock(EngineLock);
        node = CreateTreeNode(TheRootTrees().sounds, path, group, 1);
        if (node == nullptr) return -1;
        if (!CreateSoundChannel(node)) {
            UnlinkTreeNode(node);
            FreeTreeNode(node);
            return -1;
        }
    }
    if (const CommandArgSlot* file = args.Find(2)) {
        const std::string name(file->Text());  // the block may be decoded again while waiting
        if (LoadChannelFile(node, name) != 0) return -1;
    }
    // Copy what is needed before any wait: the argument block is shared.
    const auto given = [&](uint32_t k) { return args.Given(k); };
    const auto value = [&](uint32_t k) { return Value(args.Find(k)); };
    if (given(1)) {
        int32_t volume = 0;
        {
            std::lock_guard lock(EngineLock);
            SoundChannel* channel = ChannelOf(node);
            channel->audible = static_cast<uint8_t>(value(1));
            volume = channel->volume;
        }
        PostSoundRequest(node, kSoundVolume, volume);
    }
    if (given(6)) PostSoundRequest(node, kSoundStartTime, value(6));
    if (given(7)) PostSoundRequest(node, kSoundLoopStart, value(7));
    if (given(8)) PostSoundRequest(node, kSoundEndTime, value(8));
    if (given(9)) {
        {
            std::lock_guard lock(EngineLock);
            ChannelOf(node)->play_count_limit = value(9);
        }
        PostSoundRequest(node, kSoundLoopCount, value(9));
    }
    if (given(11)) PostSoundRequest(node, kSoundPan, value(11));
    if (given(12)) PostSoundRequest(node, kSoundSpeed, value(12));
    if (given(13)) PostSoundRequest(node, kSoundSync, value(13));
    const bool play_given = given(3);
    const int32_t play = value(3);
    const int32_t fade = value(5);
    const bool pause_given = given(4);
    const int32_t pause = value(4);
    if (given(10)) PostSoundRequest(node, play_given ? kSoundFadeTarget : kSoundVolume, value(10));
    if (play_given) {
        if (play == 1) WaitSoundRequest(PostSoundRequest(node, kSoundPlay, fade));
        else PostSoundRequest(node, kSoundFadeOut, fade);
    }
    if (pause_given) WaitSoundRequest(PostSoundRequest(node, kSoundPause, pause == 1 ? 1 : 0));
    return 0;
}

int32_t CmdDeleteSoundChannel() {
    if (DecodeCommandArgs(kCmdDeleteSoundChannel) != 0) return -1;
    std::string path;
    bool group = false;
    NamedTreeNode* node = nullptr;
    if (!FindSoundNode(Args().Find(0), path, group, node)) return -1;
    if (node == nullptr) return 0;
    if (group) DeleteSoundDescendants(node);
    DeleteSoundNode(node);
    return 0;
}

int32_t CmdQuerySoundChannel() {
    if (DecodeCommandArgs(kCmdQuerySoundChannel) != 0) return -1;
    const CommandArgBlock& args = Args();
    std::string path;
    bool group = false;
    NamedTreeNode* node = nullptr;
    if (!FindSoundNode(args.Find(0), path, group, node)) return -1;
    const CommandArgSlot* result = args.Find(23);
    if (result == nullptr) return 0;
    std::lock_guard lock(EngineLock);
    const SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) {
        ClearResult(*result);
        return 0;
    }
    bool failed = false;
    auto number = [&](int64_t v) {
        if (SetNumberElement(result->var_number, result->var_element, v) != 0 && !ElementOutOfRange(*result))
            failed = true;
    };
    for (uint32_t k = 1; k <= 7; ++k) {
        if (!args.Given(k)) continue;
        switch (k) {
            case 1: number(channel->format != kSoundFormatNone ? 1 : 0); break;
            case 2: number(channel->audible); break;
            case 3: number(channel->state >= kSoundRamping ? 1 : 0); break;
            case 4: number(channel->paused); break;
            case 5: number(channel->volume); break;
            case 6: number(channel->pan); break;
            case 7: number(channel->speed); break;
        }
        return failed ? -1 : 0;
    }
    for (uint32_t k : {9u, 8u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 18u, 19u, 20u, 21u, 22u}) {
        if (!args.Given(k)) continue;
        switch (k) {
            case 9: number(channel->format); break;
            case 8:
                if (SetStringElement(result->var_number, result->var_element, channel->name) != 0 &&
                    !ElementOutOfRange(*result))
                    return -1;
                break;
            case 10: number(channel->start); break;
            case 11: number(channel->loop_start); break;
            case 12: number(channel->end); break;
            case 13: number(channel->play_count_limit); break;
            case 14: number(channel->plays_done); break;
            case 15:
                if (channel->bytes_per_second == 0) {
                    if (IsTextVariable(result->var_number)) {
                        ReportScriptErrorF(kErrWrongVariableType, true, {});
                        return -1;
                    }
                    ClearResult(*result);
                } else {
                    number(channel->bytes_played * 1000 / channel->bytes_per_second);
                }
                break;
            case 16: number(channel->length); break;
            case 17: number(channel->channels); break;
            case 18: number(channel->bits); break;
            case 19: number(channel->rate); break;
            case 20: number(PeakLevel(*channel, false)); break;
            case 21: number(PeakLevel(*channel, true)); break;
            case 22: number(channel->data_kind); break;
        }
        if (failed) return -1;
    }
    return 0;
}

void RegisterSoundCommands() {
    RegisterCommandHandler(kCmdControlSound, CmdControlSound);
    RegisterCommandHandler(kCmdDeleteSoundChannel, CmdDeleteSoundChannel);
    RegisterCommandHandler(kCmdQuerySoundChannel, CmdQuerySoundChannel);
}

}  // namespace zk
