#include "layers/emote_players.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "base/system_text.h"
#include "base/text_encoding.h"
#include "core/error_report.h"
#include "layers/layer_gpu_requests.h"
#include "platform/emote_library.h"

namespace zk {

namespace {

EmotePlayerTable player_table;
EmoteDeviceLink device_link;
ZkEmoteDevice emote_device{};

const platform::EmoteApiTable& Api() { return platform::EmoteApi(); }

void* Handle(const CgImage& image) { return image.emote_player != nullptr ? image.emote_player->handle : nullptr; }

// Every slot and list entry that names `image` lets go of it.
void ForgetImage(const CgImage* image) {
    for (EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image == image) slot = EmotePlayerSlot{};
    }
    std::erase(player_table.unregistered, image);
}

// The player's owner lets go of it: its slots are freed, the library
// releases it, and the picture is redrawn without it.
void DestroyEmotePlayer(EmotePlayer* player) {
    std::unique_ptr<EmotePlayer> owner(player);
    ForgetImage(owner->image);
    if (owner->handle != nullptr && EmoteAvailable()) CallEmote(Api().release_player, owner->handle);
    TheLayerGpuRequests().full_redraw = 1;
}

CgOwned<EmotePlayer> NewEmotePlayer(CgImage& image, void* handle) {
    auto player = std::make_unique<EmotePlayer>();
    player->handle = handle;
    player->image = &image;
    return CgOwned<EmotePlayer>(player.release(), DestroyEmotePlayer);
}

// ---- matrices (row-major, row vectors) --------------------------------------------
using Matrix = std::array<float, 16>;
struct Vector3 {
    double x, y, z;
};

Matrix Identity() {
    Matrix m{};
    m[0] = m[5] = m[10] = m[15] = 1.0f;
    return m;
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix out{};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a[row * 4 + k] * b[k * 4 + column];
            out[row * 4 + column] = sum;
        }
    }
    return out;
}

// Turns points about the z axis by `radians`.
Matrix RotationZ(double radians) {
    Matrix m = Identity();
    const float c = static_cast<float>(std::cos(radians));
    const float s = static_cast<float>(std::sin(radians));
    m[0] = c;
    m[1] = s;
    m[4] = -s;
    m[5] = c;
    return m;
}

