// What the image operation tests share: a layer tree with leaves whose
// images are painted from a fixed seed, error texts that show their code
// ("E<code>|a|b|c|d"), a recording message box, and the engine's worker
// pool started with a chosen number of workers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/mt19937.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/system_facts.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/worker_pool.h"
#include "platform/ui.h"
#include "tools/lib/zke_writer.h"

namespace zk::effects_test {

// A plain copy of an image's pixels with its size, for reference loops.
struct Pixels {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> p;

    uint32_t At(int64_t x, int64_t y) const { return p[size_t(y * width + x)]; }
    uint32_t& At(int64_t x, int64_t y) { return p[size_t(y * width + x)]; }
    uint8_t Byte(int64_t x, int64_t y, int c) const { return uint8_t(At(x, y) >> (8 * c)); }
    bool operator==(const Pixels&) const = default;
};

inline uint32_t Bgra(int b, int g, int r, int a) {
    return uint32_t(b & 255) | uint32_t(g & 255) << 8 | uint32_t(r & 255) << 16 | uint32_t(a & 255) << 24;
}

// Random pixels from a fixed seed; `opaque` forces alpha 255.
inline Pixels RandomPixels(int32_t width, int32_t height, uint32_t seed, bool opaque = false) {
    Mt19937 random;
    random.Seed(seed);
    Pixels image{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
    for (uint32_t& v : image.p) {
        v = random.Next();
        if (opaque) v |= 0xFF000000u;
    }
    return image;
}

// Smooth pictures with a few sharp edges, closer to what games show.
inline Pixels PicturePixels(int32_t width, int32_t height, uint32_t seed) {
    Mt19937 random;
    random.Seed(seed);
    Pixels image{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
    const int bx = int(random.Next() % 64), by = int(random.Next() % 64);
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
            const int noise = int(random.Next() % 9);
            image.At(x, y) = Bgra(int(x * 3 + bx + noise), int(y * 5 + by), int((x ^ y) * 2), int(x + y * 7 + noise));
        }
    return image;
}

// The image's size and current pixels.
inline Pixels Read(const CgImage& image) {
    Pixels out{image.width, image.height, std::vector<uint32_t>(size_t(image.width) * size_t(image.height))};
    if (!out.p.empty()) std::memcpy(out.p.data(), image.current_pixels, out.p.size() * 4);
    return out;
}

class EffectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        ResetErrorReporter();
        platform::InstallUi(&ui_);
        InitPathCharTable();
        root_ = CreateRootNode();
        TheRootTrees().layers = root_;
        InstallErrorTexts();
    }

    void TearDown() override {
        StopWorkerThreads();
        TheSystemFacts().worker_count = 1;
        QuitFlag = 0;
        FreeTreeNode(root_);
        TheRootTrees() = RootTrees{};
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
    }

    static void InstallErrorTexts() {
        std::vector<tools::ZkeRecord> records;
        for (uint32_t code : {100010u, 104030u}) records.push_back({code, "E" + std::to_string(code) + "|%s|%s|%s|%s"});
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(records), ErrorReporter().table));
    }

    // Runs the engine's worker pool with `workers` threads (1..4).
    void UseWorkers(int workers) {
        StopWorkerThreads();
        QuitFlag = 0;
        TheSystemFacts().worker_count = int8_t(workers);
        ASSERT_EQ(StartWorkerThreads(), 0);
    }

    // A leaf under the root holding `pixels`.
    NamedTreeNode* Layer(std::string_view name, const Pixels& pixels, uint8_t alpha_in_use = 1) {
        NamedTreeNode* node = FindNodeByPath(root_, name, kFindLeaf);
        if (node == nullptr) node = CreateTreeNode(root_, name, false, 1);
        CgImage* image = CreateCgImage(node);
        image->width = pixels.width;
        image->height = pixels.height;
        EXPECT_TRUE(AllocCgPixels(*image, pixels.width, pixels.height));
        if (!pixels.p.empty()) std::memcpy(image->owned_block.data(), pixels.p.data(), pixels.p.size() * 4);
        image->alpha_in_use = alpha_in_use;
        return node;
    }
    static CgImage& Image(NamedTreeNode* node) { return *LayerImage(node); }
    static Pixels Read(NamedTreeNode* node) { return effects_test::Read(*LayerImage(node)); }

    // The last error number reported since the last ForgetReports (0: none).
    uint32_t LastError() const {
        const std::vector<uint32_t> numbers = ui_.ErrorNumbers();
        return numbers.size() > numbers_seen_ ? numbers.back() : 0;
    }
    static void ExpectClean() { EXPECT_EQ(ErrorReporter().reports, 0u) << ErrorReporter().message; }
    void ForgetReports() {
        ResetErrorReporter();
        QuitFlag = 0;
        InstallErrorTexts();
        ui_.boxes.clear();
        numbers_seen_ = ui_.ErrorNumbers().size();
    }

    platform::RecordingUi ui_;
    NamedTreeNode* root_ = nullptr;
    size_t numbers_seen_ = 0;
};

}  // namespace zk::effects_test
