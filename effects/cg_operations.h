// The image operations that command 2 (`CmdEditCg`) dispatches to: scaling,
// rotation, the pixel filters, layer-to-layer drawing, trimming and canvas.
// Each takes the target node, the first other node (null when none) and the
// number of other layers named; each returns a status whose low byte is 0
// for success. They install new pixel blocks themselves and invalidate the
// layer whose block they replace.
#pragma once

#include <cstdint>

namespace zk {

struct NamedTreeNode;

int32_t ScaleCg(NamedTreeNode* target, NamedTreeNode* other, int32_t x1_100, int32_t y1_100, int32_t x2_100,
                int32_t y2_100, int32_t width100, int32_t height100, int32_t count, int32_t kind);

int32_t RotateCg(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int64_t value, int32_t count, int32_t method);
int32_t RotateCgBilinear(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2,
                         int32_t y2, int64_t value, int32_t count, int32_t method);

int32_t RunCgFilter(int32_t op, NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2,
                    int32_t y2, int64_t value, int32_t value2, int32_t count, int32_t sub_operation);

int32_t DrawCgOver(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   int32_t count);
int32_t DrawCgOverWithOpacity(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2,
                              int32_t y2, int32_t count);
int32_t KeepDifferentPixels(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2,
                            int32_t y2, int32_t count, uint8_t value_low_byte);
int32_t KeepEqualPixels(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                        int32_t count, uint8_t value_low_byte);
int32_t MixCgsIntoThird(NamedTreeNode* target, NamedTreeNode* other, NamedTreeNode* second_other, int32_t x1,
                        int32_t y1, int32_t x2, int32_t y2, int64_t value, int32_t count);
int32_t TrimCgToAlpha(NamedTreeNode* target, NamedTreeNode* other, int32_t count, uint8_t side_mask,
                      uint8_t threshold);
int32_t ResizeCgCanvas(NamedTreeNode* target, NamedTreeNode* other, int32_t count, int32_t left, int32_t right,
                       int32_t top, int32_t bottom);

}  // namespace zk
