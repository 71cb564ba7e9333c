// Icons: .ico files stored as a resource compiler stores them, and LoadIconW
// decoding them into pixels.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ico_builder.h"
#include "platform/kernel.h"
#include "platform/resources.h"

namespace {

using tavrel::testing::DiagonalMask;
using tavrel::testing::DistinctColour;
using tavrel::testing::GroupDirectory;
using tavrel::testing::IcoFile;
using tavrel::testing::IconImageBytes;
using tavrel::testing::IcoImage;

IcoImage Image(int width, int height, int bitsPerPixel)
{
    return IcoImage{width, height, bitsPerPixel, DistinctColour, DiagonalMask};
}

std::vector<BYTE> ResourceBytes(LPCWSTR name, LPCWSTR type)
{
    const HRSRC found = FindResourceW(nullptr, name, type);
    const auto* first = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    return first == nullptr ? std::vector<BYTE>{} : std::vector<BYTE>(first, first + SizeofResource(nullptr, found));
}

HICON Load(WORD id)
{
    return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
}

void ExpectPixelsOf(HICON icon, const IcoImage& source)
{
    const platform::IconImage* image = platform::IconImageOf(icon);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width, source.width);
    ASSERT_EQ(image->height, source.height);
    EXPECT_EQ(image->bitsPerPixel, source.bitsPerPixel);
    ASSERT_EQ(image->rgb.size(), static_cast<std::size_t>(source.width * source.height));
    ASSERT_EQ(image->transparent.size(), image->rgb.size());
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const auto at = static_cast<std::size_t>(y * source.width + x);
            EXPECT_EQ(image->rgb[at], source.colour(x, y)) << x << "," << y;
            EXPECT_EQ(image->transparent[at], source.transparent(x, y)) << x << "," << y;
        }
    }
}

TEST(IconFileResources, StoredAsAResourceCompilerStoresThem)
{
    const IcoImage small = Image(16, 16, 24);
    const IcoImage large = Image(32, 32, 24);
    ASSERT_TRUE(platform::AddIconFileResources(500, IcoFile({small, large})));
    ASSERT_TRUE(platform::AddIconFileResources(501, IcoFile({small})));

    // The images are numbered one after another across files.
    const auto smallBytes = IconImageBytes(small);
    const auto largeBytes = IconImageBytes(large);
    EXPECT_EQ(ResourceBytes(MAKEINTRESOURCEW(500), RT_GROUP_ICON),
              GroupDirectory({{16, 16, 24, smallBytes.size(), 1}, {32, 32, 24, largeBytes.size(), 2}}));
    EXPECT_EQ(ResourceBytes(MAKEINTRESOURCEW(501), RT_GROUP_ICON),
              GroupDirectory({{16, 16, 24, smallBytes.size(), 3}}));
    EXPECT_EQ(ResourceBytes(MAKEINTRESOURCEW(1), RT_ICON), smallBytes);
    EXPECT_EQ(ResourceBytes(MAKEINTRESOURCEW(2), RT_ICON), largeBytes);
    EXPECT_EQ(ResourceBytes(MAKEINTRESOURCEW(3), RT_ICON), smallBytes);
}

TEST(IconFileResources, MalformedFilesAreRefusedAndAddNothing)
{
    const std::vector<BYTE> good = IcoFile({Image(16, 16, 24)});
    auto changed = [&](std::size_t at, BYTE value) {
        std::vector<BYTE> bytes(good);
        bytes[at] = value;
        return bytes;
    };
    EXPECT_FALSE(platform::AddIconFileResources(0, good));
    EXPECT_FALSE(platform::AddIconFileResources(502, std::span<const BYTE>()));
    EXPECT_FALSE(platform::AddIconFileResources(502, changed(2, 2)));     // a cursor file
    EXPECT_FALSE(platform::AddIconFileResources(502, changed(4, 0)));     // no images
    EXPECT_FALSE(platform::AddIconFileResources(502, changed(4, 2)));      // a second entry read from image data
    EXPECT_FALSE(platform::AddIconFileResources(502, changed(21, 0x10)));  // image past the end
    EXPECT_FALSE(platform::AddIconFileResources(502, changed(17, 0x10)));  // image longer than the file
    const std::vector<BYTE> cut(good.begin(), good.end() - 1);
    EXPECT_FALSE(platform::AddIconFileResources(502, cut));

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_ICON), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(502), RT_GROUP_ICON), nullptr);
}

TEST(LoadIcon, DecodesPixelsTopRowFirstWithTheirMask)
{
    // Odd widths make every row carry padding; 32-bit pixels carry a fourth byte.
    const IcoImage narrow = Image(5, 3, 24);
    const IcoImage deep = Image(7, 4, 32);
    const IcoImage wide = Image(33, 2, 24);   // a mask row of two DWORDs
    ASSERT_TRUE(platform::AddIconFileResources(510, IcoFile({narrow})));
    ASSERT_TRUE(platform::AddIconFileResources(511, IcoFile({deep})));
    ASSERT_TRUE(platform::AddIconFileResources(512, IcoFile({wide})));
    ExpectPixelsOf(Load(510), narrow);
    ExpectPixelsOf(Load(511), deep);
    ExpectPixelsOf(Load(512), wide);
}

