#include "platform/gl_device.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include <algorithm>
#include <array>
#include <string>
#include <cstring>
#include <vector>

namespace zk::platform {

namespace {

// The OpenGL entry points the device uses, loaded through eglGetProcAddress.
#define ZK_GL_FUNCTIONS(X)                                           \
    X(PFNGLGETERRORPROC, GetError)                                   \
    X(PFNGLGETINTEGERVPROC, GetIntegerv)                             \
    X(PFNGLGENTEXTURESPROC, GenTextures)                             \
    X(PFNGLDELETETEXTURESPROC, DeleteTextures)                       \
    X(PFNGLBINDTEXTUREPROC, BindTexture)                             \
    X(PFNGLTEXIMAGE2DPROC, TexImage2D)                               \
    X(PFNGLTEXSUBIMAGE2DPROC, TexSubImage2D)                         \
    X(PFNGLTEXPARAMETERIPROC, TexParameteri)                         \
    X(PFNGLPIXELSTOREIPROC, PixelStorei)                             \
    X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                         \
    X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                     \
    X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)               \
    X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                     \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)           \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)       \
    X(PFNGLVIEWPORTPROC, Viewport)                                   \
    X(PFNGLCLEARCOLORPROC, ClearColor)                               \
    X(PFNGLCLEARPROC, Clear)                                         \
    X(PFNGLENABLEPROC, Enable)                                       \
    X(PFNGLDISABLEPROC, Disable)                                     \
    X(PFNGLBLENDFUNCPROC, BlendFunc)                                 \
    X(PFNGLBLENDEQUATIONPROC, BlendEquation)                         \
    X(PFNGLCOLORMASKPROC, ColorMask)                                 \
    X(PFNGLCREATESHADERPROC, CreateShader)                           \
    X(PFNGLSHADERSOURCEPROC, ShaderSource)                           \
    X(PFNGLCOMPILESHADERPROC, CompileShader)                         \
    X(PFNGLGETSHADERIVPROC, GetShaderiv)                             \
    X(PFNGLDELETESHADERPROC, DeleteShader)                           \
    X(PFNGLCREATEPROGRAMPROC, CreateProgram)                         \
    X(PFNGLATTACHSHADERPROC, AttachShader)                           \
    X(PFNGLBINDATTRIBLOCATIONPROC, BindAttribLocation)               \
    X(PFNGLLINKPROGRAMPROC, LinkProgram)                             \
    X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                           \
    X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                         \
    X(PFNGLUSEPROGRAMPROC, UseProgram)                               \
    X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)               \
    X(PFNGLUNIFORM1IPROC, Uniform1i)                                 \
    X(PFNGLUNIFORM1FPROC, Uniform1f)                                 \
    X(PFNGLUNIFORM2FPROC, Uniform2f)                                 \
    X(PFNGLUNIFORM4FPROC, Uniform4f)                                 \
    X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)                     \
    X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                     \
    X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays)               \
    X(PFNGLGENBUFFERSPROC, GenBuffers)                               \
    X(PFNGLBINDBUFFERPROC, BindBuffer)                               \
    X(PFNGLBUFFERDATAPROC, BufferData)                               \
    X(PFNGLDELETEBUFFERSPROC, DeleteBuffers)                         \
    X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)             \
    X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)     \
    X(PFNGLDRAWARRAYSPROC, DrawArrays)                               \
    X(PFNGLREADPIXELSPROC, ReadPixels)                               \
    X(PFNGLFINISHPROC, Finish)

struct GlFunctions {
#define ZK_GL_MEMBER(type, name) type name = nullptr;
    ZK_GL_FUNCTIONS(ZK_GL_MEMBER)
#undef ZK_GL_MEMBER

