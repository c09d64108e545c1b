// The GPU path on whatever OpenGL EGL gives (llvmpipe in CI), each against
// a bare OpenGL loop doing the same work in the same context and run:
// - tile uploads: a 1024 x 1024 layer built as textures (command 1's caps:
//   512 x 256 tiles) against glTexSubImage2D of the same bytes into the same
//   number of textures of the same sizes;
// - a 1920 x 1080 frame of 20 texture layers, drawn and read back, against
//   the same quads drawn by a bare program plus glReadPixels.
// Informational only: it prints ratios and never fails.
#include <EGL/egl.h>
#include <GL/glcorearb.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_rounds.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "engine/engine_reset.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_gpu_requests.h"
#include "platform/ui.h"
#include "renderer/gpu_device.h"
#include "renderer/texture_grid.h"

namespace {

using namespace zk;

constexpr int32_t kFrameWidth = 1920, kFrameHeight = 1080;
constexpr int kLayers = 20;
constexpr int kRounds = 15;

// Runs each contender once first: llvmpipe compiles a program at its first
// draw, which no round should pay for.
std::vector<zk::bench::Timing> Measure(const std::vector<std::function<void()>>& contenders) {
    for (const auto& run : contenders) run();
    return zk::bench::Interleaved(kRounds, contenders);
}

template <class T>
T Load(const char* name) {
    return reinterpret_cast<T>(eglGetProcAddress(name));
}

struct BareGl {
    PFNGLGENTEXTURESPROC GenTextures = Load<PFNGLGENTEXTURESPROC>("glGenTextures");
    PFNGLDELETETEXTURESPROC DeleteTextures = Load<PFNGLDELETETEXTURESPROC>("glDeleteTextures");
    PFNGLBINDTEXTUREPROC BindTexture = Load<PFNGLBINDTEXTUREPROC>("glBindTexture");
    PFNGLTEXIMAGE2DPROC TexImage2D = Load<PFNGLTEXIMAGE2DPROC>("glTexImage2D");
    PFNGLTEXSUBIMAGE2DPROC TexSubImage2D = Load<PFNGLTEXSUBIMAGE2DPROC>("glTexSubImage2D");
    PFNGLTEXPARAMETERIPROC TexParameteri = Load<PFNGLTEXPARAMETERIPROC>("glTexParameteri");
    PFNGLPIXELSTOREIPROC PixelStorei = Load<PFNGLPIXELSTOREIPROC>("glPixelStorei");
    PFNGLFINISHPROC Finish = Load<PFNGLFINISHPROC>("glFinish");
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = Load<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers");
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = Load<PFNGLDELETEFRAMEBUFFERSPROC>("glDeleteFramebuffers");
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = Load<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer");
    PFNGLFRAMEBUFFERTEXTURE2DPROC FramebufferTexture2D =
        Load<PFNGLFRAMEBUFFERTEXTURE2DPROC>("glFramebufferTexture2D");
    PFNGLVIEWPORTPROC Viewport = Load<PFNGLVIEWPORTPROC>("glViewport");
    PFNGLCLEARCOLORPROC ClearColor = Load<PFNGLCLEARCOLORPROC>("glClearColor");
    PFNGLCLEARPROC Clear = Load<PFNGLCLEARPROC>("glClear");
    PFNGLENABLEPROC Enable = Load<PFNGLENABLEPROC>("glEnable");
    PFNGLBLENDFUNCPROC BlendFunc = Load<PFNGLBLENDFUNCPROC>("glBlendFunc");
    PFNGLCREATESHADERPROC CreateShader = Load<PFNGLCREATESHADERPROC>("glCreateShader");
    PFNGLSHADERSOURCEPROC ShaderSource = Load<PFNGLSHADERSOURCEPROC>("glShaderSource");
    PFNGLCOMPILESHADERPROC CompileShader = Load<PFNGLCOMPILESHADERPROC>("glCompileShader");
    PFNGLCREATEPROGRAMPROC CreateProgram = Load<PFNGLCREATEPROGRAMPROC>("glCreateProgram");
    PFNGLATTACHSHADERPROC AttachShader = Load<PFNGLATTACHSHADERPROC>("glAttachShader");
    PFNGLLINKPROGRAMPROC LinkProgram = Load<PFNGLLINKPROGRAMPROC>("glLinkProgram");
    PFNGLDELETEPROGRAMPROC DeleteProgram = Load<PFNGLDELETEPROGRAMPROC>("glDeleteProgram");
    PFNGLDELETESHADERPROC DeleteShader = Load<PFNGLDELETESHADERPROC>("glDeleteShader");
    PFNGLUSEPROGRAMPROC UseProgram = Load<PFNGLUSEPROGRAMPROC>("glUseProgram");
    PFNGLGENVERTEXARRAYSPROC GenVertexArrays = Load<PFNGLGENVERTEXARRAYSPROC>("glGenVertexArrays");
    PFNGLDELETEVERTEXARRAYSPROC DeleteVertexArrays = Load<PFNGLDELETEVERTEXARRAYSPROC>("glDeleteVertexArrays");
    PFNGLBINDVERTEXARRAYPROC BindVertexArray = Load<PFNGLBINDVERTEXARRAYPROC>("glBindVertexArray");
    PFNGLGENBUFFERSPROC GenBuffers = Load<PFNGLGENBUFFERSPROC>("glGenBuffers");
    PFNGLDELETEBUFFERSPROC DeleteBuffers = Load<PFNGLDELETEBUFFERSPROC>("glDeleteBuffers");
    PFNGLBINDBUFFERPROC BindBuffer = Load<PFNGLBINDBUFFERPROC>("glBindBuffer");
    PFNGLBUFFERDATAPROC BufferData = Load<PFNGLBUFFERDATAPROC>("glBufferData");
    PFNGLVERTEXATTRIBPOINTERPROC VertexAttribPointer = Load<PFNGLVERTEXATTRIBPOINTERPROC>("glVertexAttribPointer");
    PFNGLENABLEVERTEXATTRIBARRAYPROC EnableVertexAttribArray =
        Load<PFNGLENABLEVERTEXATTRIBARRAYPROC>("glEnableVertexAttribArray");
    PFNGLDRAWARRAYSPROC DrawArrays = Load<PFNGLDRAWARRAYSPROC>("glDrawArrays");
    PFNGLREADPIXELSPROC ReadPixels = Load<PFNGLREADPIXELSPROC>("glReadPixels");
    PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation = Load<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation");
    PFNGLUNIFORM2FPROC Uniform2f = Load<PFNGLUNIFORM2FPROC>("glUniform2f");
};

NamedTreeNode* MakeLayer(NamedTreeNode* parent, const std::string& name, int32_t w, int32_t h, int64_t order) {
    NamedTreeNode* node = CreateTreeNode(parent, name, false, order);
    CgImage* image = CreateCgImage(node);
    image->width = w;
    image->height = h;
    AllocCgPixels(*image, w, h);
    for (size_t i = 0; i < static_cast<size_t>(w) * h * 4; ++i)
        image->current_pixels[i] = static_cast<uint8_t>(i * 7 + static_cast<size_t>(order));
    image->texture_kind = kTextureKindGrid;
    return node;
}

}  // namespace

