// Running save and load scripts: the script machine of the runner tests
// with the save commands, the layer commands and the codecs loaded, the
// save folder "save\" in the test's game folder, and helpers that read
// and patch the save files the scripts write.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/settings.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_command.h"
#include "platform/codec_registry.h"
#include "storage/codec_loading.h"
#include "engine/save_commands.h"
#include "storage/save_format.h"
#include "storage/save_rows.h"
#include "tests/script/runner_test_support.h"
#include "layers/layer_tree_root.h"

namespace zk::save_test {

namespace fs = std::filesystem;

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= uint32_t{bytes.at(offset + i)} << (8 * i);
    return value;
}

class SaveTest : public script_test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        platform::ResetCodecRegistry();
        LoadCodecLibraries();
        RegisterSaveCommands();
        InstallLayerCommands();
        Settings().save_folder_root = platform::PathRoot::kGame;
        Settings().save_folder = "save\\";
        ResetSaveRows();
        FreeDataBlockBuffers(-1);
    }
    void TearDown() override {
        ResetSaveRows();
        FreeDataBlockBuffers(-1);
        UnloadCodecLibraries();
        platform::ResetCodecRegistry();
        ScriptRunTest::TearDown();
    }

    // Boots with the save and load error texts ("E<code> %s %s %s %s").
    bool BootSave(std::string_view text) {
        tools::ScriptText script = tools::ScriptGame(text);
        return BootSave(script);
    }
    bool BootSave(tools::ScriptText& script) {
        script.game.error_texts = script_test::RunnerErrorTexts();
        for (uint32_t code : {101250u, 102100u, 102110u, 102120u, 102140u, 102150u, 102160u, 102170u, 108030u,
                              108040u, 108050u, 108070u, 108080u, 108090u, 108100u, 108110u, 104030u}) {
            script.game.error_texts.push_back({code, "E" + std::to_string(code) + " %s %s %s %s"});
        }
        symbols = script.Symbols();
        if (!script.game.Write(game_)) return false;
        platform::ClearPathCache();
        Hooks().create_script_task = CreateScriptTaskHook;
        Hooks().create_layer_tree = CreateLayerTree;
        CreateRootTrees();
        return BootScriptSystem() == 0;
    }

    fs::path SavePath(const std::string& name) const { return game_ / "save" / name; }

    // The texts of the message boxes shown so far.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> texts;
        for (const auto& box : ui_.boxes) texts.push_back(box.text);
        return texts;
    }

    static NamedTreeNode* Layer(std::string_view name) {
        return FindNodeByPath(TheRootTrees().layers, "W0/" + std::string(name), kFindLeaf);
    }
    // Gives a layer a picture of w x h whose pixels count up from `seed`.
    static void Paint(std::string_view name, int32_t width, int32_t height, uint8_t seed) {
        CgImage* image = LayerImage(Layer(name));
        ASSERT_NE(image, nullptr);
        ASSERT_TRUE(AllocCgPixels(*image, width, height));
        image->width = width;
        image->height = height;
        for (size_t i = 0; i < size_t(width) * 4 * size_t(height); ++i)
            image->current_pixels[i] = static_cast<uint8_t>(seed + i);
    }
    static std::vector<uint8_t> Pixels(std::string_view name) {
        const CgImage* image = LayerImage(Layer(name));
        if (image == nullptr || image->current_pixels == nullptr) return {};
        return std::vector<uint8_t>(image->current_pixels,
                                    image->current_pixels + size_t(image->width) * 4 * size_t(image->height));
    }
};

}  // namespace zk::save_test
