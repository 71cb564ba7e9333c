// The records of icon files and icon resources, laid out as published
// (little-endian, packed), and a bounds-checked way to read them.
#pragma once

#include <bit>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

#include "platform/types.h"

namespace platform::resources {

static_assert(std::endian::native == std::endian::little, "icon records are little-endian, as on the device");

#pragma pack(push, 2)
// Starts an .ico file and an RT_GROUP_ICON resource alike.
struct ICONDIR {
    WORD idReserved;   // 0
    WORD idType;       // 1 for icons
    WORD idCount;
};
// One image of an .ico file: where in the file it lies.
struct ICONDIRENTRY {
    BYTE bWidth;       // 0 means 256
    BYTE bHeight;
    BYTE bColorCount;
    BYTE bReserved;
    WORD wPlanes;
    WORD wBitCount;
    DWORD dwBytesInRes;
    DWORD dwImageOffset;
};
// One image of an RT_GROUP_ICON resource: which RT_ICON resource holds it.
struct GRPICONDIRENTRY {
    BYTE bWidth;
    BYTE bHeight;
    BYTE bColorCount;
    BYTE bReserved;
    WORD wPlanes;
    WORD wBitCount;
    DWORD dwBytesInRes;
    WORD nId;
};
#pragma pack(pop)
static_assert(sizeof(ICONDIR) == 6 && sizeof(ICONDIRENTRY) == 16 && sizeof(GRPICONDIRENTRY) == 14);

// Starts every icon image: a DIB whose height counts the colour (XOR) rows
// and the mask (AND) rows together.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
inline constexpr DWORD BI_RGB = 0;

// The record at `offset`, or nothing when it does not lie wholly inside.
template <typename T>
    requires std::is_trivially_copyable_v<T>
std::optional<T> ReadAt(std::span<const BYTE> bytes, std::size_t offset)
{
    if (offset > bytes.size() || sizeof(T) > bytes.size() - offset) {
        return std::nullopt;
    }
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// The directory header of an icon file or group, if it is one with images.
inline std::optional<ICONDIR> IconDirectoryOf(std::span<const BYTE> bytes)
{
    const auto directory = ReadAt<ICONDIR>(bytes, 0);
    if (!directory || directory->idReserved != 0 || directory->idType != 1 || directory->idCount == 0) {
        return std::nullopt;
    }
    return directory;
}

}  // namespace platform::resources