    bool Load() {
        bool all = true;
#define ZK_GL_LOAD(type, name)                                                        \
    name = reinterpret_cast<type>(eglGetProcAddress("gl" #name));                     \
    all = all && name != nullptr;
        ZK_GL_FUNCTIONS(ZK_GL_LOAD)
#undef ZK_GL_LOAD
        return all;
    }
};

constexpr const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec4 a_colour;
layout(location = 2) in vec2 a_uv;
uniform vec2 u_target_size;
out vec4 v_colour;
out vec2 v_uv;
void main() {
    // Pixel centres lie on whole positions: pixel i covers [i - 0.5, i + 0.5).
    vec2 p = (a_position.xy + 0.5) / u_target_size * 2.0 - 1.0;
    gl_Position = vec4(p, 0.0, 1.0);
    v_colour = a_colour.bgra;  // the colour's bytes are B, G, R, A in memory
    v_uv = a_uv;
}
)";

// One program per way of combining (COMBINE is defined before this text),
// so no fragment branches on a uniform.
constexpr const char* kFragmentShader = R"(
in vec4 v_colour;
in vec2 v_uv;
uniform sampler2D u_texture1;
uniform sampler2D u_texture2;
uniform vec4 u_factor;
uniform float u_alpha;
uniform float u_fade;
uniform float u_fade2;
out vec4 o_colour;
void main() {
    vec4 t = texture(u_texture1, v_uv);
    vec4 c;
#if COMBINE == 0
    c = vec4(t.rgb, t.a * u_factor.a);
#elif COMBINE == 1
    c = vec4(t.rgb, t.a * v_colour.a);
#elif COMBINE == 2
    c = t * v_colour;
#elif COMBINE == 3 || COMBINE == 4
    vec4 m = t * v_colour;
#if COMBINE == 3
    vec4 other = texture(u_texture2, vec2(0.0));
#else
    vec4 other = u_factor;
#endif
    c = vec4(m.rgb * m.a + other.rgb * (1.0 - m.a), m.a);
#elif COMBINE == 5
    {
        vec4 t2 = texture(u_texture2, v_uv);
        c = t * (1.0 - u_fade) + t2 * u_fade;
        c.a *= u_alpha;
    }
#else
    vec4 m = texture(u_texture2, v_uv);
    float w = clamp((u_fade - 0.5 * m.r) * u_fade2, 0.0, 1.0);
    c = vec4(t.rgb, t.a * w * u_alpha);
#endif
    o_colour = c;
}
)";

GLenum BlendFactor(GlBlendFactor factor) {
    switch (factor) {
        case GlBlendFactor::kZero: return GL_ZERO;
        case GlBlendFactor::kOne: return GL_ONE;
        case GlBlendFactor::kSrcAlpha: return GL_SRC_ALPHA;
        case GlBlendFactor::kInvSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
        case GlBlendFactor::kSrcColour: return GL_SRC_COLOR;
        case GlBlendFactor::kInvSrcColour: return GL_ONE_MINUS_SRC_COLOR;
        case GlBlendFactor::kInvDestColour: return GL_ONE_MINUS_DST_COLOR;
    }
    return GL_ONE;
}

GLenum BlendEquation(GlBlendOp op) {
    switch (op) {
        case GlBlendOp::kAdd: return GL_FUNC_ADD;
        case GlBlendOp::kRevSubtract: return GL_FUNC_REVERSE_SUBTRACT;
        case GlBlendOp::kMin: return GL_MIN;
        case GlBlendOp::kMax: return GL_MAX;
    }
    return GL_FUNC_ADD;
}

