#include "effects/edit_cg_command.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "base/sjis.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "effects/cg_operations.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "layers/layer_delete_swap.h"
#include "layers/layer_gpu_requests.h"
#include "renderer/sprite_capture.h"
#include "layers/text_draw.h"
#include "layers/text_style.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"

namespace zk {

namespace {

constexpr int32_t kMaxScaledSide = 8192;

// ---- reading the line ----------------------------------------------------------

int32_t Low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int32_t NumberOr(const CommandArgBlock& args, uint32_t keyword, int32_t fallback) {
    const CommandArgSlot* slot = args.Find(keyword);
    return slot != nullptr ? Low32(slot->value) : fallback;
}

// A layer's name: the text of `name_keyword`, then "." and the number of
// `number_keyword` when that is given.
std::string LayerName(const CommandArgBlock& args, uint32_t name_keyword, uint32_t number_keyword) {
    const CommandArgSlot* name = args.Find(name_keyword);
    std::string out(name != nullptr ? name->Text() : std::string_view());
    if (const CommandArgSlot* number = args.Find(number_keyword)) {
        out += '.';
        out += std::to_string(number->value);
    }
    return out;
}

// Keywords 9 and 10 are compiled expressions the command runs itself, once
// the layers exist. An absent keyword is 0.
bool EvaluateValue(const CommandArgBlock& args, uint32_t keyword, int64_t& value) {
    value = 0;
    const CommandArgSlot* slot = args.Find(keyword);
    if (slot == nullptr) return true;
    if (slot->code.size() != slot->code_length) {  // the record points outside the data section
        ReportScriptError(kErrMalformedCode, true);
        return false;
    }
    value = EvaluateExpr(static_cast<uint32_t>(slot->expr_type), slot->code).integer;
    return true;
}

bool AnyGiven(const CommandArgBlock& args, std::initializer_list<uint32_t> keywords) {
    return std::any_of(keywords.begin(), keywords.end(), [&](uint32_t k) { return args.Given(k); });
}

bool RectangleGiven(const CommandArgBlock& args) { return AnyGiven(args, {kEditX1, kEditY1, kEditX2, kEditY2}); }

// ---- reports ------------------------------------------------------------------------

std::string CommandText() { return std::string(CommandName(kCmdEditCg)); }
std::string KeywordText(uint32_t keyword) { return std::string(KeywordName(kCmdEditCg, keyword)); }

int32_t Refuse(uint32_t code, uint32_t keyword) {
    const std::string command = CommandText();
    const std::string name = KeywordText(keyword);
    ReportScriptErrorF(code, true, {command, name});
    return -1;
}

int32_t RefuseValue(uint32_t keyword, int64_t value, int64_t minimum, int64_t maximum) {
    const std::string command = CommandText();
    const std::string name = KeywordText(keyword);
    ReportScriptErrorF(kErrOutOfRange, true, {command, name, value, minimum, maximum});
    return -1;
}

// The value's low 32 bits, taken unsigned, against a limit: -1 fails every
// limit, 2^32 + 5 passes as 5.
bool ValueWithin(int64_t value, uint32_t limit) { return static_cast<uint32_t>(value) <= limit; }

int32_t Status(int32_t result) { return (result & 0xFF) != 0 ? -1 : 0; }

// ---- the layers ---------------------------------------------------------------------

// The target: null (and `stop` 0) when there is none, `stop` -1 when its
// name could not be normalised. A group is recomposed into its own image
// first, so the operation works on what it shows.
NamedTreeNode* ResolveTarget(const CommandArgBlock& args, int32_t& stop) {
    const RootTrees& trees = TheRootTrees();
    std::string path;
    const int32_t kind = NormaliseNodePath(path, LayerName(args, kEditTarget, kEditTargetNumber), trees.layer_folder, false);
    stop = kind < 0 ? -1 : 0;
    if (kind < 0 || trees.layers == nullptr) return nullptr;
    NamedTreeNode* node = FindNodeByPath(trees.layers, path, kind == 1 ? kFindGroup : kFindLeaf);
    CgImage* image = LayerImage(node);
    if (image == nullptr) return nullptr;
    if (node->group != 0) {
        image->dirty_valid = 1;
        image->whole_dirty = 1;
        image->dirty_rect = {0, 0, int64_t{image->width} - 1, int64_t{image->height} - 1};
        ComposeGroupLayer(node);
    }
    return node;
}

// Another layer, created as a 1 x 1 leaf under the layer root when it does
// not exist, and made dirty. False after a report (a group name, a name
// that cannot be normalised); a layer that cannot be created is null.
bool ResolveOther(const CommandArgBlock& args, uint32_t index, NamedTreeNode*& node) {
    node = nullptr;
    const RootTrees& trees = TheRootTrees();
    std::string path;
    const int32_t kind = NormaliseNodePath(path, LayerName(args, index, index + 4), trees.layer_folder, false);
    if (kind < 0) return false;
    if (kind == 1) {
        const std::string command = CommandText();
        ReportScriptErrorF(kErrOtherLayerIsGroup, true, {command, path});
        return false;
    }
    if (trees.layers == nullptr) return true;
    node = FindNodeByPath(trees.layers, path, kFindLeaf);
    if (node == nullptr) {
        node = CreateTreeNode(trees.layers, path, false, 1);
        CgImage* image = CreateCgImage(node);
        if (image != nullptr && AllocCgPixels(*image, 1, 1)) {
            image->width = 1;
            image->height = 1;
        }
    }
    InvalidateLayer(node);
    return true;
}

// ---- the operations -------------------------------------------------------------------

struct EditLine {
    NamedTreeNode* target = nullptr;
    NamedTreeNode* other = nullptr;
    NamedTreeNode* second_other = nullptr;
    int32_t count = 0;
    int64_t value = 0;
    int32_t value2 = 0;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int32_t x1_100 = 0, y1_100 = 0, x2_100 = 0, y2_100 = 0;
    int32_t width100 = 0, height100 = 0;
};

// The text of keyword 11 drawn character by character from (x1, y1) with
// the current slot's style and the value as edge distance. False when there
// is no text.
bool DrawLineText(const CommandArgBlock& args, EditLine& line) {
    const CommandArgSlot* text_slot = args.Find(kEditText);
    if (text_slot == nullptr) return false;
    const std::string_view text = text_slot->Text();
    const TextStyle style = CurrentTextSlot().style;
    int64_t pen = line.x1;
    for (size_t i = 0; i < text.size();) {
        // A lead byte at the very end is a character of its own.
        const size_t length = SjisCharLength(text, i);
        const int32_t x = static_cast<int32_t>(std::clamp<int64_t>(pen, INT32_MIN, INT32_MAX));
        pen += DrawTextGlyphToCg(text.substr(i, length), style.colour, style.second_colour, style.gradient_layout,
                                 style.orientation, style.size, style.height, style.bold, style.smoothing, line.value,
                                 x, line.y1, style.draw_mode, line.target);
        i += length;
    }
    line.x1 = NumberOr(args, kEditX1, 0);
    return true;
}

// Steps 7 of scaling: the destination must be 1..8192 pixels each way.
bool ScaledSizeAcceptable(const CommandArgBlock& args, const EditLine& line) {
    const std::array<std::pair<int32_t, uint32_t>, 2> sides = {{{line.width100, kEditWidth}, {line.height100, kEditHeight}}};
    for (const auto& [hundredths, keyword] : sides) {
        const int32_t pixels = hundredths / 100;
        if (static_cast<uint32_t>(pixels) - 1u > uint32_t{kMaxScaledSide - 1}) {
            const CommandArgSlot* slot = args.Find(keyword);
            RefuseValue(keyword, slot != nullptr ? slot->value : 0, 1, kMaxScaledSide);
            return false;
        }
    }
    return true;
}

int32_t Filter(const EditLine& line, int32_t op, int32_t sub_operation = 0) {
    return Status(RunCgFilter(op, line.target, line.other, line.x1, line.y1, line.x2, line.y2, line.value, line.value2,
                              line.count, sub_operation));
}

// A filter row: its value limit (none when limit < 0) and its rectangle
// rule checked first.
struct FilterRow {
    uint32_t keyword;
    int32_t op;
    int64_t limit;
    uint32_t rectangle_error;  // 0: a rectangle is allowed
    int32_t sub_operation;
};

constexpr FilterRow kFiltersBeforeText[] = {
    {31, 30, 256, 0, 0},       {32, 12, 0xFFFFFF, 0, 0}, {33, 39, 0xFFFFFF, 0, 0}, {42, 1, 256, 0, 0},
    {43, 19, 256, 0, 0},       {44, 38, 1, 0, 0},        {45, 11, 1, 0, 0},
    {46, 20, 256, kErrMosaicWithRectangle, 0},
    {47, 2, 256, 0, 0},        {48, 3, 256, 0, 0},       {49, 4, 256, 0, 0},       {50, 5, 256, 0, 0},
    {51, 6, 256, 0, 0},        {52, 7, 256, 0, 0},
    {53, 10, 256, kErrShuffleWithRectangle, 0},
    {54, 21, -1, 0, 0},        {55, 22, -1, 0, 0},       {56, 23, -1, 0, 0},       {62, 40, -1, 0, 0},
    {57, 28, 1, 0, 0},         {58, 24, -1, 0, 1},       {59, 24, -1, 0, 2},       {60, 24, -1, 0, 3},
    {61, 27, -1, 0, 0},
};

// The rows up to the text keywords: scaling, rotation and the filters. -1
// or 0 when a row ran (or refused), 1 when none of them is present.
int32_t RunFirstRows(const CommandArgBlock& args, const EditLine& line) {
    for (uint32_t keyword = kEditScale; keyword <= kEditScale + 4; ++keyword) {
        const CommandArgSlot* slot = args.Find(keyword);
        if (slot == nullptr) continue;
        if (!ScaledSizeAcceptable(args, line)) return -1;
        // The kind, like the rotation's method below, is handed over as a
        // byte: the low byte of the sum.
        const int32_t kind =
            keyword == kEditScale ? 10 : static_cast<uint8_t>(uint64_t{10} * (keyword - kEditScale + 1) + uint64_t(slot->value));
        return Status(ScaleCg(line.target, line.other, line.x1_100, line.y1_100, line.x2_100, line.y2_100,
                              line.width100, line.height100, line.count, kind));
    }
    for (uint32_t keyword : {kEditRotate, kEditRotateSmooth}) {
        const CommandArgSlot* slot = args.Find(keyword);
        if (slot == nullptr) continue;
        if (RectangleGiven(args)) return Refuse(kErrRotateWithRectangle, keyword);
        const int32_t method = static_cast<uint8_t>(uint64_t(slot->value) + 10);
        const auto rotate = keyword == kEditRotate ? RotateCg : RotateCgBilinear;
        return Status(rotate(line.target, line.other, line.x1, line.y1, line.x2, line.y2, line.value, line.count, method));
    }
    for (const FilterRow& row : kFiltersBeforeText) {
        if (!args.Given(row.keyword)) continue;
        if (row.limit >= 0 && !ValueWithin(line.value, static_cast<uint32_t>(row.limit))) {
            return RefuseValue(kEditValue, line.value, 0, row.limit);
        }
        if (row.rectangle_error != 0 && RectangleGiven(args)) return Refuse(row.rectangle_error, row.keyword);
        return Filter(line, row.op, row.sub_operation);
    }
    return 1;
}

// The rows after the text keywords, ending with the one that selects slot 0
// when no mode keyword is present.
int32_t RunLastRows(const CommandArgBlock& args, const EditLine& line) {
    for (uint32_t keyword = kEditDraw; keyword <= kEditDraw + 5; ++keyword) {
        if (!args.Given(keyword)) continue;
        if (line.count == 0) return Refuse(kErrDrawWithoutOther, keyword);
        switch (keyword) {
            case 34: return Status(DrawCgOver(line.target, line.other, line.x1, line.y1, line.x2, line.y2, line.count));
            case 35:
                return Status(
                    DrawCgOverWithOpacity(line.target, line.other, line.x1, line.y1, line.x2, line.y2, line.count));
            case 36:
                return Status(MixCgsIntoThird(line.target, line.other, line.second_other, line.x1, line.y1, line.x2,
                                              line.y2, line.value, line.count));
            case 37: return 0;
            case 38:
                return Status(KeepDifferentPixels(line.target, line.other, line.x1, line.y1, line.x2, line.y2,
                                                  line.count, static_cast<uint8_t>(line.value)));
            default:
                return Status(KeepEqualPixels(line.target, line.other, line.x1, line.y1, line.x2, line.y2, line.count,
                                              static_cast<uint8_t>(line.value)));
        }
    }
    if (args.Given(kEditTrim)) {
        if (!ValueWithin(line.value, 15)) return RefuseValue(kEditValue, line.value, 0, 15);
        return Status(TrimCgToAlpha(line.target, line.other, line.count, static_cast<uint8_t>(line.value),
                                    static_cast<uint8_t>(line.value2)));
    }
    if (args.Given(kEditCanvas)) {
        return Status(ResizeCgCanvas(line.target, line.other, line.count, line.x1, line.x2, line.y1, line.y2));
    }
    for (uint32_t keyword : {kEditCopyAttributes, kEditCopy}) {
        if (!args.Given(keyword)) continue;
        if (line.count == 0) return Refuse(kErrCopyWithoutOther, keyword);
        return Filter(line, keyword == kEditCopyAttributes ? 8 : 9);
    }
    for (uint32_t keyword : {kEditSwap, kEditSwapAttributes}) {
        if (!args.Given(keyword)) continue;
        if (RectangleGiven(args)) return Refuse(kErrSwapWithRectangle, keyword);
        if (line.count == 0) return Refuse(kErrSwapWithoutOther, keyword);
        return Status(SwapLayers(line.target, line.other, keyword == kEditSwap ? kSwapPositions : kSwapAttributes));
    }
    if (args.Given(kEditPasteSprite)) {
        PasteSprite(line.target, line.other);
        TheLayerGpuRequests().full_redraw = 1;
        return 0;
    }
    if (args.Given(kEditCapture)) {
        CaptureLayerToCg(line.target, line.other);
        return 0;
    }
    SelectFontSlot(0);
    return 0;
}

}  // namespace

int32_t CmdEditCg() {
    if (DecodeCommandArgs(kCmdEditCg) != 0) return -1;
    const CommandArgBlock& args = Args();
    EditLine line;

    int32_t stop = 0;
    line.target = ResolveTarget(args, stop);
    if (line.target == nullptr) return stop;
    const CgImage& image = *LayerImage(line.target);
    const int32_t width = image.width;
    const int32_t height = image.height;

    // The count is the highest other layer named, gaps and all; only the
    // first two are handed on, the third is made and counted.
    for (uint32_t index = 3; index >= 1; --index) {
        if (args.Given(index) || args.Given(index + 4)) {
            line.count = static_cast<int32_t>(index);
            break;
        }
    }
    for (uint32_t index = 1; index <= static_cast<uint32_t>(line.count); ++index) {
        NamedTreeNode* node = nullptr;
        if (!ResolveOther(args, index, node)) return -1;
        if (index == 1) line.other = node;
        if (index == 2) line.second_other = node;
    }

    if (!EvaluateValue(args, kEditValue, line.value)) return -1;
    int64_t value2 = 0;
    if (!EvaluateValue(args, kEditValue2, value2)) return -1;
    line.value2 = Low32(value2);

    // The rectangle, clamped to the image keyword by keyword unless the
    // operation works outside it (scaling, layer drawing, canvas margins).
    line.x1 = NumberOr(args, kEditX1, 0);
    line.y1 = NumberOr(args, kEditY1, 0);
    line.x2 = NumberOr(args, kEditX2, width - 1);
    line.y2 = NumberOr(args, kEditY2, height - 1);
    const bool unclamped = AnyGiven(args, {24, 25, 26, 27, 28, 34, 35, 36, 37, 38, 39, 41});
    if (!unclamped) {
        const int32_t right = std::max(0, width - 1);
        const int32_t bottom = std::max(0, height - 1);
        line.x1 = std::clamp(line.x1, 0, right);
        line.x2 = std::clamp(line.x2, 0, right);
        line.y1 = std::clamp(line.y1, 0, bottom);
        line.y2 = std::clamp(line.y2, 0, bottom);
    }
    line.x1_100 = NumberOr(args, kEditX1Hundredths, Low32(int64_t{line.x1} * 100));
    line.y1_100 = NumberOr(args, kEditX1Hundredths + 1, Low32(int64_t{line.y1} * 100));
    line.x2_100 = NumberOr(args, kEditX1Hundredths + 2, Low32(int64_t{line.x2} * 100));
    line.y2_100 = NumberOr(args, kEditX1Hundredths + 3, Low32(int64_t{line.y2} * 100));
    if (!unclamped) {
        const int32_t right = std::max(0, Low32(int64_t{width} * 100 - 100));
        const int32_t bottom = std::max(0, Low32(int64_t{height} * 100 - 100));
        line.x1_100 = std::clamp(line.x1_100, 0, right);
        line.x2_100 = std::clamp(line.x2_100, 0, right);
        line.y1_100 = std::clamp(line.y1_100, 0, bottom);
        line.y2_100 = std::clamp(line.y2_100, 0, bottom);
    }
    line.width100 = NumberOr(args, kEditWidthHundredths, Low32(int64_t{NumberOr(args, kEditWidth, 0)} * 100));
    line.height100 = NumberOr(args, kEditHeightHundredths, Low32(int64_t{NumberOr(args, kEditHeight, 0)} * 100));

    if (const int32_t ran = RunFirstRows(args, line); ran <= 0) return ran;
    if (const CommandArgSlot* slot = args.Find(kEditTextSlot)) SelectFontSlot(Low32(slot->value));
    if (args.Given(kEditDrawText) && !DrawLineText(args, line)) return -1;
    return RunLastRows(args, line);
}

void RegisterEditCgCommand() { RegisterCommandHandler(kCmdEditCg, CmdEditCg); }

}  // namespace zk
