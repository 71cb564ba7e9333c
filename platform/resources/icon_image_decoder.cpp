// Icon images: a BITMAPINFOHEADER, an optional colour table, the colour
// (XOR) rows, then the AND mask rows; rows are padded to four bytes and
// stored bottom row first.
#include "resources/icon_image_decoder.h"

#include "resources/icon_formats.h"

namespace platform::resources {
namespace {

constexpr LONG kLargestSide = 256;
constexpr DWORD kLargestHeader = 1024;   // the longest DIB header is 124 bytes
constexpr DWORD kLargestColourTable = 256;

std::size_t RowBytes(std::size_t width, std::size_t bitsPerPixel)
{
    return (width * bitsPerPixel + 31) / 32 * 4;
}

bool IsSupported(const BITMAPINFOHEADER& header)
{
    return header.biSize >= sizeof(BITMAPINFOHEADER) && header.biSize <= kLargestHeader && header.biWidth > 0 && header.biWidth <= kLargestSide &&
           header.biHeight > 0 && header.biHeight % 2 == 0 && header.biHeight / 2 <= kLargestSide &&
           header.biPlanes == 1 && (header.biBitCount == 24 || header.biBitCount == 32) &&
           header.biCompression == BI_RGB && header.biClrUsed <= kLargestColourTable;
}

// Where the rows of an image of a supported shape lie.
struct Layout {
    std::size_t width;
    std::size_t height;
    std::size_t bytesPerPixel;
    std::size_t colourRows;   // offset of the bottom colour row
    std::size_t colourStride;
    std::size_t maskRows;     // offset of the bottom mask row
    std::size_t maskStride;
    std::size_t end;
};

Layout LayoutOf(const BITMAPINFOHEADER& header)
{
    Layout layout{};
    layout.width = static_cast<std::size_t>(header.biWidth);
    layout.height = static_cast<std::size_t>(header.biHeight / 2);
    layout.bytesPerPixel = header.biBitCount / 8u;
    layout.colourRows = header.biSize + std::size_t{header.biClrUsed} * 4;
    layout.colourStride = RowBytes(layout.width, header.biBitCount);
    layout.maskRows = layout.colourRows + layout.colourStride * layout.height;
    layout.maskStride = RowBytes(layout.width, 1);
    layout.end = layout.maskRows + layout.maskStride * layout.height;
    return layout;
}

void DecodeRow(std::span<const BYTE> bytes, const Layout& layout, std::size_t row, IconImage& image)
{
    const std::size_t storedRow = layout.height - 1 - row;   // stored bottom row first
    const BYTE* colours = bytes.data() + layout.colourRows + storedRow * layout.colourStride;
    const BYTE* mask = bytes.data() + layout.maskRows + storedRow * layout.maskStride;
    for (std::size_t x = 0; x < layout.width; ++x) {
        const BYTE* pixel = colours + x * layout.bytesPerPixel;   // blue, green, red[, unused]
        image.rgb.push_back(std::uint32_t{pixel[2]} << 16 | std::uint32_t{pixel[1]} << 8 | pixel[0]);
        image.transparent.push_back((mask[x / 8] & (0x80u >> (x % 8))) != 0);
    }
}

}  // namespace

std::optional<IconImage> DecodeIconImage(std::span<const BYTE> bytes)
{
    const auto header = ReadAt<BITMAPINFOHEADER>(bytes, 0);
    if (!header || !IsSupported(*header)) {
        return std::nullopt;
    }
    const Layout layout = LayoutOf(*header);
    if (layout.end > bytes.size()) {
        return std::nullopt;
    }
    IconImage image;
    image.width = header->biWidth;
    image.height = header->biHeight / 2;
    image.bitsPerPixel = header->biBitCount;
    image.rgb.reserve(layout.width * layout.height);
    image.transparent.reserve(layout.width * layout.height);
    for (std::size_t row = 0; row < layout.height; ++row) {
        DecodeRow(bytes, layout, row, image);
    }
    return image;
}

}  // namespace platform::resources