void ArgbToFloats(uint32_t argb, float out[4]) {
    out[0] = static_cast<float>((argb >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((argb >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(argb & 0xFF) / 255.0f;
    out[3] = static_cast<float>(argb >> 24) / 255.0f;
}

}  // namespace

struct GlDevice::Impl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GlFunctions gl;
    struct Program {
        GLuint id = 0;
        GLint u_target_size = -1, u_factor = -1, u_alpha = -1, u_fade = -1, u_fade2 = -1;
    };
    static constexpr int kCombines = 7;
    std::array<Program, kCombines> programs{};
    GLuint vao = 0, vbo = 0, framebuffer = 0;
    std::vector<uint16_t> converted;  // RGBA4 texels of the upload in progress

    bool MakeCurrent() const { return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE; }
    void ReleaseCurrent() const { eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }
    bool IsCurrent() const { return context != EGL_NO_CONTEXT && eglGetCurrentContext() == context; }

    GLuint Compile(GLenum kind, const char* prefix, const char* source) {
        GLuint shader = gl.CreateShader(kind);
        if (shader == 0) return 0;
        const char* texts[2] = {prefix, source};
        gl.ShaderSource(shader, 2, texts, nullptr);
        gl.CompileShader(shader);
        GLint compiled = GL_FALSE;
        gl.GetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
        if (compiled != GL_TRUE) {
            gl.DeleteShader(shader);
            return 0;
        }
        return shader;
    }

    bool BuildProgram(int combine) {
        const std::string prefix = "#version 330 core\n#define COMBINE " + std::to_string(combine) + "\n";
        GLuint vertex = Compile(GL_VERTEX_SHADER, "", kVertexShader);
        GLuint fragment = Compile(GL_FRAGMENT_SHADER, prefix.c_str(), kFragmentShader);
        if (vertex == 0 || fragment == 0) {
            if (vertex != 0) gl.DeleteShader(vertex);
            if (fragment != 0) gl.DeleteShader(fragment);
            return false;
        }
        Program& program = programs[static_cast<size_t>(combine)];
        program.id = gl.CreateProgram();
        gl.AttachShader(program.id, vertex);
        gl.AttachShader(program.id, fragment);
        gl.LinkProgram(program.id);
        gl.DeleteShader(vertex);
        gl.DeleteShader(fragment);
        GLint linked = GL_FALSE;
        gl.GetProgramiv(program.id, GL_LINK_STATUS, &linked);
        if (linked != GL_TRUE) return false;
        program.u_target_size = gl.GetUniformLocation(program.id, "u_target_size");
        program.u_factor = gl.GetUniformLocation(program.id, "u_factor");
        program.u_alpha = gl.GetUniformLocation(program.id, "u_alpha");
        program.u_fade = gl.GetUniformLocation(program.id, "u_fade");
        program.u_fade2 = gl.GetUniformLocation(program.id, "u_fade2");
        gl.UseProgram(program.id);
        gl.Uniform1i(gl.GetUniformLocation(program.id, "u_texture1"), 0);
        gl.Uniform1i(gl.GetUniformLocation(program.id, "u_texture2"), 1);
        return true;
    }

    bool BuildPrograms() {
        for (int combine = 0; combine < kCombines; ++combine)
            if (!BuildProgram(combine)) return false;
        gl.GenVertexArrays(1, &vao);
        gl.GenBuffers(1, &vbo);
        gl.GenFramebuffers(1, &framebuffer);
        gl.BindVertexArray(vao);
        gl.BindBuffer(GL_ARRAY_BUFFER, vbo);
        gl.BufferData(GL_ARRAY_BUFFER, sizeof(GlVertex) * 4, nullptr, GL_STREAM_DRAW);
        gl.VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(GlVertex),
                               reinterpret_cast<const void*>(offsetof(GlVertex, x)));
        gl.VertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(GlVertex),
                               reinterpret_cast<const void*>(offsetof(GlVertex, colour)));
        gl.VertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(GlVertex),
                               reinterpret_cast<const void*>(offsetof(GlVertex, u)));
        for (GLuint index = 0; index < 3; ++index) gl.EnableVertexAttribArray(index);
        return gl.GetError() == GL_NO_ERROR;
    }

    void Destroy() {
        if (display == EGL_NO_DISPLAY) return;
        if (context != EGL_NO_CONTEXT) {
            const bool was_current = IsCurrent();
            if (was_current || MakeCurrent()) {
                for (const Program& program : programs)
                    if (program.id != 0) gl.DeleteProgram(program.id);
                if (vbo != 0) gl.DeleteBuffers(1, &vbo);
                if (vao != 0) gl.DeleteVertexArrays(1, &vao);
                if (framebuffer != 0) gl.DeleteFramebuffers(1, &framebuffer);
                ReleaseCurrent();
            }
            eglDestroyContext(display, context);
            context = EGL_NO_CONTEXT;
        }
        // The display stays initialised: the next device takes it up again,
        // and the driver it loaded stays with it for the process's life.
        display = EGL_NO_DISPLAY;
    }
};

