// Bounds-checked little-endian reader over untrusted bytes. Every getter
// fails cleanly (returns false / std::nullopt) instead of reading past the
// end; the reader never advances on a failed read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace zk {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t Size() const { return bytes_.size(); }
    size_t Offset() const { return offset_; }
    size_t Remaining() const { return bytes_.size() - offset_; }
    std::span<const uint8_t> Bytes() const { return bytes_; }

    // Moves to an absolute offset; offsets up to and including the end are valid.
    bool Seek(uint64_t offset) {
        if (offset > bytes_.size()) return false;
        offset_ = static_cast<size_t>(offset);
        return true;
    }
    bool Skip(uint64_t count) {
        if (count > Remaining()) return false;
        offset_ += static_cast<size_t>(count);
        return true;
    }
    bool Has(uint64_t count) const { return count <= Remaining(); }

    std::optional<uint8_t> U8() { return Read<uint8_t>(); }
    std::optional<uint16_t> U16() { return Read<uint16_t>(); }
    std::optional<uint32_t> U32() { return Read<uint32_t>(); }
    std::optional<uint64_t> U64() { return Read<uint64_t>(); }
    std::optional<int8_t> I8() { return Read<int8_t>(); }
    std::optional<int16_t> I16() { return Read<int16_t>(); }
    std::optional<int32_t> I32() { return Read<int32_t>(); }
    std::optional<int64_t> I64() { return Read<int64_t>(); }
    std::optional<double> F64() { return Read<double>(); }

    // A sub-span of count bytes, or nullopt when fewer remain.
    std::optional<std::span<const uint8_t>> Take(uint64_t count) {
        if (!Has(count)) return std::nullopt;
        auto part = bytes_.subspan(offset_, static_cast<size_t>(count));
        offset_ += static_cast<size_t>(count);
        return part;
    }

    // A NUL-terminated text starting here; the terminator is consumed but not
    // part of the result. nullopt when no NUL occurs before the end.
    std::optional<std::string_view> CString() {
        // Nothing left: no terminator, and memchr must not see the null
        // data pointer of an empty span.
        if (Remaining() == 0) return std::nullopt;
        const uint8_t* begin = bytes_.data() + offset_;
        const void* nul = std::memchr(begin, 0, Remaining());
        if (nul == nullptr) return std::nullopt;
        size_t length = static_cast<const uint8_t*>(nul) - begin;
        offset_ += length + 1;
        return std::string_view(reinterpret_cast<const char*>(begin), length);
    }

    // Absolute-offset getters that leave the position alone.
    template <typename T>
    std::optional<T> PeekAt(uint64_t offset) const {
        if (offset > bytes_.size() || sizeof(T) > bytes_.size() - offset) return std::nullopt;
        return Decode<T>(bytes_.data() + offset);
    }

private:
    template <typename T>
    std::optional<T> Read() {
        if (sizeof(T) > Remaining()) return std::nullopt;
        T value = Decode<T>(bytes_.data() + offset_);
        offset_ += sizeof(T);
        return value;
    }

    // Files are little-endian; so is every host we build for, but decode
    // byte by byte for integers so the reader stays correct anywhere.
    template <typename T>
    static T Decode(const uint8_t* p) {
        if constexpr (std::is_same_v<T, double> || std::is_same_v<T, float>) {
            T value;
            std::memcpy(&value, p, sizeof(T));
            return value;
        } else {
            using U = std::make_unsigned_t<T>;
            U value = 0;
            for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
            return static_cast<T>(value);
        }
    }

    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
};

}  // namespace zk