Vector3 Subtract(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vector3 Cross(Vector3 a, Vector3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(Vector3 a, Vector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vector3 Normalised(Vector3 v) {
    const double length = std::sqrt(Dot(v, v));
    if (length == 0.0) return v;
    return {v.x / length, v.y / length, v.z / length};
}

// A left-handed view from `eye` towards `at`.
Matrix LookAtLH(Vector3 eye, Vector3 at, Vector3 up) {
    const Vector3 z = Normalised(Subtract(at, eye));
    const Vector3 x = Normalised(Cross(up, z));
    const Vector3 y = Cross(z, x);
    Matrix m{};
    const Vector3 axes[3] = {x, y, z};
    for (int column = 0; column < 3; ++column) {
        m[0 * 4 + column] = static_cast<float>(axes[column].x);
        m[1 * 4 + column] = static_cast<float>(axes[column].y);
        m[2 * 4 + column] = static_cast<float>(axes[column].z);
        m[3 * 4 + column] = static_cast<float>(-Dot(axes[column], eye));
    }
    m[15] = 1.0f;
    return m;
}

void Store(float (&out)[16], const Matrix& m) { std::copy(m.begin(), m.end(), out); }

// Where a model layer keeps its model's position (1/100 pixel): the first
// two placement values, the centre its quad (drawn unrotated) does not use.
int64_t ModelX(const CgImage& image) { return image.placement[0]; }
int64_t ModelY(const CgImage& image) { return image.placement[1]; }

}  // namespace

EmotePlayerTable& TheEmotePlayerTable() { return player_table; }

bool EmoteAvailable() { return platform::EmoteLibraryAvailable(); }

EmoteDeviceLink& TheEmoteDeviceLink() { return device_link; }
ZkEmoteDevice& TheEmoteDevice() { return emote_device; }

bool EmoteDeviceReady() { return device_link.device_ready != nullptr && device_link.device_ready(); }

void DescribeEmoteDevice(void* (*get_proc_address)(const char*), int32_t gl_major, int32_t gl_minor) {
    emote_device.get_proc_address = get_proc_address;
    emote_device.gl_major = gl_major;
    emote_device.gl_minor = gl_minor;
}

void RunWithEmoteDevice(void (*body)(void*), void* data) {
    if (device_link.with_device != nullptr) {
        device_link.with_device(body, data);
    } else {
        body(data);
    }
}

int32_t CreateEmoteDriver() {
    ReleaseAllEmotePlayers();
    if (!EmoteAvailable() || !EmoteDeviceReady()) return 1;
    ZkEmoteDriverArgs args{&emote_device, nullptr, nullptr};
    player_table.driver = CallEmote(Api().create_driver, &args);
    if (player_table.driver == nullptr) return 1;
    CallEmote(Api().set_up_driver, player_table.driver, 0.0f);
    return 0;
}

void ReleaseAllEmotePlayers() {
    // Players without a slot first: every player goes before its driver.
    while (!player_table.unregistered.empty()) {
        CgImage* image = player_table.unregistered.back();
        player_table.unregistered.pop_back();
        ReleaseEmotePlayer(*image);
    }
    for (EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image == nullptr) continue;
        CgImage* image = slot.image;
        slot = EmotePlayerSlot{};
        ReleaseEmotePlayer(*image);
    }
    if (player_table.driver != nullptr) {
        if (EmoteAvailable()) CallEmote(Api().release_driver, player_table.driver);
        player_table.driver = nullptr;
    }
}

void ReleaseEmotePlayer(CgImage& image) {
    if (image.emote_player == nullptr) return;
    image.emote_player.reset();
    image.texture_kind = kTextureKindCpu;
}

int32_t LoadEmotePlayer(CgImage& image, std::span<const uint8_t> bytes) {
    if (image.emote_player != nullptr) {
        ShowMessageBox(nullptr, Sjis("EmotePlayerがすでに読み込まれています."));
        return 1;
    }
    void* handle = nullptr;
    // Without a driver (no device) nothing can load a model.
    if (EmoteAvailable() && player_table.driver != nullptr) {
        CallEmote(Api().load_player, player_table.driver, bytes.data(), static_cast<uint64_t>(bytes.size()), &handle);
    }
    if (handle == nullptr) {
        ShowMessageBox(nullptr, Sjis("EmotePlayer読み込みに失敗しました."));
        return 1;
    }
    image.emote_player = NewEmotePlayer(image, handle);
    auto free_slot = std::find_if(player_table.slots.begin(), player_table.slots.end(),
                                  [](const EmotePlayerSlot& slot) { return slot.image == nullptr; });
    if (free_slot == player_table.slots.end()) {
        // The player stays in the image; listed, it is still released
        // before its driver.
        player_table.unregistered.push_back(&image);
        ShowMessageBox(nullptr, Sjis("EmotePlayer最大読込数をオーバーしました."));
        return 1;
    }
    *free_slot = EmotePlayerSlot{&image, 0.0f};
    CallEmote(Api().set_value_214, handle, 0.5f);
    CallEmote(Api().set_value_218, handle, 0.5f);
    CallEmote(Api().set_value_216, handle, 0.5f);
    return 0;
}

void SetEmotePlayerPosition(CgImage& image, float x, float y) {
    if (void* handle = Handle(image); handle != nullptr && EmoteAvailable()) {
        CallEmote(Api().set_position, handle, x, y, 0.0f, 0.0f);
    }
}

void SetEmotePlayerScale(CgImage& image, float scale) {
    if (void* handle = Handle(image); handle != nullptr && EmoteAvailable()) {
        CallEmote(Api().set_scale, handle, scale, 0.0f, 0.0f);
    }
}

void SetEmotePlayerRotation(CgImage& image, float radians) {
    if (void* handle = Handle(image); handle != nullptr && EmoteAvailable()) {
        CallEmote(Api().set_rotation, handle, radians, 0.0f, 0.0f);
    }
}

void AdvanceEmotePlayer(CgImage& image, float ms) {
    if (void* handle = Handle(image); handle != nullptr && EmoteAvailable()) {
        CallEmote(Api().advance, handle, ms * 0.06f);
    }
}

void DrawEmotePlayer(CgImage& image) {
    if (void* handle = Handle(image); handle != nullptr && EmoteAvailable()) CallEmote(Api().draw, handle);
}

void SetEmoteCamera(float x, float y, float angle, int32_t view_width, int32_t view_height) {
    if (!EmoteDeviceReady()) return;
    // A view without an extent would divide by zero: one pixel instead.
    if (view_height == 0 || view_width == 0) view_width = view_height = 1;
    const double w = view_width, h = view_height;
    Store(emote_device.world, Multiply(Identity(), RotationZ(-double(angle) * 2.0 * std::numbers::pi / 360.0)));
    const Vector3 eye{-double(x) - 0.5, 0.5 - double(y), h / 2.0};
    const Vector3 at{-double(x) - 0.5, 0.5 - double(y), h / 2.0 - 1.0};
    Matrix view = LookAtLH(eye, at, Vector3{0.0, -1.0, 0.0});
    view[0] = -view[0];  // mirrors x
    Store(emote_device.view, view);
    Matrix projection{};
    projection[0] = static_cast<float>(h / w);
    projection[5] = 1.0f;
    projection[10] = 1.0f;
    projection[11] = 1.0f;
    Store(emote_device.projection, projection);
}

void ResetEmoteCamera() {
    if (EmoteAvailable()) SetEmoteCamera(0.0f, 0.0f, 0.0f, 1, 1);
}

void RenderEmoteModel(CgImage& image, int32_t view_width, int32_t view_height) {
    const double model_x = static_cast<double>(ModelX(image));
    const double model_y = static_cast<double>(ModelY(image));
    SetEmotePlayerPosition(image, static_cast<float>(-model_x / 200.0), static_cast<float>(model_y / 200.0));
    SetEmotePlayerScale(image, static_cast<float>(static_cast<double>(image.zoom_x) / 10000.0));
    const double degrees = -static_cast<double>(image.angles[2]) / 100.0;
    SetEmotePlayerRotation(image, static_cast<float>(degrees * std::numbers::pi / 180.0));
    SetEmoteCamera(static_cast<float>(static_cast<double>(image.x100) / 100.0 - model_x / 200.0 - view_width / 2.0),
                   static_cast<float>(static_cast<double>(image.y100) / 100.0 - model_y / 200.0 - view_height / 2.0),
                   0.0f, view_width, view_height);
    for (EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image == &image && slot.pending_ms != 0.0f) {
            AdvanceEmotePlayer(image, slot.pending_ms);
            slot.pending_ms = 0.0f;
        }
    }
    DrawEmotePlayer(image);
}

