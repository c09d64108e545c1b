// The registry the scripts read (command 78) and delete from (command 116
// codes 33, 36, 37): a small key store of our own in REGEDIT4 text, the
// form Windows exports, in CP932. Key paths and value names compare
// ignoring ASCII case.
//
// HKEY_CURRENT_USER lives in $XDG_CONFIG_HOME/zorvek/user.reg (shared by
// every game, as the registry is); HKEY_LOCAL_MACHINE in machine.reg beside
// it, opened with full access only by the effective user 0. The engine
// never adds values: the user writes the files (or imports an export from
// Windows). Deletions rewrite the file atomically (a temporary file renamed
// over the old one).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

enum class RegistryRoot : uint8_t {
    kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kPerformanceData, kCurrentConfig, kDynData,
};

// Value types as REGEDIT4 writes them.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

struct RegistryValue {
    std::string name;  // as written; "" for the default value
    uint32_t type = kRegSz;
    std::vector<uint8_t> data;  // the bytes a read returns (a text with its NUL)
};

struct RegistryKey {
    std::string path;  // "HKEY_CURRENT_USER\Software\X", as written
    std::vector<RegistryValue> values;
};

// Keys by their lower-cased path.
struct RegistryStore {
    std::map<std::string, RegistryKey> keys;
};

// Parses REGEDIT4 text; lines it does not understand are skipped. Never
// fails: untrusted text gives the keys it could read.
RegistryStore ParseRegistryText(std::span<const uint8_t> text);
std::string SerializeRegistryText(const RegistryStore& store);

// The root named by a key path's case-sensitive prefix ("HKEY_CURRENT_USER\"
// and the six others) and the sub key after it; nullopt when none matches.
struct RegistryPath {
    RegistryRoot root;
    std::string sub_key;
};
std::optional<RegistryPath> SplitRegistryPath(std::string_view key_path);

// Reads a value into at most `buffer_size` bytes. nullopt when the root's
// store cannot be opened with full access, the key or value is missing, or
// the value does not fit.
std::optional<std::vector<uint8_t>> ReadRegistryValue(RegistryRoot root, std::string_view sub_key,
                                                      std::string_view value_name, size_t buffer_size);
// 0 or -1, as the system command's deletions answer.
int32_t DeleteUserRegistryValue(std::string_view sub_key, std::string_view value_name);
int32_t DeleteMachineRegistryValue(std::string_view sub_key, std::string_view value_name);
int32_t DeleteMachineRegistryKey(std::string_view sub_key);

// Whether the process may open the machine store with full access (the
// effective user 0); tests replace it.
std::function<bool()>& MachineAccessCheck();
// The folder of the store files (host path).
std::string RegistryFolder();

}  // namespace zk
