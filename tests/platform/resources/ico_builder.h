// Builds .ico files byte by byte for the icon tests, independently of the
// platform's own records, with pixels that a test chooses.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/types.h"

namespace tavrel::testing {

struct IcoImage {
    int width;
    int height;
    int bitsPerPixel;                                   // 24 or 32
    std::function<std::uint32_t(int x, int y)> colour;  // 0x00RRGGBB, top row y = 0
    std::function<bool(int x, int y)> transparent;
};

// A DIB as an icon image: header, colour rows, AND mask rows, bottom row first.
std::vector<BYTE> IconImageBytes(const IcoImage& image);
// An .ico file holding the images in this order.
std::vector<BYTE> IcoFile(const std::vector<IcoImage>& images);

// An RT_GROUP_ICON directory, each entry naming an RT_ICON id.
struct GroupEntry {
    int width;
    int height;
    int bitsPerPixel;
    std::size_t bytes;
    WORD imageId;
};
std::vector<BYTE> GroupDirectory(const std::vector<GroupEntry>& entries);

// Patterns that tell rows, columns and colour channels apart.
std::uint32_t DistinctColour(int x, int y);
bool DiagonalMask(int x, int y);

}  // namespace tavrel::testing
