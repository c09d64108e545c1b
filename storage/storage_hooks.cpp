#include "core/engine_hooks.h"
#include "storage/appended_data.h"
#include "storage/asset_name.h"
#include "storage/codec_loading.h"
#include "storage/compiler_link.h"
#include "storage/descramble.h"
#include "storage/file_source.h"
#include "storage/pack_index.h"
#include "storage/pack_loader.h"

namespace zk {

// Plugs this subsystem into start-up, the frame step and shutdown, and
// gives the file sources their pack source.
void RegisterStorageHooks() {
    EngineHooks& hooks = Hooks();
    hooks.load_codec_libraries = &LoadCodecLibraries;
    hooks.unload_codec_libraries = &UnloadCodecLibraries;
    hooks.detect_appended_data = &DetectAppendedData;
    hooks.build_descramble_tables = [] { BuildDescrambleTables(); };
    hooks.build_pack_index = [] { return static_cast<int>(BuildPackIndex()); };
    // Packed configuration and appended data both make the data released.
    hooks.pack_index_holds_config = [] { return ReleaseDataFlag(); };
    hooks.appended_data_present = [] { return TheAppendedData().appended; };
    hooks.screen_saver_build = [] { return TheAppendedData().screen_saver; };
    hooks.run_compiler_link = [](void (*while_compiling)()) { return RunCompilerLink(while_compiling); };

    FileSourceHooks& sources = TheFileSourceHooks();
    sources.probe_compiler_list = &ProbeCompilerList;
    sources.load_compiler_list_file = &LoadCompilerListFile;
    sources.probe_pack_index = &ProbePackIndex;
    sources.load_pack_entry = &LoadPackEntry;
    sources.kind_by_extension = [](std::string_view name) -> uint8_t { return KindByExtension(name); };
}

}  // namespace zk
