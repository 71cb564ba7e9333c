#include "ico_builder.h"

namespace tavrel::testing {
namespace {

void PutLe(std::vector<BYTE>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

std::size_t Stride(int width, int bitsPerPixel)
{
    return static_cast<std::size_t>((width * bitsPerPixel + 31) / 32 * 4);
}

}  // namespace

std::vector<BYTE> IconImageBytes(const IcoImage& image)
{
    std::vector<BYTE> out;
    const auto colourStride = Stride(image.width, image.bitsPerPixel);
    const auto maskStride = Stride(image.width, 1);
    const auto rows = static_cast<std::size_t>(image.height);
    PutLe(out, 40, 4);
    PutLe(out, static_cast<std::uint32_t>(image.width), 4);
    PutLe(out, static_cast<std::uint32_t>(image.height * 2), 4);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(image.bitsPerPixel), 2);
    PutLe(out, 0, 4);                                                               // BI_RGB
    PutLe(out, static_cast<std::uint32_t>((colourStride + maskStride) * rows), 4);  // image size
    out.insert(out.end(), 16, BYTE{0});                                             // resolution, colours
    for (int y = image.height - 1; y >= 0; --y) {
        const std::size_t start = out.size();
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t rgb = image.colour(x, y);
            out.push_back(static_cast<BYTE>(rgb));         // blue
            out.push_back(static_cast<BYTE>(rgb >> 8));    // green
            out.push_back(static_cast<BYTE>(rgb >> 16));   // red
            if (image.bitsPerPixel == 32) {
                out.push_back(0xFF);
            }
        }
        out.resize(start + colourStride, 0xEE);   // padding that must be skipped
    }
    for (int y = image.height - 1; y >= 0; --y) {
        std::vector<BYTE> row(maskStride, 0);
        for (int x = 0; x < image.width; ++x) {
            if (image.transparent(x, y)) {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<BYTE>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<BYTE> IcoFile(const std::vector<IcoImage>& images)
{
    std::vector<std::vector<BYTE>> data;
    for (const IcoImage& image : images) {
        data.push_back(IconImageBytes(image));
    }
    std::vector<BYTE> out;
    PutLe(out, 0, 2);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(images.size()), 2);
    std::size_t offset = 6 + 16 * images.size();
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<BYTE>(images[i].width));
        out.push_back(static_cast<BYTE>(images[i].height));
        PutLe(out, 0, 2);   // colour count, reserved
        PutLe(out, 1, 2);
        PutLe(out, static_cast<std::uint32_t>(images[i].bitsPerPixel), 2);
        PutLe(out, static_cast<std::uint32_t>(data[i].size()), 4);
        PutLe(out, static_cast<std::uint32_t>(offset), 4);
        offset += data[i].size();
    }
    for (const auto& bytes : data) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

std::vector<BYTE> GroupDirectory(const std::vector<GroupEntry>& entries)
{
    std::vector<BYTE> out;
    PutLe(out, 0, 2);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(entries.size()), 2);
    for (const GroupEntry& entry : entries) {
        out.push_back(static_cast<BYTE>(entry.width));
        out.push_back(static_cast<BYTE>(entry.height));
        PutLe(out, 0, 2);
        PutLe(out, 1, 2);
        PutLe(out, static_cast<std::uint32_t>(entry.bitsPerPixel), 2);
        PutLe(out, static_cast<std::uint32_t>(entry.bytes), 4);
        PutLe(out, entry.imageId, 2);
    }
    return out;
}

std::uint32_t DistinctColour(int x, int y)
{
    const auto red = static_cast<std::uint32_t>((x * 37 + 11) & 0xFF);
    const auto green = static_cast<std::uint32_t>((y * 53 + 7) & 0xFF);
    const auto blue = static_cast<std::uint32_t>((x * 3 + y * 5) & 0xFF);
    return red << 16 | green << 8 | blue;
}

bool DiagonalMask(int x, int y)
{
    return x == y || x == 0;
}

}  // namespace tavrel::testing
