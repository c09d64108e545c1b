#include "system/registry_store.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/ascii.h"
#include "base/sjis.h"
#include "platform/process_launch.h"

namespace zk {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUserRoot = "HKEY_CURRENT_USER";
constexpr std::string_view kMachineRoot = "HKEY_LOCAL_MACHINE";

std::string KeyId(std::string_view path) { return SjisLowerAscii(path); }

// A double-byte character inside quotes: a lead byte and a byte that can
// follow it. A lead byte before a quote is a byte of its own, so a text
// that ends in a stray lead byte still ends at its quote.
size_t QuotedCharLength(std::string_view text, size_t i) {
    if (i + 1 >= text.size() || !IsSjisLeadByte(static_cast<uint8_t>(text[i]))) return 1;
    const uint8_t trail = static_cast<uint8_t>(text[i + 1]);
    return (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC) ? 2 : 1;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted REGEDIT4 text starting at text[0] == '"': its bytes (escapes
// \\ and \" undone) and the position after the closing quote.
std::optional<std::pair<std::string, size_t>> QuotedText(std::string_view text) {
    if (text.empty() || text[0] != '"') return std::nullopt;
    std::string out;
    for (size_t i = 1; i < text.size();) {
        const size_t length = QuotedCharLength(text, i);
        if (length == 2) {
            out.append(text.substr(i, 2));
            i += 2;
            continue;
        }
        const char c = text[i];
        if (c == '"') return std::make_pair(out, i + 1);
        if (c == '\\' && i + 1 < text.size()) {
            out += text[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> HexBytes(std::string_view text) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t' || c == '\\' || c == '\r' || c == '\n') {
            if (high >= 0) {
                out.push_back(static_cast<uint8_t>(high));
                high = -1;
            }
            continue;
        }
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        if (high < 0) {
            high = digit;
        } else if (high < 16) {
            out.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        } else {
            return std::nullopt;
        }
    }
    if (high >= 0) out.push_back(static_cast<uint8_t>(high));
    return out;
}

// One "name"=data (or @=data) line into a value; nullopt when malformed.
std::optional<RegistryValue> ParseValueLine(std::string_view line) {
    RegistryValue value;
    size_t at = 0;
    if (!line.empty() && line[0] == '@') {
        at = 1;
    } else {
        const auto name = QuotedText(line);
        if (!name) return std::nullopt;
        value.name = name->first;
        at = name->second;
    }
    if (at >= line.size() || line[at] != '=') return std::nullopt;
    std::string_view data = line.substr(at + 1);
    if (!data.empty() && data[0] == '"') {
        const auto text = QuotedText(data);
        if (!text) return std::nullopt;
        value.type = kRegSz;
        value.data.assign(text->first.begin(), text->first.end());
        value.data.push_back(0);
        return value;
    }
    if (data.substr(0, 6) == "dword:") {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        uint32_t number = 0;
        for (char c : digits) {
            const int digit = HexDigit(c);
            if (digit < 0) return std::nullopt;
            number = number * 16 + static_cast<uint32_t>(digit);
        }
        value.type = kRegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
        return value;
    }
    if (data.substr(0, 4) == "hex:") {
        value.type = kRegBinary;
        data.remove_prefix(4);
    } else if (data.substr(0, 4) == "hex(") {
        const size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12) return std::nullopt;
        uint32_t type = 0;
        for (char c : data.substr(4, close - 4)) {
            const int digit = HexDigit(c);
            if (digit < 0) return std::nullopt;
            type = type * 16 + static_cast<uint32_t>(digit);
        }
        value.type = type;
        data.remove_prefix(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = HexBytes(data);
    if (!bytes) return std::nullopt;
    value.data = std::move(*bytes);
    return value;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t length = QuotedCharLength(text, i);
        if (length == 1 && (text[i] == '"' || text[i] == '\\')) out += '\\';
        out.append(text.substr(i, length));
        i += length;
    }
    return out + "\"";
}

// A text value without embedded NULs, ending in its NUL, can be written as
// a quoted text; anything else as hex.
bool PlainText(const RegistryValue& value) {
    if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
    for (size_t i = 0; i + 1 < value.data.size(); ++i) {
        if (value.data[i] == 0 || value.data[i] == '\r' || value.data[i] == '\n') return false;
    }
    // Only when the quoted form reads back as the same bytes (a stray lead
    // byte before an escaped character would take the backslash).
    const std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
    const auto back = QuotedText(Quote(text));
    return back && back->first == text;
}

std::string StorePath(RegistryRoot root) {
    return RegistryFolder() + (root == RegistryRoot::kCurrentUser ? "/user.reg" : "/machine.reg");
}

bool RootOpens(RegistryRoot root) {
    if (root == RegistryRoot::kCurrentUser) return true;
    if (root == RegistryRoot::kLocalMachine) return MachineAccessCheck()();
    return false;
}

std::string_view RootName(RegistryRoot root) { return root == RegistryRoot::kCurrentUser ? kUserRoot : kMachineRoot; }

std::optional<RegistryStore> LoadStore(RegistryRoot root) {
    std::ifstream in(StorePath(root), std::ios::binary);
    if (!in) return RegistryStore{};
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return ParseRegistryText(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// The new contents to a temporary file in the same folder, renamed over
// the old file: a reader sees the old file or the new one, whole.
bool SaveStore(RegistryRoot root, const RegistryStore& store) {
    const std::string path = StorePath(root);
    const std::string temporary = path + ".tmp";
    const std::string text = SerializeRegistryText(store);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(temporary, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

std::string FullPath(RegistryRoot root, std::string_view sub_key) {
    return std::string(RootName(root)) + "\\" + std::string(sub_key);
}

int32_t DeleteValue(RegistryRoot root, std::string_view sub_key, std::string_view value_name, bool then_key) {
    if (!RootOpens(root)) return -1;
    std::optional<RegistryStore> store = LoadStore(root);
    if (!store) return -1;
    auto key = store->keys.find(KeyId(FullPath(root, sub_key)));
    if (key == store->keys.end()) return -1;
    auto& values = key->second.values;
    bool found = false;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (SjisEqualsIgnoreCase(it->name, value_name)) {
            values.erase(it);
            found = true;
            break;
        }
    }
    if (!found) return -1;
    if (then_key) {
        const std::string prefix = key->first + "\\";
        bool has_sub_keys = false;
        for (const auto& [id, other] : store->keys) {
            if (id.compare(0, prefix.size(), prefix) == 0) has_sub_keys = true;
        }
        if (!has_sub_keys) store->keys.erase(key);
    }
    return SaveStore(root, *store) ? 0 : -1;
}

}  // namespace

RegistryStore ParseRegistryText(std::span<const uint8_t> bytes) {
    RegistryStore store;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    RegistryKey* current = nullptr;
    std::string pending;  // a value line continued with a trailing '\'
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (!pending.empty()) {
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        }
        std::string joined = pending + std::string(line);
        if (!joined.empty() && joined.back() == '\\' && joined.find("=hex") != std::string::npos) {
            joined.pop_back();
            pending = joined;
            if (start > text.size()) break;
            continue;
        }
        pending.clear();
        if (joined.empty() || joined[0] == ';') {
        } else if (joined[0] == '[') {
            current = nullptr;
            if (joined.back() == ']' && joined.size() > 2 && joined[1] != '-') {
                const std::string path = joined.substr(1, joined.size() - 2);
                RegistryKey& key = store.keys[KeyId(path)];
                if (key.path.empty()) key.path = path;
                current = &key;
            }
        } else if (current != nullptr) {
            if (std::optional<RegistryValue> value = ParseValueLine(joined)) {
                bool replaced = false;
                for (RegistryValue& old : current->values) {
                    if (SjisEqualsIgnoreCase(old.name, value->name)) {
                        old = std::move(*value);
                        replaced = true;
                        break;
                    }
                }
                if (!replaced) current->values.push_back(std::move(*value));
            }
        }
        if (end == text.size()) break;
    }
    return store;
}

std::string SerializeRegistryText(const RegistryStore& store) {
    std::ostringstream out;
    out << "REGEDIT4\r\n";
    for (const auto& [id, key] : store.keys) {
        out << "\r\n[" << key.path << "]\r\n";
        for (const RegistryValue& value : key.values) {
            out << (value.name.empty() ? std::string("@") : Quote(value.name)) << '=';
            if (PlainText(value)) {
                out << Quote(std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
            } else if (value.type == kRegDword && value.data.size() == 4) {
                char digits[9];
                const uint32_t number = uint32_t(value.data[0]) | uint32_t(value.data[1]) << 8 |
                                        uint32_t(value.data[2]) << 16 | uint32_t(value.data[3]) << 24;
                static const char kHex[] = "0123456789abcdef";
                for (int i = 0; i < 8; ++i) digits[i] = kHex[(number >> (28 - 4 * i)) & 0xF];
                digits[8] = 0;
                out << "dword:" << digits;
            } else {
                if (value.type == kRegBinary) {
                    out << "hex:";
                } else {
                    char type[16];
                    std::snprintf(type, sizeof type, "hex(%x):", value.type);
                    out << type;
                }
                static const char kHex[] = "0123456789abcdef";
                for (size_t i = 0; i < value.data.size(); ++i) {
                    if (i > 0) out << ',';
                    out << kHex[value.data[i] >> 4] << kHex[value.data[i] & 0xF];
                }
            }
            out << "\r\n";
        }
    }
    return out.str();
}

std::optional<RegistryPath> SplitRegistryPath(std::string_view key_path) {
    static constexpr std::pair<std::string_view, RegistryRoot> kPrefixes[] = {
        {"HKEY_CLASSES_ROOT\\", RegistryRoot::kClassesRoot},
        {"HKEY_CURRENT_USER\\", RegistryRoot::kCurrentUser},
        {"HKEY_LOCAL_MACHINE\\", RegistryRoot::kLocalMachine},
        {"HKEY_USERS\\", RegistryRoot::kUsers},
        {"HKEY_PERFORMANCE_DATA\\", RegistryRoot::kPerformanceData},
        {"HKEY_CURRENT_CONFIG\\", RegistryRoot::kCurrentConfig},
        {"HKEY_DYN_DATA\\", RegistryRoot::kDynData},
    };
    const std::string path = SjisReplaceByte(key_path, '/', '\\');
    for (const auto& [prefix, root] : kPrefixes) {
        if (path.compare(0, prefix.size(), prefix) == 0) return RegistryPath{root, path.substr(prefix.size())};
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> ReadRegistryValue(RegistryRoot root, std::string_view sub_key,
                                                      std::string_view value_name, size_t buffer_size) {
    if (!RootOpens(root)) return std::nullopt;
    const std::optional<RegistryStore> store = LoadStore(root);
    if (!store) return std::nullopt;
    const auto key = store->keys.find(KeyId(FullPath(root, sub_key)));
    if (key == store->keys.end()) return std::nullopt;
    for (const RegistryValue& value : key->second.values) {
        if (!SjisEqualsIgnoreCase(value.name, value_name)) continue;
        if (value.data.size() > buffer_size) return std::nullopt;
        return value.data;
    }
    return std::nullopt;
}

int32_t DeleteUserRegistryValue(std::string_view sub_key, std::string_view value_name) {
    return DeleteValue(RegistryRoot::kCurrentUser, sub_key, value_name, true);
}

int32_t DeleteMachineRegistryValue(std::string_view sub_key, std::string_view value_name) {
    return DeleteValue(RegistryRoot::kLocalMachine, sub_key, value_name, false);
}

int32_t DeleteMachineRegistryKey(std::string_view sub_key) {
    if (!RootOpens(RegistryRoot::kLocalMachine)) return -1;
    std::optional<RegistryStore> store = LoadStore(RegistryRoot::kLocalMachine);
    if (!store) return -1;
    const std::string id = KeyId(FullPath(RegistryRoot::kLocalMachine, sub_key));
    const auto key = store->keys.find(id);
    if (key == store->keys.end()) return -1;
    const std::string prefix = id + "\\";
    for (const auto& [other, unused] : store->keys) {
        if (other.compare(0, prefix.size(), prefix) == 0) return -1;  // a key with sub keys stays
    }
    store->keys.erase(key);
    return SaveStore(RegistryRoot::kLocalMachine, *store) ? 0 : -1;
}

std::function<bool()>& MachineAccessCheck() {
    static std::function<bool()> check = [] { return platform::EffectiveUserIsRoot(); };
    return check;
}

std::string RegistryFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/zorvek";
}

}  // namespace zk
