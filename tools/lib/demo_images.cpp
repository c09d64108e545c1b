#include "tools/lib/demo_images.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "tools/lib/bmp_writer.h"
#include "tools/lib/frame_sequence_writer.h"

namespace zk::tools {

namespace {

uint32_t Rgb(int r, int g, int b, int a = 255) {
    return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

DemoImage Draw(std::string name, int32_t width, int32_t height, uint16_t bits,
               const std::function<uint32_t(int, int)>& pixel) {
    BmpImage image;
    image.width = width;
    image.height = height;
    image.bit_count = bits;
    image.values.reserve(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.values.push_back(pixel(x, y));
    return {std::move(name), BuildBmp(image)};
}

}  // namespace

uint32_t DemoSparkColour(int frame) { return Rgb(255, 120 + 15 * frame, 40 + 20 * frame) & 0xFFFFFF; }

uint8_t DemoSparkAlpha(int frame, int x, int y) {
    const int radius = 14 + 3 * std::min(frame, kDemoSparkFrames - frame);
    const int dx = 2 * x - 47, dy = 2 * y - 47;
    const double distance = std::sqrt(double(dx * dx + dy * dy)) / 2.0;
    if (distance <= radius - 4) return 255;
    if (distance >= radius) return 0;
    return static_cast<uint8_t>((radius - distance) * 255.0 / 4.0);
}

uint8_t DemoBallAlpha(int x, int y) {
    // In half pixels, so that the centre between pixels 31 and 32 is whole.
    const int dx = 2 * x - 63, dy = 2 * y - 63;
    const double distance = std::sqrt(double(dx * dx + dy * dy)) / 2.0;
    if (distance <= 28.0) return 255;
    if (distance >= 32.0) return 0;
    return static_cast<uint8_t>((32.0 - distance) * 255.0 / 4.0);
}

std::vector<DemoImage> DemoImages() {
    std::vector<DemoImage> images;
    images.push_back(Draw("image/bg.bmp", 640, 480, 24, [](int x, int y) {
        return Rgb(40 + 150 * x / 639, 30 + 120 * y / 479, 200 - 100 * y / 479);
    }));
    images.push_back(Draw("image/tile.bmp", 100, 100, 24, [](int x, int y) {
        return Rgb(64 + 128 * x / 99, 64 + 128 * y / 99, 160);
    }));
    images.push_back(Draw("image/ball.bmp", 64, 64, 32, [](int x, int y) {
        return Rgb(255, 120 + 2 * x, 40 + 2 * y, DemoBallAlpha(x, y));
    }));
    images.push_back(Draw("image/photo.bmp", 200, 150, 24, [](int x, int y) {
        return (x / 25 + y / 25) % 2 == 0 ? Rgb(240, 230, 200) : Rgb(60, 90, 150);
    }));
    images.push_back(Draw("image/wipe.bmp", 200, 150, 24, [](int x, int) {
        const int grey = x * 255 / 199;
        return Rgb(grey, grey, grey);
    }));
    images.push_back(Draw("image/title.bmp", 320, 60, 24, [](int x, int y) {
        return Rgb(255 - y, 200 - x / 2, 60 + x / 4);
    }));
    // The message window's panel, and a transparent line the text of the
    // window is drawn into.
    images.push_back(Draw("image/window.bmp", 150, 156, 24, [](int x, int y) {
        const bool border = x < 2 || y < 2 || x >= 148 || y >= 154;
        return border ? Rgb(200, 210, 255) : Rgb(20, 30, 70 + y / 4);
    }));
    // A line holds ten full-width characters of 14 pixels drawn from x = 2
    // with a one-pixel edge on each side: 2 + 140 + 1, and one to spare. A
    // glyph whose box does not fit the picture whole is not drawn at all.
    images.push_back(Draw("image/textline.bmp", 144, 22, 32, [](int, int) { return Rgb(0, 0, 0, 0); }));
    // The spark: a frame sequence whose colour parts are flat and whose
    // alpha parts are discs that grow and shrink.
    FrameSequenceSpec spark;
    spark.alpha_flag = 1;
    for (int frame = 0; frame < kDemoSparkFrames; ++frame) {
        const uint32_t colour = DemoSparkColour(frame);
        spark.frames.push_back(
            {EncodeJpeg(MakeJpegPicture(kDemoSparkSide, kDemoSparkSide, 3,
                                        [colour](int, int, int c) { return uint8_t(colour >> (16 - 8 * c)); })),
             EncodeJpeg(MakeJpegPicture(kDemoSparkSide, kDemoSparkSide, 1,
                                        [frame](int x, int y, int) { return DemoSparkAlpha(frame, x, y); }))});
    }
    images.push_back({"image/spark.seq", BuildFrameSequence(spark)});
    // The small screen the opening movie plays into.
    images.push_back(Draw("image/screen.bmp", kDemoMovieWidth, kDemoMovieHeight, 24, [](int, int) { return Rgb(0, 0, 0); }));
    return images;
}

}  // namespace zk::tools
