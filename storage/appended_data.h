// Data appended to the executable: a game shipped as one file carries its
// pack behind a small "ZKER" block, and the resource ZK_RES says where that
// block begins.
//
// The block, at offset V (ZK_RES's first uint32) of the executable:
//   "ZKER", uint32 pack offset P (from V), uint32 preview size S (non-zero
//   makes a screen-saver build), 4 bytes not read, the S preview bytes.
// The pack begins at V + P. An executable that carries nothing has V = 4 or
// V = its own size.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zk {

inline constexpr std::string_view kAppendedMagic = "ZKER";
constexpr uint32_t kAppendedHeaderBytes = 16;
constexpr uint32_t kAppendedResourceId = 201;  // resource "ZK_RES"
// V when nothing is appended (the build's default).
constexpr uint32_t kNothingAppended = 4;

// Filled once at start-up, read-only afterwards.
struct AppendedDataState {
    uint32_t block_offset = 0;      // V, from ZK_RES
    uint64_t executable_size = 0;
    uint64_t pack_offset = 0;       // P, relative to V; 0 when the magic is absent
    bool screen_saver = false;      // preview size S != 0
    uint32_t preview_size = 0;      // S
    bool appended = false;          // the appended-data flag
};
AppendedDataState& TheAppendedData();

// Where the appended pack begins in the executable (V + P).
inline uint64_t AppendedPackBase() {
    return uint64_t{TheAppendedData().block_offset} + TheAppendedData().pack_offset;
}

// Reads ZK_RES and the executable (/proc/self/exe). -1: start-up must end,
// the resource is missing ("FS" shown); 1: appended data is present (the
// appended-data and release-data flags are set); 0: none.
int DetectAppendedData();

// The same check on given inputs: the resource's bytes (nullopt when the
// executable has no ZK_RES) and the executable as a game path.
int DetectAppendedDataIn(std::optional<std::span<const uint8_t>> resource, std::string_view executable_path);

// Whether the running executable carries appended data, decided as
// DetectAppendedData decides it but without changing any state or showing
// anything. The launcher asks it before start-up: a single-file game's game
// folder is the executable's own folder.
bool ExecutableHasAppendedData();

}  // namespace zk
