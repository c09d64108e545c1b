// A heap block of pixel bytes that keeps its contents when it is resized,
// as the engine's image blocks must (a decoder reuses and resizes the block
// an image already has). Bytes a resize adds are zero, so a block's spare
// row and spare bytes never hold stale data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace zk {

class PixelBlock {
public:
    PixelBlock() = default;
    PixelBlock(PixelBlock&&) noexcept = default;
    PixelBlock& operator=(PixelBlock&&) noexcept = default;
    PixelBlock(const PixelBlock&) = delete;
    PixelBlock& operator=(const PixelBlock&) = delete;

    // A zero-filled block of `bytes`, or an empty one when the heap cannot
    // give it (test with empty()).
    static PixelBlock Allocate(size_t bytes) {
        PixelBlock block;
        block.Resize(bytes);
        return block;
    }

    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return data_ == nullptr; }

    // Resizes to `bytes`, keeping the contents up to the smaller size; new
    // bytes are zero. False when the heap cannot give it: the block is then
    // unchanged. Resizing to 0 frees the block.
    bool Resize(size_t bytes) {
        if (bytes == 0) {
            Reset();
            return true;
        }
        if (data_ == nullptr) {
            // calloc: a large fresh block costs no page writes until used.
            auto* fresh = static_cast<uint8_t*>(std::calloc(bytes, 1));
            if (fresh == nullptr) return false;
            data_.reset(fresh);
            size_ = bytes;
            return true;
        }
        auto* moved = static_cast<uint8_t*>(std::realloc(data_.get(), bytes));
        if (moved == nullptr) return false;
        (void)data_.release();  // realloc has taken the old pointer over
        data_.reset(moved);
        if (bytes > size_) std::memset(moved + size_, 0, bytes - size_);
        size_ = bytes;
        return true;
    }

    void Reset() {
        data_.reset();
        size_ = 0;
    }

private:
    struct FreeBytes {
        void operator()(uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<uint8_t, FreeBytes> data_;
    size_t size_ = 0;
};

}  // namespace zk
