#include "storage/pack_index.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <new>
#include <utility>

#include "core/error_codes.h"
#include "core/error_report.h"
#include "base/hashes.h"
#include "base/sjis.h"
#include "core/startup_paths.h"
#include "platform/folder_listing.h"
#include "storage/appended_data.h"
#include "storage/descramble.h"
#include "storage/pack_file.h"
#include "storage/pack_format.h"

namespace zk {
namespace {

constexpr std::string_view kConfigName = "zkbin\\zkcfg.zbn";

// 1..9 when `name` is "update1.zpf" .. "update9.zpf" ignoring case, else 0.
int UpdateFileNumber(std::string_view name) {
    if (name.size() != 11 || name[6] < '1' || name[6] > '9') return 0;
    if (!SjisEqualsIgnoreCase(name.substr(0, 6), "update") || !SjisEqualsIgnoreCase(name.substr(7), ".zpf")) return 0;
    return name[6] - '0';
}

// Whether a registered pack's file name, without folder and extension, is
// "update1" .. "update9": its entries then replace earlier ones.
bool IsUpdatePack(std::string_view path) {
    size_t slash = SjisFindLast(path, '\\');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = SjisFindLast(name, '.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return name.size() == 7 && SjisEqualsIgnoreCase(name.substr(0, 6), "update") && name[6] >= '1' && name[6] <= '9';
}

bool EndsWithPackExtension(std::string_view name) {
    return name.size() >= 4 && SjisEqualsIgnoreCase(name.substr(name.size() - 4), ".zpf");
}

// Reads the first 16 bytes of an open pack (fewer when the file is shorter).
std::vector<uint8_t> ReadHeaderBytes(PackStream& stream) {
    std::vector<uint8_t> bytes(kPackHeaderReadSize);
    SeekPack(stream, 0);
    bytes.resize(stream.file.Read(bytes));
    return bytes;
}

// The names seen by the build, to find an entry's earlier namesake. Keyed
// by the stored hash and the lower-cased plain name: names that differ only
// in ASCII case are one file (double-byte characters compared exactly, as
// the name hash sees them). Open addressing over entry numbers, since a
// node per entry costs more than the rest of the build.
class NameSet {
public:
    void Reserve(size_t count) {
        keys_.reserve(count);
        Rehash(count);
    }

    // The entry number of an earlier entry with this key, after which the
    // key names `entry`; or -1 when the key is new.
    int64_t Replace(uint32_t stored_hash, std::string_view lowered, uint32_t entry) {
        if (keys_.size() + 1 > slots_.size() / 2) Rehash(keys_.size() + 1);
        // The stored hash is untrusted (a pack can give every entry the same
        // one), so the name itself is hashed as well.
        uint64_t mix = std::hash<std::string_view>{}(lowered) ^ (uint64_t{stored_hash} * 0x9E3779B97F4A7C15ull);
        uint64_t fingerprint = mix & kFingerprintMask;
        for (size_t at = Home(mix);; at = (at + 1) & (slots_.size() - 1)) {
            uint64_t& slot = slots_[at];
            if (slot == 0) {
                keys_.push_back({stored_hash, entry, mix, lowered});
                slot = fingerprint | keys_.size();
                return -1;
            }
            // Speed only: the fingerprint spares a look at most other keys.
            if ((slot & kFingerprintMask) != fingerprint) continue;
            Key& key = keys_[(slot & ~kFingerprintMask) - 1];
            if (key.stored_hash == stored_hash && key.lowered == lowered) {
                int64_t earlier = key.entry;
                key.entry = entry;
                return earlier;
            }
        }
    }

private:
    // A slot holds the key number + 1 in its low half and the top of the
    // key's mix in its high half; 0 is empty.
    static constexpr uint64_t kFingerprintMask = 0xFFFFFFFF00000000ull;

    struct Key {
        uint32_t stored_hash;
        uint32_t entry;  // the entry that has the key now
        uint64_t mix;
        std::string_view lowered;
    };

    size_t Home(uint64_t mix) const { return static_cast<size_t>(mix) & (slots_.size() - 1); }

    // At most half full, so a probe ends soon.
    void Rehash(size_t count) {
        size_t size = 1024;
        while (size < count * 2) size *= 2;
        if (size <= slots_.size()) return;
        slots_.assign(size, 0);
        for (size_t i = 0; i < keys_.size(); ++i) {
            size_t at = Home(keys_[i].mix);
            while (slots_[at] != 0) at = (at + 1) & (slots_.size() - 1);
            slots_[at] = (keys_[i].mix & kFingerprintMask) | (i + 1);
        }
    }

    std::vector<uint64_t> slots_;
    std::vector<Key> keys_;
};

// The bucket of a hash: its top `bits` bits (0 bits: the one bucket).
size_t BucketOf(uint32_t hash, int bits) { return bits == 0 ? 0 : size_t{hash} >> (32 - bits); }

// Reads one registered pack's table into the index.
class IndexBuilder {
public:
    explicit IndexBuilder(PackIndex& index) : index_(index) {
        seen_.Reserve(static_cast<size_t>(index.entry_total));
        hidden_.reserve(static_cast<size_t>(index.entry_total));
    }

    int32_t AddPack(int32_t pack_number) {
        const std::string& pack_name = index_.pack_names[static_cast<size_t>(pack_number)];
        PackStream stream;
        if (OpenPackFile(stream, pack_name) != 0) {
            ReportEngineErrorF(kErrPackNotOpened, true, {std::string_view(pack_name)});
            return -1;
        }
        PackHeader header;
        std::vector<uint8_t> header_bytes = ReadHeaderBytes(stream);
        // The file was a sound pack when it was registered; anything else
        // now means it changed under us.
        if (ParsePackHeader(header_bytes, header) != PackHeaderStatus::kOk ||
            CheckPackTableExtent(header, PackLength(stream)) != 0) {
            ReportEngineErrorF(kErrPackFormat, true, {std::string_view(pack_name)});
            return -1;
        }
        if (static_cast<int64_t>(index_.entries.size()) + header.entry_count > kMaxPackEntries) {
            ReportEngineErrorF(kErrTooManyPackEntries, true, {static_cast<int64_t>(kMaxPackEntries)});
            return -1;
        }
        std::vector<uint8_t> table_bytes;
        try {
            table_bytes.resize(header.table_size);
        } catch (const std::bad_alloc&) {
            ReportEngineError(kErrOutOfMemory, true);
            return -1;
        }
        PackTable table;
        if (!SeekPack(stream, kPackHeaderSize) || !ReadPackBytes(stream, table_bytes) ||
            !ParsePackTable(table_bytes, header.entry_count, table)) {
            ReportEngineErrorF(kErrPackFormat, true, {std::string_view(pack_name)});
            return -1;
        }
        ClosePack(stream);

        bool update = IsUpdatePack(pack_name);
        // Each name is lower-cased on its own: a name that ends in a lead
        // byte must not take the next name's first byte for its trail byte.
        // The whole length is reserved first, so the keys' views into the
        // text stay valid while it fills.
        std::string& lowered_names = lowered_.emplace_back();
        lowered_names.reserve(table.names.size());
        for (const PackTableEntry& entry : table.entries) {
            uint32_t j = static_cast<uint32_t>(index_.entries.size());
            index_.entries.push_back({entry.hash, pack_number, entry.position});
            hidden_.push_back(false);
            std::string_view name = table.Name(entry);
            if (SjisEqualsIgnoreCase(name, kConfigName)) {
                index_.holds_config = true;
                ReleaseDataFlag() = true;
            }
            size_t lowered_at = lowered_names.size();
            lowered_names += SjisLowerAscii(name);
            int64_t earlier =
                seen_.Replace(entry.hash, std::string_view(lowered_names).substr(lowered_at, name.size()), j);
            if (earlier < 0) continue;
            if (!update) {
                ReportEngineErrorF(kErrPackEntryTwice, false, {name});
                return -1;
            }
            // An update pack's entry replaces the earlier one of that name.
            hidden_[static_cast<size_t>(earlier)] = true;
        }
        return 0;
    }

    // Drops the replaced entries and sorts the rest by hash; entries of one
    // hash keep their registration order (pack number, then table order).
    void Finish() {
        size_t kept = 0;
        for (size_t i = 0; i < index_.entries.size(); ++i) {
            if (!hidden_[i]) index_.entries[kept++] = index_.entries[i];
        }
        index_.entries.resize(kept);
        std::sort(index_.entries.begin(), index_.entries.end(), [](const PackIndexEntry& a, const PackIndexEntry& b) {
            if (a.hash != b.hash) return a.hash < b.hash;
            if (a.pack_number != b.pack_number) return a.pack_number < b.pack_number;
            return a.entry_position < b.entry_position;
        });
        BuildBuckets();
    }

private:
    // About one entry a bucket: a lookup then reads one bucket pair and, as
    // a rule, one entry.
    void BuildBuckets() {
        const std::vector<PackIndexEntry>& entries = index_.entries;
        int bits = 0;
        while (bits < 24 && (size_t{1} << bits) < entries.size()) ++bits;
        const size_t buckets = size_t{1} << bits;
        index_.bucket_bits = bits;
        index_.bucket_starts.assign(buckets + 1, 0);
        size_t at = 0;
        for (size_t bucket = 0; bucket < buckets; ++bucket) {
            index_.bucket_starts[bucket] = static_cast<uint32_t>(at);
            while (at < entries.size() && BucketOf(entries[at].hash, bits) == bucket) ++at;
        }
        index_.bucket_starts[buckets] = static_cast<uint32_t>(entries.size());
    }

    PackIndex& index_;
    // The lowered names stay alive while the keys point into them.
    std::deque<std::string> lowered_;
    std::vector<bool> hidden_;
    NameSet seen_;
};

}  // namespace

PackIndex& ThePackIndex() {
    static PackIndex index;
    return index;
}

void ResetPackIndex() { ThePackIndex() = PackIndex{}; }

int32_t RegisterPackFile(std::string_view path) {
    PackIndex& index = ThePackIndex();
    PackStream stream;
    if (OpenPackFile(stream, path) != 0) {
        ReportEngineErrorF(kErrPackNotOpened, true, {path});
        return -2;
    }
    PackHeader header;
    PackHeaderStatus status = ParsePackHeader(ReadHeaderBytes(stream), header);
    ClosePack(stream);
    if (status == PackHeaderStatus::kNotPack) return 0;
    // A header cut off after its magic is as unreadable as an old version.
    if (status == PackHeaderStatus::kShort || header.version < kPackMinVersion) {
        ReportEngineErrorF(kErrPackFormat, true, {path});
        return -1;
    }
    if (index.entry_total + header.entry_count > kMaxPackEntries) {
        ReportEngineErrorF(kErrTooManyPackEntries, true, {static_cast<int64_t>(kMaxPackEntries)});
        return -1;
    }
    // The name is kept only once the pack is accepted, so a refused 101st
    // pack leaves the table of 100 as it was.
    if (index.pack_names.size() >= kMaxPacks) {
        ReportEngineErrorF(kErrTooManyPacks, true, {static_cast<int64_t>(kMaxPacks)});
        return -1;
    }
    index.pack_names.emplace_back(path);
    index.entry_total += header.entry_count;
    return 0;
}

int32_t FindPackFiles(std::string_view start_folder, int32_t max_depth) {
    PackIndex& index = ThePackIndex();
    std::deque<std::pair<std::string, int32_t>> queue;
    queue.emplace_back(start_folder, 1);
    while (!queue.empty()) {
        auto [folder, depth] = std::move(queue.front());
        queue.pop_front();
        std::optional<std::vector<platform::FolderEntry>> listing = platform::ListFolder(folder);
        if (!listing) continue;  // nothing to list is no pack
        for (const platform::FolderEntry& entry : *listing) {
            if (entry.is_folder) {
                if (SjisEqualsIgnoreCase(entry.name, "pac") && depth <= max_depth)
                    queue.emplace_back(folder + "\\" + entry.name, depth + 1);
                continue;
            }
            if (!EndsWithPackExtension(entry.name)) continue;
            std::string path = SjisLowerAscii(folder + "\\" + entry.name);
            if (int number = UpdateFileNumber(entry.name); number != 0) {
                index.update_packs[static_cast<size_t>(number)] = std::move(path);
                continue;
            }
            if (RegisterPackFile(path) != 0) return -1;
        }
    }
    return 0;
}

int32_t BuildPackIndex() {
    PackIndex& index = ThePackIndex();
    index = PackIndex{};
    if (TheAppendedData().appended) {
        if (RegisterPackFile(kAppendedPackName) != 0) return -1;
    } else if (FindPackFiles(".", 1) != 0) {
        return -1;
    }
    for (size_t number = 1; number <= 9; ++number) {
        if (!index.update_packs[number].empty() && RegisterPackFile(index.update_packs[number]) != 0) return -1;
    }

    try {
        index.entries.reserve(static_cast<size_t>(index.entry_total));
        IndexBuilder builder(index);
        for (size_t pack = 0; pack < index.pack_names.size(); ++pack) {
            if (builder.AddPack(static_cast<int32_t>(pack)) != 0) return -1;
        }
        builder.Finish();
    } catch (const std::bad_alloc&) {
        ReportEngineError(kErrOutOfMemory, true);
        return -1;
    }
    return 0;
}

std::span<const PackIndexEntry> FindPackIndexEntries(uint32_t hash) {
    const PackIndex& index = ThePackIndex();
    const std::vector<PackIndexEntry>& entries = index.entries;
    size_t first = 0;
    size_t last = entries.size();
    if (!index.bucket_starts.empty()) {
        const size_t bucket = BucketOf(hash, index.bucket_bits);
        first = index.bucket_starts[bucket];
        last = index.bucket_starts[bucket + 1];
    }
    if (last - first <= 8) {
        // The usual bucket: a few entries, scanned.
        while (first < last && entries[first].hash < hash) ++first;
        size_t end = first;
        while (end < last && entries[end].hash == hash) ++end;
        return std::span<const PackIndexEntry>(entries).subspan(first, end - first);
    }
    // A crowded bucket (many names of one hash, or an index without buckets).
    auto begin = entries.begin() + static_cast<ptrdiff_t>(first);
    auto [low, high] = std::equal_range(begin, entries.begin() + static_cast<ptrdiff_t>(last), PackIndexEntry{hash, 0, 0},
                                        [](const PackIndexEntry& a, const PackIndexEntry& b) { return a.hash < b.hash; });
    return std::span<const PackIndexEntry>(entries).subspan(static_cast<size_t>(low - entries.begin()),
                                                           static_cast<size_t>(high - low));
}

std::string PackOpenPath(int32_t pack_number) {
    const PackIndex& index = ThePackIndex();
    if (pack_number < 0 || static_cast<size_t>(pack_number) >= index.pack_names.size()) return {};
    const std::string& name = index.pack_names[static_cast<size_t>(pack_number)];
    return ReleaseDataFlag() ? name : Paths().game_folder + name;
}

bool PackIndexHoldsConfig() { return ThePackIndex().holds_config; }

int32_t ProbePackIndex(FileSource& source, std::string_view name) {
    std::span<const PackIndexEntry> candidates = FindPackIndexEntries(MurmurHash2(name, 0));
    const PackIndexEntry* base = ThePackIndex().entries.data();
    for (const PackIndexEntry& entry : candidates) {
        source.pack_number = entry.pack_number;
        PackStream stream;
        if (OpenPackFile(stream, PackOpenPath(entry.pack_number)) != 0) return -2;
        std::array<uint8_t, 255> stored;
        std::optional<uint8_t> code;
        if (!SeekPack(stream, entry.entry_position) || !(code = ReadPackU8(stream))) return -2;
        std::span<uint8_t> stored_name = std::span(stored).first(NameLengthFromCode(*code));
        // A pack that no longer reads where its table said has changed since
        // start-up: as good as gone.
        if (!ReadPackBytes(stream, stored_name)) return -2;
        if (!SjisEqualsIgnoreCase(DescrambleName(stored_name), name)) continue;
        std::optional<uint8_t> kind = ReadPackU8(stream);
        if (!kind) return -2;
        source.kind = *kind;
        source.entry_position = TellPack(stream);
        source.pack_index_slot = static_cast<int32_t>(&entry - base);
        source.state = 2;
        return 2;
    }
    return 0;
}

}  // namespace zk
