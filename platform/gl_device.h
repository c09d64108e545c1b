// The GPU device: an OpenGL 3.3 core context in an EGL display without a
// surface (Mesa's surfaceless platform), and the few operations the layer
// drawing needs: textures, render-target textures, one textured quad at a
// time with the blend settings of a blend mode, and read-back. It never
// touches a window; the picture it draws goes back into layers.
//
// Positions are in render-target pixels, y down, with pixel centres on whole
// coordinates (the vertex shader adds 0.5); row 0 of every texture and
// target is its top row, so read-back and uploads need no flipping.
//
// Threading: the context is current on one thread at a time. Every entry
// that calls OpenGL holds a GlCurrent for its duration; the device can move
// between threads (start-up, the frame step, shutdown) as long as only one
// uses it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zk::platform {

using GlTexture = uint32_t;  // 0 = none

enum class GlTextureFormat : uint8_t { kRgba8, kRgba4 };

enum class GlCreateStatus : uint8_t {
    kOk,
    kNoDisplay,  // no EGL display or no surfaceless platform
    kNoContext,  // no OpenGL 3.3 core context
    kNoProgram,  // the layer program did not compile or link
};

enum class GlBlendFactor : uint8_t { kZero, kOne, kSrcAlpha, kInvSrcAlpha, kSrcColour, kInvSrcColour, kInvDestColour };
enum class GlBlendOp : uint8_t { kAdd, kRevSubtract, kMin, kMax };

// How the fragment is made from the textures (the texture stages).
enum class GlCombine : int32_t {
    kTextureFactorAlpha = 0,  // rgb = T1, a = T1.a x factor.a
    kTextureDiffuseAlpha = 1,  // rgb = T1, a = T1.a x diffuse.a
    kModulate = 2,             // T1 x diffuse
    kModulateOverTexture2 = 3,  // m = T1 x diffuse; rgb = m x m.a + T2(0,0) x (1 - m.a), a = m.a
    kModulateOverFactor = 4,    // as 3 with the factor in place of T2
    kCrossfade = 5,             // T1 x (1 - fade) + T2 x fade, a x alpha
    kMaskTransition = 6,        // rgb = T1, a = T1.a x saturate((fade - 0.5 T2.r) x fade2) x alpha
};

struct GlVertex {
    float x = 0, y = 0, z = 0;
    uint32_t colour = 0;  // 0xAARRGGBB
    float u = 0, v = 0;
};

struct GlDrawState {
    GlCombine combine = GlCombine::kTextureFactorAlpha;
    GlBlendFactor source = GlBlendFactor::kSrcAlpha;
    GlBlendFactor destination = GlBlendFactor::kInvSrcAlpha;
    GlBlendOp op = GlBlendOp::kAdd;
    GlTexture texture1 = 0;
    GlTexture texture2 = 0;
    uint32_t factor = 0;  // 0xAARRGGBB
    float alpha = 1, fade = 0, fade2 = 0;
};

class GlDevice {
public:
    // Makes the display, the context and the layer program; null with the
    // status of the step that failed. The context is not left current.
    static std::unique_ptr<GlDevice> Create(GlCreateStatus& status);
    ~GlDevice();
    GlDevice(const GlDevice&) = delete;
    GlDevice& operator=(const GlDevice&) = delete;

    // Makes the context current on this thread for the holder's lifetime
    // (nests; the outermost holder releases it again). False when it could
    // not be made current; OpenGL must not be called then.
    class Current {
    public:
        explicit Current(GlDevice& device);
        ~Current();
        Current(const Current&) = delete;
        Current& operator=(const Current&) = delete;
        bool ok() const { return ok_; }

    private:
        GlDevice& device_;
        bool ok_ = false;
        bool made_ = false;
    };

    int32_t MaxTextureSize() const { return max_texture_size_; }
    // "major.minor" of the context, e.g. 33 for 3.3.
    int32_t Version() const { return version_; }
    // OpenGL's function loader, for code that draws with the device's context.
    using ProcLoader = void* (*)(const char* name);
    static ProcLoader Loader();

    // A texture of width x height, contents undefined, linear filtering and
    // clamped addressing. 0 on failure; `out_of_memory` says whether OpenGL
    // ran out of memory.
    GlTexture CreateTexture(int32_t width, int32_t height, GlTextureFormat format, bool& out_of_memory);
    void DeleteTexture(GlTexture texture);
    // Replaces the whole texture with BGRA pixels (rows top first, `stride`
    // bytes apart). RGBA4 textures get the pixels rounded to 4 bits, with
    // Floyd-Steinberg error diffusion when `dither` is set.
    bool Upload(GlTexture texture, const uint8_t* bgra, int32_t width, int32_t height, size_t stride,
                GlTextureFormat format, bool dither);

    // Draws into `texture` (width x height) from now on. False when the
    // texture cannot be a render target.
    bool SetRenderTarget(GlTexture texture, int32_t width, int32_t height);
    GlTexture RenderTarget() const { return target_; }
    int32_t TargetWidth() const { return target_width_; }
    int32_t TargetHeight() const { return target_height_; }
    void Clear(uint32_t argb);
    // One triangle strip of four vertices. False when OpenGL reports an error.
    bool DrawQuad(const GlVertex (&vertices)[4], const GlDrawState& state);
    // BGRA rows of the current target's area (x, y, width, height), top row
    // first, into `destination` with `stride` bytes per row.
    bool ReadPixels(int32_t x, int32_t y, int32_t width, int32_t height, uint8_t* destination, size_t stride);
    // Puts back the states the layer drawing relies on (after foreign code
    // drew with the context).
    void RestoreState();
    // Waits until OpenGL has finished every command given.
    void Finish();

    struct Impl;

private:
    explicit GlDevice(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    int32_t max_texture_size_ = 0;
    int32_t version_ = 0;
    GlTexture target_ = 0;
    int32_t target_width_ = 0, target_height_ = 0;
};

// Converts BGRA pixels to RGBA4 texels (R in the top nibble), rounding each
// channel to the nearest of 16 levels; with `dither`, the rounding error is
// spread to the neighbours (Floyd-Steinberg). `out` holds width x height.
void ConvertToRgba4(const uint8_t* bgra, int32_t width, int32_t height, size_t stride, bool dither, uint16_t* out);

}  // namespace zk::platform