std::unique_ptr<GlDevice> GlDevice::Create(GlCreateStatus& status) {
    auto impl = std::make_unique<Impl>();
    struct Guard {
        Impl* impl;
        ~Guard() {
            if (impl != nullptr) impl->Destroy();
        }
    } guard{impl.get()};

    status = GlCreateStatus::kNoDisplay;
    auto get_platform_display =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (get_platform_display == nullptr) return nullptr;
    impl->display = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (impl->display == EGL_NO_DISPLAY) return nullptr;
    EGLint major = 0, minor = 0;
    if (eglInitialize(impl->display, &major, &minor) != EGL_TRUE) {
        impl->display = EGL_NO_DISPLAY;
        return nullptr;
    }
    status = GlCreateStatus::kNoContext;
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) return nullptr;
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 3,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 3,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_NONE};
    impl->context = eglCreateContext(impl->display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (impl->context == EGL_NO_CONTEXT) return nullptr;
    if (!impl->MakeCurrent()) return nullptr;
    if (!impl->gl.Load()) {
        impl->ReleaseCurrent();
        return nullptr;
    }
    GLint gl_major = 0, gl_minor = 0, max_size = 0;
    impl->gl.GetIntegerv(GL_MAJOR_VERSION, &gl_major);
    impl->gl.GetIntegerv(GL_MINOR_VERSION, &gl_minor);
    impl->gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    if (gl_major * 10 + gl_minor < 33) {
        impl->ReleaseCurrent();
        return nullptr;
    }
    status = GlCreateStatus::kNoProgram;
    if (!impl->BuildPrograms()) {
        impl->ReleaseCurrent();
        return nullptr;
    }
    status = GlCreateStatus::kOk;
    guard.impl = nullptr;
    std::unique_ptr<GlDevice> device(new GlDevice(std::move(impl)));
    device->max_texture_size_ = max_size;
    device->version_ = gl_major * 10 + gl_minor;
    device->RestoreState();
    device->impl_->ReleaseCurrent();
    return device;
}

GlDevice::GlDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

GlDevice::~GlDevice() { impl_->Destroy(); }

GlDevice::Current::Current(GlDevice& device) : device_(device) {
    if (device_.impl_->IsCurrent()) {
        ok_ = true;
        return;
    }
    ok_ = made_ = device_.impl_->MakeCurrent();
}

GlDevice::Current::~Current() {
    if (made_) device_.impl_->ReleaseCurrent();
}

GlDevice::ProcLoader GlDevice::Loader() {
    return [](const char* name) -> void* { return reinterpret_cast<void*>(eglGetProcAddress(name)); };
}

GlTexture GlDevice::CreateTexture(int32_t width, int32_t height, GlTextureFormat format, bool& out_of_memory) {
    out_of_memory = false;
    if (width <= 0 || height <= 0 || width > max_texture_size_ || height > max_texture_size_) return 0;
    Current current(*this);
    if (!current.ok()) return 0;
    const GlFunctions& gl = impl_->gl;
    while (gl.GetError() != GL_NO_ERROR) {
    }
    GLuint texture = 0;
    gl.GenTextures(1, &texture);
    if (texture == 0) return 0;
    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, texture);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    if (format == GlTextureFormat::kRgba4)
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA4, width, height, 0, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4, nullptr);
    else
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    const GLenum error = gl.GetError();
    gl.BindTexture(GL_TEXTURE_2D, 0);
    if (error != GL_NO_ERROR) {
        out_of_memory = error == GL_OUT_OF_MEMORY;
        gl.DeleteTextures(1, &texture);
        return 0;
    }
    return texture;
}