TEST(LoadIcon, PicksTheImageClosestToTheStandardSize)
{
    ASSERT_TRUE(platform::AddIconFileResources(520, IcoFile({Image(16, 16, 24), Image(48, 48, 24), Image(32, 32, 24)})));
    ASSERT_TRUE(platform::AddIconFileResources(521, IcoFile({Image(32, 32, 24), Image(32, 32, 32)})));
    ASSERT_TRUE(platform::AddIconFileResources(522, IcoFile({Image(16, 16, 24)})));
    ExpectPixelsOf(Load(520), Image(32, 32, 24));
    ExpectPixelsOf(Load(521), Image(32, 32, 32));   // the deeper of two equally close
    ExpectPixelsOf(Load(522), Image(16, 16, 24));   // the only one
}

TEST(LoadIcon, SameHandleForTheSameIconEveryTime)
{
    ASSERT_TRUE(platform::AddIconFileResources(530, IcoFile({Image(16, 16, 24)})));
    ASSERT_TRUE(platform::AddIconFileResources(531, IcoFile({Image(16, 16, 24)})));
    const HICON first = Load(530);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Load(530), first);
    EXPECT_EQ(LoadIconW(GetModuleHandleW(nullptr), u"#530"), first);
    const HICON other = Load(531);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, first);
    EXPECT_NE(platform::IconImageOf(other), platform::IconImageOf(first));

    EXPECT_EQ(platform::IconImageOf(nullptr), nullptr);
    EXPECT_EQ(platform::IconImageOf(reinterpret_cast<HICON>(static_cast<ULONG_PTR>(0xABCDEF))), nullptr);
}

TEST(LoadIcon, ThreadsLoadingAtOnceShareOneIcon)
{
    const IcoImage picture = Image(32, 32, 24);
    ASSERT_TRUE(platform::AddIconFileResources(535, IcoFile({picture})));
    constexpr std::size_t kThreads = 6;
    std::vector<HICON> loaded(kThreads, nullptr);
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < kThreads; ++t) {
            threads.emplace_back([&loaded, t] {
                // Other resources arrive while the icon loads.
                const std::vector<BYTE> bytes(t + 1, BYTE{0x5A});
                EXPECT_TRUE(platform::AddModuleResource(RT_DIALOG, static_cast<WORD>(700 + t), bytes));
                loaded[t] = Load(535);
            });
        }
    }
    ASSERT_NE(loaded[0], nullptr);
    for (const HICON icon : loaded) {
        EXPECT_EQ(icon, loaded[0]);
    }
    ExpectPixelsOf(loaded[0], picture);
}

TEST(LoadIcon, MissingIconsFailWithTheNotFoundErrors)
{
    const HMODULE program = GetModuleHandleW(nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(540)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);   // no icon at all yet

    ASSERT_TRUE(platform::AddIconFileResources(541, IcoFile({Image(16, 16, 24)})));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(540)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

    // A null instance asks for the system's predefined icons, of which there are none.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(541)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(LoadIcon, BrokenGroupsAndImagesAreRefused)
{
    const HMODULE program = GetModuleHandleW(nullptr);
    const std::vector<BYTE> image = IconImageBytes(Image(8, 8, 24));
    ASSERT_TRUE(platform::AddModuleResource(RT_ICON, 50, image));

    // A group that names an image that is not there.
    ASSERT_TRUE(platform::AddModuleResource(RT_GROUP_ICON, 550, GroupDirectory({{8, 8, 24, image.size(), 51}})));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(550)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

    // A group directory that is not one, or shorter than it says.
    std::vector<BYTE> badGroup = GroupDirectory({{8, 8, 24, image.size(), 50}});
    badGroup[4] = 2;
    ASSERT_TRUE(platform::AddModuleResource(RT_GROUP_ICON, 551, badGroup));
    badGroup[4] = 0;
    ASSERT_TRUE(platform::AddModuleResource(RT_GROUP_ICON, 552, badGroup));
    for (const int id : {551, 552}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(static_cast<WORD>(id))), nullptr) << id;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << id;
    }

    // Images that are cut short, paletted, compressed or upside down.
    auto refused = [&](const std::vector<BYTE>& bytes, const char* what) {
        ASSERT_TRUE(platform::AddModuleResource(RT_ICON, 60, bytes));
        ASSERT_TRUE(platform::AddModuleResource(RT_GROUP_ICON, 560, GroupDirectory({{8, 8, 24, bytes.size(), 60}})));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(560)), nullptr) << what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << what;
    };
    for (std::size_t size = 0; size < image.size(); ++size) {
        refused(std::vector<BYTE>(image.begin(), image.begin() + static_cast<long>(size)), "cut short");
    }
    auto patched = [&](std::size_t at, BYTE value) {
        std::vector<BYTE> bytes(image);
        bytes[at] = value;
        return bytes;
    };
    refused(patched(14, 8), "8 bits per pixel");
    refused(patched(16, 1), "run-length compressed");
    refused(patched(11, 0xFF), "negative height");
    refused(patched(8, 17), "odd height");
    refused(patched(4, 0), "no width");
}

}  // namespace
