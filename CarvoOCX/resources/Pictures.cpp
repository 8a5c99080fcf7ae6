#include "resources/Pictures.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "TypeLib.h"

namespace carvo {

namespace {

struct Ink {
    char key;
    std::uint32_t argb;
};

constexpr std::uint32_t kSilver = 0xFFC0C0C0;  // the toolbox's face colour behind a picture

// The pictures are drawn one row of pixels a line; the formatter keeps away from them.
// clang-format off
constexpr std::array<Ink, 12> kInks{{
    {'.', kSilver},
    {'K', 0xFF000000},  // outline
    {'B', 0xFF0050D0},  // sea
    {'b', 0xFF60A0FF},  // sea in the light
    {'N', 0xFF002080},  // meridian and equator
    {'G', 0xFF20A020},  // land
    {'W', 0xFFFFFFFF},
    {'C', 0xFF008080},  // screen
    {'D', 0xFF808080},  // stand
    {'R', 0xFFE00000},  // arrows to and from the globe
    {'Y', 0xFFE0C000},  // arrow between the computers
    {'o', 0xFFFFFFFF},
}};

constexpr std::array<std::string_view, 15> kToolboxArt{
    "................",
    "....KKKKKKKK....",
    "...KKbbBBBBKK...",
    "..KKbGGBBBBBKK..",
    "..KbGGGGBBBBBK..",
    ".KBBGGGGBBBBBBK.",
    ".KBBGGGGBGGGBBK.",
    ".KBBGGGBBGGGBBK.",
    ".KBBBGBBBGGGBBK.",
    ".KBBBBBBBGGGBBK.",
    "..KBBBBBBGGGBK..",
    "..KKBBBBBBGGKK..",
    "...KKBBBBBBKK...",
    "....KKKKKKKK....",
    "................",
};

constexpr std::array<std::string_view, 32> kDesignArt{
    "................................",
    "............KKKKKKKK............",
    "...........KbbBNNBBBK...........",
    "..........KbbBBNNBBBBK..........",
    ".........KbGGGGNNBBBBBK.........",
    "........KBBGGGGNNBBBBBBK........",
    "........KBBGGGGGNBBBBBBK........",
    "........KBBGGGGGNBGGGBBK........",
    "........KNNGGGGNNGGGGNNK........",
    "....R...KNNGGGGNNGGGGNNK...R....",
    "...RRR..KBBBBBBNNGGGGBBK...R....",
    "..R.R.R.KBBBBBBNNGGGGBBK...R....",
    "....R...KBBBBBGGNGGGGBBK...R....",
    "....R....KBBBGGGGBGGGBK....R....",
    "....R.....KBBBBGNBBGBK.....R....",
    "....R......KBBBNNBBBK....R.R.R..",
    "....R.......KKKKKKKK......RRR...",
    "....R......................R....",
    "................................",
    "KKKKKKKKKK............KKKKKKKKKK",
    "KWWWWWWWWK............KWWWWWWWWK",
    "KWCCCCCCWK............KWCCCCCCWK",
    "KWCCCCCCWK..Y......Y..KWCCCCCCWK",
    "KWCCCCCCWK.YYYYYYYYYY.KWCCCCCCWK",
    "KWCCCCCCWK..Y......Y..KWCCCCCCWK",
    "KWWWWWWWWK............KWWWWWWWWK",
    "KKKKKKKKKK............KKKKKKKKKK",
    "...DDDD..................DDDD...",
    ".KKKKKKKK..............KKKKKKKK.",
    ".KWWWWWWK..............KWWWWWWK.",
    ".KKKKKKKK..............KKKKKKKK.",
    "................................",
};

// The hand points up; its fingertip's outline pixel is the hot spot (12, 1).
constexpr std::array<std::string_view, 32> kHandArt{
    "................................",
    "............KK..................",
    "...........KooK.................",
    "...........KooK.................",
    "...........KooK.................",
    "...........KooK.................",
    "...........KooKKK...............",
    "...........KooKooKKK............",
    "...........KooKooKooKK..........",
    "........KK.KooKooKooKoK.........",
    ".......KooKKooooooooKoK.........",
    ".......KoooKooooooooooK.........",
    "........KooKooooooooooK.........",
    ".........KoKooooooooooK.........",
    ".........KooooooooooooK.........",
    "..........KoooooooooooK.........",
    "..........KooooooooooK..........",
    "...........KoooooooooK..........",
    "...........KooooooooK...........",
    "............KoooooooK...........",
    "............KoooooooK...........",
    "............KKKKKKKKK...........",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
};

// clang-format on

template <std::size_t N>
Image fromArt(const std::array<std::string_view, N>& art, bool dotIsClear) {
    Image img;
    img.width = static_cast<int>(art[0].size());
    img.height = static_cast<int>(N);
    img.argb.reserve(N * art[0].size());
    for (std::string_view row : art) {
        for (char c : row) {
            std::uint32_t colour = 0;
            for (const Ink& ink : kInks)
                if (ink.key == c) colour = ink.argb;
            if (c == '.' && dotIsClear) colour = 0;
            img.argb.push_back(colour);
        }
    }
    return img;
}

void putLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

// A bottom-up .bmp file with a 40-byte info header. bitsPerPixel is 24, or 8 with a palette
// gathered from the picture's own colours (at most 256).
std::vector<std::uint8_t> encodeBmp(const Image& img, int bitsPerPixel) {
    std::vector<std::uint32_t> palette;
    if (bitsPerPixel == 8) {
        for (std::uint32_t c : img.argb)
            if (std::find(palette.begin(), palette.end(), c) == palette.end()) palette.push_back(c);
        palette.resize(256, 0);
    }
    const auto width = static_cast<std::uint32_t>(img.width);
    const auto height = static_cast<std::uint32_t>(img.height);
    const std::uint32_t rowBytes =
        ((width * static_cast<std::uint32_t>(bitsPerPixel) + 31) / 32) * 4;
    const auto paletteBytes = static_cast<std::uint32_t>(palette.size() * 4);
    const std::uint32_t pixelOffset = 14 + 40 + paletteBytes;
    const std::uint32_t imageBytes = rowBytes * height;

    std::vector<std::uint8_t> out;
    out.reserve(pixelOffset + imageBytes);
    out.push_back('B');
    out.push_back('M');
    putLe32(out, pixelOffset + imageBytes);
    putLe32(out, 0);
    putLe32(out, pixelOffset);
    putLe32(out, 40);
    putLe32(out, width);
    putLe32(out, height);
    putLe16(out, 1);
    putLe16(out, static_cast<std::uint32_t>(bitsPerPixel));
    putLe32(out, 0);  // no compression
    putLe32(out, imageBytes);
    putLe32(out, 3780);  // 96 dots per inch, in dots per metre
    putLe32(out, 3780);
    putLe32(out, bitsPerPixel == 8 ? 256 : 0);
    putLe32(out, 0);
    for (std::uint32_t c : palette) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
        out.push_back(static_cast<std::uint8_t>((c >> 16) & 0xFF));
        out.push_back(0);
    }
    for (int y = img.height - 1; y >= 0; --y) {
        std::size_t start = out.size();
        for (int x = 0; x < img.width; ++x) {
            std::uint32_t c = img.pixel(x, y);
            if (bitsPerPixel == 8) {
                auto index = std::find(palette.begin(), palette.end(), c) - palette.begin();
                out.push_back(static_cast<std::uint8_t>(index));
            } else {
                out.push_back(static_cast<std::uint8_t>(c & 0xFF));
                out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
                out.push_back(static_cast<std::uint8_t>((c >> 16) & 0xFF));
            }
        }
        out.resize(start + rowBytes, 0);
    }
    return out;
}

}  // namespace

Image toolboxImage() { return fromArt(kToolboxArt, false); }
Image designTimeImage() { return fromArt(kDesignArt, false); }
Image handCursorImage() { return fromArt(kHandArt, true); }

std::vector<std::uint8_t> bitmapResource(int id) {
    if (id == kToolboxBitmapResource) return encodeBmp(toolboxImage(), 24);
    if (id == kDesignPictureResource) return encodeBmp(designTimeImage(), 8);
    return {};
}

}  // namespace carvo