void GlDevice::DeleteTexture(GlTexture texture) {
    if (texture == 0) return;
    Current current(*this);
    if (!current.ok()) return;
    if (target_ == texture) {
        impl_->gl.BindFramebuffer(GL_FRAMEBUFFER, impl_->framebuffer);
        impl_->gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        target_ = 0;
    }
    impl_->gl.DeleteTextures(1, &texture);
}

void ConvertToRgba4(const uint8_t* bgra, int32_t width, int32_t height, size_t stride, bool dither, uint16_t* out) {
    if (width <= 0 || height <= 0) return;
    // Errors carried to this row and the next, per pixel and channel
    // (B, G, R, A), in 1/16 units of a channel step.
    std::vector<int32_t> this_row, next_row;
    if (dither) {
        this_row.assign((static_cast<size_t>(width) + 2) * 4, 0);
        next_row.assign(this_row.size(), 0);
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = bgra + static_cast<size_t>(y) * stride;
        uint16_t* texels = out + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            int32_t levels[4];
            for (int channel = 0; channel < 4; ++channel) {
                int32_t value = row[x * 4 + channel] * 16;
                if (dither) value += this_row[(static_cast<size_t>(x) + 1) * 4 + channel];
                value = std::clamp(value, 0, 255 * 16);
                // The nearest of the 16 levels 0, 17, ..., 255.
                const int32_t level = (value + 17 * 8) / (17 * 16);
                levels[channel] = level;
                if (dither) {
                    const int32_t error = value - level * 17 * 16;
                    const size_t at = (static_cast<size_t>(x) + 1) * 4 + channel;
                    this_row[at + 4] += error * 7 / 16;
                    next_row[at - 4] += error * 3 / 16;
                    next_row[at] += error * 5 / 16;
                    next_row[at + 4] += error * 1 / 16;
                }
            }
            texels[x] = static_cast<uint16_t>(levels[2] << 12 | levels[1] << 8 | levels[0] << 4 | levels[3]);
        }
        if (dither) {
            this_row.swap(next_row);
            std::fill(next_row.begin(), next_row.end(), 0);
        }
    }
}

bool GlDevice::Upload(GlTexture texture, const uint8_t* bgra, int32_t width, int32_t height, size_t stride,
                      GlTextureFormat format, bool dither) {
    if (texture == 0 || bgra == nullptr || width <= 0 || height <= 0) return false;
    Current current(*this);
    if (!current.ok()) return false;
    const GlFunctions& gl = impl_->gl;
    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, texture);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (format == GlTextureFormat::kRgba4) {
        impl_->converted.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        ConvertToRgba4(bgra, width, height, stride, dither, impl_->converted.data());
        gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4,
                         impl_->converted.data());
    } else {
        gl.PixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(stride / 4));
        gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, bgra);
        gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }
    gl.BindTexture(GL_TEXTURE_2D, 0);
    return gl.GetError() == GL_NO_ERROR;
}

bool GlDevice::SetRenderTarget(GlTexture texture, int32_t width, int32_t height) {
    if (texture == 0 || width <= 0 || height <= 0) return false;
    Current current(*this);
    if (!current.ok()) return false;
    const GlFunctions& gl = impl_->gl;
    gl.BindFramebuffer(GL_FRAMEBUFFER, impl_->framebuffer);
    gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        target_ = 0;
        return false;
    }
    target_ = texture;
    target_width_ = width;
    target_height_ = height;
    gl.Viewport(0, 0, width, height);
    return true;
}

void GlDevice::Clear(uint32_t argb) {
    if (target_ == 0) return;
    Current current(*this);
    if (!current.ok()) return;
    float colour[4];
    ArgbToFloats(argb, colour);
    impl_->gl.ClearColor(colour[0], colour[1], colour[2], colour[3]);
    impl_->gl.Clear(GL_COLOR_BUFFER_BIT);
}

