// Rotation of a whole layer image about its centre by whole degrees,
// keeping the canvas size. The kernels read a W x H source and write a
// W x H destination; positions are 16.16 fixed point.
#pragma once

#include <cstdint>

namespace zk {

// Methods of RotateCg (the command's keyword number plus 10).
constexpr int32_t kRotateNearestFill = 11;  // outside the picture becomes transparent black
constexpr int32_t kRotateNearestKeep = 12;  // outside the picture is not written

// The nearest-sample kernels (methods 11 and 12).
void RotateCgNearestFill(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height, int64_t value);
void RotateCgNearestKeep(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height, int64_t value);
// Bilinear between the pixel's own position and the next pixel's.
void RotateCgBilinearKernel(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height,
                            int64_t value);

}  // namespace zk
