#pragma once
// The library's pictures, drawn here as character art and embedded in the library: the
// toolbox bitmap (resource 30000, 16 x 15, 24 bits per pixel, a small globe), the control's
// 32 x 32 design-time picture (256 colours: a globe, two computers and transfer arrows), and
// the About page's pointing-hand cursor (32 x 32, 16 colours, hot spot at the fingertip).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace carvo {

inline constexpr int kDesignPictureResource = 101;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;  // rows top to bottom; 0 alpha is transparent

    std::uint32_t pixel(int x, int y) const {
        return argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(x)];
    }
};

struct HotSpot {
    int x;
    int y;
};

Image toolboxImage();
Image designTimeImage();
Image handCursorImage();
inline constexpr HotSpot kHandCursorHotSpot{12, 1};

// A bitmap resource of the library as a complete .bmp file: 30000 is the toolbox bitmap
// (24 bits per pixel), kDesignPictureResource the design-time picture (8 bits per pixel with
// its palette). Empty for any other number.
std::vector<std::uint8_t> bitmapResource(int id);

}  // namespace carvo
