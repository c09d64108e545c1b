#include "platform/emote_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace zk::platform {

namespace {

struct LibraryCloser {
    void operator()(void* handle) const {
        if (handle != nullptr) dlclose(handle);
    }
};
using Library = std::unique_ptr<void, LibraryCloser>;

Library emote_module;
EmoteApiTable emote_api;

// The full path only: a name without a '/' would make dlopen search.
Library OpenLibrary(const std::filesystem::path& path) {
    if (!path.is_absolute()) return Library();
    return Library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
}

// Each entry by its exported name; false as soon as one is missing.
class EntryReader {
public:
    explicit EntryReader(void* module) : module_(module) {}
    template <class Fn>
    void Take(Fn& entry, const char* name) {
        void* symbol = dlsym(module_, name);
        if (symbol == nullptr) complete_ = false;
        // A data pointer from dlsym becomes a function pointer: POSIX
        // guarantees the round trip.
        entry = reinterpret_cast<Fn>(symbol);
    }
    bool Complete() const { return complete_; }

private:
    void* module_;
    bool complete_ = true;
};

bool ReadEntries(void* module, EmoteApiTable& api) {
    EntryReader reader(module);
    int32_t (*abi_version)() = nullptr;
    reader.Take(abi_version, "zkemote_abi_version");
    reader.Take(api.create_driver, "zkemote_2");
    reader.Take(api.release_driver, "zkemote_102");
    reader.Take(api.set_up_driver, "zkemote_110");
    reader.Take(api.load_player, "zkemote_119");
    reader.Take(api.release_player, "zkemote_202");
    reader.Take(api.player_loaded, "zkemote_205");
    reader.Take(api.set_value_214, "zkemote_214");
    reader.Take(api.set_value_216, "zkemote_216");
    reader.Take(api.set_value_218, "zkemote_218");
    reader.Take(api.set_position, "zkemote_220");
    reader.Take(api.set_scale, "zkemote_222");
    reader.Take(api.set_rotation, "zkemote_224");
    reader.Take(api.set_named_value, "zkemote_233");
    reader.Take(api.set_five_values, "zkemote_235");
    reader.Take(api.clear_five_values, "zkemote_236");
    reader.Take(api.text_action_1, "zkemote_245");
    reader.Take(api.needs_redraw_for, "zkemote_246");
    reader.Take(api.text_action, "zkemote_247");
    reader.Take(api.action_253, "zkemote_253");
    reader.Take(api.advance, "zkemote_254");
    reader.Take(api.needs_redraw, "zkemote_255");
    reader.Take(api.draw, "zkemote_256");
    return reader.Complete() && abi_version() == ZKEMOTE_ABI_VERSION;
}

}  // namespace

bool LoadEmoteLibraryFrom(std::string_view folder) {
    UnloadEmoteLibrary();
    const std::filesystem::path base(folder);
    // The vendor's driver must be there; the wrapper loads it itself.
    if (OpenLibrary(base / "emotedriver.so") == nullptr) return false;
    Library module = OpenLibrary(base / "VEZoduz.so");
    if (module == nullptr) return false;
    EmoteApiTable api;
    if (!ReadEntries(module.get(), api)) return false;
    emote_module = std::move(module);
    emote_api = api;
    return true;
}

bool LoadEmoteLibrary() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) return false;
    return LoadEmoteLibraryFrom(executable.parent_path().string());
}

void UnloadEmoteLibrary() {
    emote_api = EmoteApiTable{};
    emote_module.reset();
}

bool EmoteLibraryAvailable() { return emote_module != nullptr; }

const EmoteApiTable& EmoteApi() { return emote_api; }

}  // namespace zk::platform