uint8_t PollEmotePlayers() {
    if (!EmoteAvailable()) return 0;
    for (const EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image == nullptr) continue;
        void* handle = Handle(*slot.image);
        if (handle == nullptr) continue;
        if (CallEmote(Api().needs_redraw, handle) == 1) return 1;
        if (CallEmote(Api().needs_redraw_for, handle, "") == 1) return 1;
    }
    return 0;
}

void AdvancePendingEmoteTime() {
    for (EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image == nullptr || slot.pending_ms == 0.0f) continue;
        AdvanceEmotePlayer(*slot.image, slot.pending_ms);
        slot.pending_ms = 0.0f;
    }
}

void RecordEmoteElapsed(uint32_t elapsed_ms) {
    const float pending = elapsed_ms > 10000 ? 16.0f : static_cast<float>(elapsed_ms);
    for (EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image != nullptr) slot.pending_ms = pending;
    }
}

void HandOverEmotePlayer(CgImage& target, CgImage& other) {
    if (&target == &other) return;
    if (target.texture_kind != kTextureKindEmote || target.emote_player == nullptr) return;
    if (other.texture_kind == kTextureKindEmote) ReleaseEmotePlayer(other);
    other.texture_kind = kTextureKindEmote;
    other.emote_player = std::move(target.emote_player);
    other.emote_player->image = &other;
    for (EmotePlayerSlot& slot : player_table.slots) {
        if (slot.image == &target) slot.image = &other;
    }
    std::replace(player_table.unregistered.begin(), player_table.unregistered.end(), &target, &other);
    target.texture_kind = kTextureKindGrid;
}

std::string ShiftJisToUtf8(std::string_view text) { return Cp932ToUtf8(text); }

void ResetEmotePlayers() {
    if (EmoteAvailable()) ReleaseAllEmotePlayers();
    player_table.driver = nullptr;
    // Players the library never knew (it was gone) are only forgotten.
    player_table.unregistered.clear();
    player_table.slots = {};
    device_link = EmoteDeviceLink{};
    emote_device = ZkEmoteDevice{};
    platform::UnloadEmoteLibrary();
}

}  // namespace zk