int main() {
    platform::RecordingUi ui;
    platform::InstallUi(&ui);
    ResetEngine();
    InitPathCharTable();
    CreateWindowRecords();
    NamedTreeNode* root = CreateRootNode();
    TheRootTrees().layers = root;
    TheRootTrees().layer_folder = "W0";
    NamedTreeNode* w0 = CreateTreeNode(root, "W0", true, 1);
    CgImage* w0_image = CreateCgImage(w0);
    w0_image->width = kFrameWidth;
    w0_image->height = kFrameHeight;
    AllocCgPixels(*w0_image, kFrameWidth, kFrameHeight);
    WindowRecord* record = GetWindowRecord(0);
    record->shown_layer_set = w0;
    record->client_width = kFrameWidth;
    record->client_height = kFrameHeight;
    Settings().direct3d_layer_mode = 1;
    RegisterGpuDeviceHooks();
    if (InitDirect3D() != 0) {
        std::printf("gpu_layers: no OpenGL 3.3 core context through EGL; nothing measured\n");
        ResetEngine();
        platform::InstallUi(nullptr);
        return 0;
    }
    {
    platform::GlDevice& device = *TheRendererObjects().device;
    platform::GlDevice::Current current(device);
    BareGl gl;

    // ---- tile uploads
    std::printf("gpu_layers: tile uploads of a 1024 x 1024 layer (512 x 256 tiles)\n");
    NamedTreeNode* big = MakeLayer(w0, "big", 1024, 1024, 1);
    CgImage& big_image = *LayerImage(big);
    CreateLayerTextures(big_image, 0, 512, 256);
    const TextureGrid grid = *big_image.textures;
    std::vector<GLuint> bare(static_cast<size_t>(grid.columns) * grid.rows);
    gl.GenTextures(static_cast<GLsizei>(bare.size()), bare.data());
    for (size_t i = 0; i < bare.size(); ++i) {
        gl.BindTexture(GL_TEXTURE_2D, bare[i]);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, grid.tile_widths[i % grid.columns],
                      grid.tile_heights[i / grid.columns], 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    }
    const auto upload = Measure(
        {[&] {
             // Paste mode: the same textures receive the pixels again.
             TextureUploadRequest& request = TheTextureUploadRequest();
             request = {};
             request.width = request.height = 1024;
             request.width_cap = 512;
             request.height_cap = 256;
             request.source = &big_image;
             request.holder = &big_image;
             UploadLayerTextures(UploadMode::kPaste);
             device.Finish();
         },
         [&] {
             gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 1024);
             for (int32_t r = 0; r < grid.rows; ++r) {
                 for (int32_t c = 0; c < grid.columns; ++c) {
                     gl.BindTexture(GL_TEXTURE_2D, bare[static_cast<size_t>(r * grid.columns + c)]);
                     const uint8_t* at = big_image.current_pixels + (static_cast<size_t>(r) * 256 * 1024 + c * 512) * 4;
                     gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 512, 256, GL_BGRA, GL_UNSIGNED_BYTE, at);
                 }
             }
             gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
             gl.Finish();
         }});
    bench::PrintRatio("tile uploads, bare glTexSubImage2D time / engine time", upload[0], upload[1]);
    gl.DeleteTextures(static_cast<GLsizei>(bare.size()), bare.data());
    FreeLayerNode(big);

    // ---- a 1080p frame of 20 layers
    std::printf("gpu_layers: a 1920 x 1080 frame of %d layers of 400 x 256, drawn and read back\n", kLayers);
    std::vector<GLuint> layer_textures;
    for (int i = 0; i < kLayers; ++i) {
        NamedTreeNode* node = MakeLayer(w0, "l" + std::to_string(i), 400, 256, 10 + i);
        CgImage& image = *LayerImage(node);
        CreateLayerTextures(image, 0, 512, 256);
        image.x100 = (i % 5) * 38000;
        image.y100 = (i / 5) * 25000;
        image.opacity = 200;
    }
    NamedTreeNode* capture = CreateTreeNode(w0, "capture", false, 1000);
    CgImage* capture_image = CreateCgImage(capture);
    capture_image->width = kFrameWidth;
    capture_image->height = kFrameHeight;
    AllocCgPixels(*capture_image, kFrameWidth, kFrameHeight);
    TheLayerGpuRequests().capture_layer = capture;

    // The bare loop: one texture per layer tile, the same quads, one
    // program with the normal blend, glReadPixels of the frame.
    const char* vertex_source = R"(#version 330 core
