// The DirectX major version a game reads as system variable 3, found from
// the file versions of system libraries. Where the libraries come from is
// a provider: on this engine's systems the default one answers as a system
// whose DirectX 9 files are present (the engine's OpenGL back end stands
// in for Direct3D 9), so games that check for 8 or 9 run; tests install
// their own provider to drive the table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zk {

// ReadFileVersion's results.
inline constexpr int32_t kVersionOk = 0;
inline constexpr int32_t kVersionInvalidArg = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
inline constexpr int32_t kVersionFail = static_cast<int32_t>(0x80004005u);        // E_FAIL
inline constexpr int32_t kVersionOutOfMemory = static_cast<int32_t>(0x8007000Eu);  // E_OUTOFMEMORY

// Where the version of a system file comes from: the system folder (none:
// it cannot be had), and a file's version by its path in that folder with
// the ReadFileVersion contract (0 and the version; negative on failure).
struct FileVersionProvider {
    std::optional<std::string> (*system_folder)() = nullptr;
    int32_t (*read)(std::string_view path, uint64_t& version) = nullptr;
};
// The provider GetDirectXVersion asks; null fields restore the default.
void SetFileVersionProvider(const FileVersionProvider& provider);

// The file's version through the provider: E_INVALIDARG for a missing
// argument (empty path or null out), else what the provider answers.
int32_t ReadFileVersion(std::string_view path, uint64_t* version);

// The DirectX major version: 0 (none found), 1, 2, 3, 5, 6, 7, 8 or 9.
int32_t GetDirectXVersion();

}  // namespace zk