bool GlDevice::DrawQuad(const GlVertex (&vertices)[4], const GlDrawState& state) {
    if (target_ == 0 || state.texture1 == 0) return false;
    Current current(*this);
    if (!current.ok()) return false;
    const Impl& impl = *impl_;
    const GlFunctions& gl = impl.gl;
    const int combine = std::clamp(static_cast<int>(state.combine), 0, Impl::kCombines - 1);
    const Impl::Program& program = impl.programs[static_cast<size_t>(combine)];
    gl.UseProgram(program.id);
    gl.BindVertexArray(impl.vao);
    gl.BindBuffer(GL_ARRAY_BUFFER, impl.vbo);
    gl.BufferData(GL_ARRAY_BUFFER, sizeof(vertices), vertices, GL_STREAM_DRAW);
    gl.Uniform2f(program.u_target_size, static_cast<float>(target_width_), static_cast<float>(target_height_));
    float factor[4];
    ArgbToFloats(state.factor, factor);
    if (program.u_factor >= 0) gl.Uniform4f(program.u_factor, factor[0], factor[1], factor[2], factor[3]);
    if (program.u_alpha >= 0) gl.Uniform1f(program.u_alpha, state.alpha);
    if (program.u_fade >= 0) gl.Uniform1f(program.u_fade, state.fade);
    if (program.u_fade2 >= 0) gl.Uniform1f(program.u_fade2, state.fade2);
    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, state.texture1);
    gl.ActiveTexture(GL_TEXTURE1);
    gl.BindTexture(GL_TEXTURE_2D, state.texture2);
    gl.Enable(GL_BLEND);
    gl.BlendFunc(BlendFactor(state.source), BlendFactor(state.destination));
    gl.BlendEquation(BlendEquation(state.op));
    gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl.BindTexture(GL_TEXTURE_2D, 0);
    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, 0);
    return gl.GetError() == GL_NO_ERROR;
}

bool GlDevice::ReadPixels(int32_t x, int32_t y, int32_t width, int32_t height, uint8_t* destination,
                          size_t stride) {
    if (target_ == 0 || destination == nullptr || width <= 0 || height <= 0) return false;
    if (x < 0 || y < 0 || x > target_width_ - width || y > target_height_ - height) return false;
    if (stride % 4 != 0 || stride / 4 < static_cast<size_t>(width)) return false;
    Current current(*this);
    if (!current.ok()) return false;
    const GlFunctions& gl = impl_->gl;
    gl.BindFramebuffer(GL_FRAMEBUFFER, impl_->framebuffer);
    gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.PixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(stride / 4));
    gl.ReadPixels(x, y, width, height, GL_BGRA, GL_UNSIGNED_BYTE, destination);
    gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
    return gl.GetError() == GL_NO_ERROR;
}

void GlDevice::RestoreState() {
    Current current(*this);
    if (!current.ok()) return;
    const Impl& impl = *impl_;
    const GlFunctions& gl = impl.gl;
    gl.UseProgram(impl.programs[0].id);
    gl.BindVertexArray(impl.vao);
    gl.BindBuffer(GL_ARRAY_BUFFER, impl.vbo);
    gl.Disable(GL_DEPTH_TEST);
    gl.Disable(GL_CULL_FACE);
    gl.Disable(GL_SCISSOR_TEST);
    gl.Disable(GL_STENCIL_TEST);
    gl.Disable(GL_DITHER);
    gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl.Enable(GL_BLEND);
    gl.BindFramebuffer(GL_FRAMEBUFFER, impl.framebuffer);
    if (target_ != 0) {
        gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target_, 0);
        gl.Viewport(0, 0, target_width_, target_height_);
    }
}

void GlDevice::Finish() {
    Current current(*this);
    if (current.ok()) impl_->gl.Finish();
}

}  // namespace zk::platform