layout(location = 0) in vec2 p; layout(location = 1) in vec2 t; uniform vec2 size; out vec2 uv;
void main() { gl_Position = vec4((p + 0.5) / size * 2.0 - 1.0, 0.0, 1.0); uv = t; })";
    const char* fragment_source = R"(#version 330 core
in vec2 uv; uniform sampler2D s; out vec4 o; void main() { vec4 c = texture(s, uv); o = vec4(c.rgb, c.a * 0.784); })";
    GLuint vs = gl.CreateShader(GL_VERTEX_SHADER), fs = gl.CreateShader(GL_FRAGMENT_SHADER);
    gl.ShaderSource(vs, 1, &vertex_source, nullptr);
    gl.ShaderSource(fs, 1, &fragment_source, nullptr);
    gl.CompileShader(vs);
    gl.CompileShader(fs);
    GLuint program = gl.CreateProgram();
    gl.AttachShader(program, vs);
    gl.AttachShader(program, fs);
    gl.LinkProgram(program);
    GLuint vao = 0, vbo = 0, fbo = 0, target = 0;
    gl.GenVertexArrays(1, &vao);
    gl.GenBuffers(1, &vbo);
    gl.GenFramebuffers(1, &fbo);
    gl.GenTextures(1, &target);
    gl.BindTexture(GL_TEXTURE_2D, target);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kFrameWidth, kFrameHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    std::vector<uint8_t> tile_bytes(512 * 256 * 4, 0x80);
    for (int i = 0; i < kLayers; ++i) {
        GLuint texture = 0;
        gl.GenTextures(1, &texture);
        gl.BindTexture(GL_TEXTURE_2D, texture);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 512, 256, 0, GL_BGRA, GL_UNSIGNED_BYTE, tile_bytes.data());
        layer_textures.push_back(texture);
    }
    std::vector<uint8_t> bare_frame(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4);
    const auto frame = Measure(
        {[&] { DrawLayerFrame(); },
         [&] {
             gl.BindFramebuffer(GL_FRAMEBUFFER, fbo);
             gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
             gl.Viewport(0, 0, kFrameWidth, kFrameHeight);
             gl.ClearColor(0, 0, 0, 0);
             gl.Clear(GL_COLOR_BUFFER_BIT);
             gl.UseProgram(program);
             gl.Uniform2f(gl.GetUniformLocation(program, "size"), kFrameWidth, kFrameHeight);
             gl.BindVertexArray(vao);
             gl.BindBuffer(GL_ARRAY_BUFFER, vbo);
             gl.Enable(GL_BLEND);
             gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
             for (int i = 0; i < kLayers; ++i) {
                 const float x = (i % 5) * 380.0f - 0.5f, y = (i / 5) * 250.0f - 0.5f;
                 const float top = y, bottom = top + 256.0f;
                 const float quad[16] = {x, bottom, 0, 1, x + 512, bottom, 1, 1, x, top, 0, 0, x + 512, top, 1, 0};
                 gl.BufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STREAM_DRAW);
                 gl.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
                 gl.VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
                 gl.EnableVertexAttribArray(0);
                 gl.EnableVertexAttribArray(1);
                 gl.BindTexture(GL_TEXTURE_2D, layer_textures[static_cast<size_t>(i)]);
                 gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
             }
             gl.ReadPixels(0, 0, kFrameWidth, kFrameHeight, GL_BGRA, GL_UNSIGNED_BYTE, bare_frame.data());
         }});
    bench::PrintRatio("1080p frame of 20 layers, bare GL time / engine time", frame[0], frame[1]);

    gl.DeleteTextures(static_cast<GLsizei>(layer_textures.size()), layer_textures.data());
    gl.DeleteTextures(1, &target);
    gl.DeleteFramebuffers(1, &fbo);
    gl.DeleteBuffers(1, &vbo);
    gl.DeleteVertexArrays(1, &vao);
    gl.DeleteProgram(program);
    gl.DeleteShader(vs);
    gl.DeleteShader(fs);
    device.RestoreState();
    }
    ResetEngine();
    platform::InstallUi(nullptr);
    return 0;
}
