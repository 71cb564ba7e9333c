// The program's module and its resources: finding them by id, name and type,
// their bytes, and the errors of what is not there.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/kernel.h"
#include "platform/resources.h"

namespace {

const std::vector<BYTE> kSome = {1, 2, 3, 4, 5};
const std::vector<BYTE> kOther = {9, 8, 7};
LPCWSTR const RT_CUSTOM = u"CUSTOMDATA";

std::vector<BYTE> BytesOf(HRSRC resource)
{
    const auto* first = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, resource)));
    return first == nullptr ? std::vector<BYTE>{} : std::vector<BYTE>(first, first + SizeofResource(nullptr, resource));
}

TEST(ModuleHandle, NullIsTheProgramAndAnyNameIsNotFound)
{
    const HMODULE program = GetModuleHandleW(nullptr);
    EXPECT_NE(program, nullptr);
    EXPECT_EQ(GetModuleHandleW(nullptr), program);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleHandleW(u"coredll.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(FindResource, ByIdNameAndHashNumberInEitherModuleForm)
{
    ASSERT_TRUE(platform::AddModuleResource(RT_DIALOG, 105, kSome));
    ASSERT_TRUE(platform::AddModuleResource(RT_CUSTOM, u"Settings", kOther));

    const HRSRC byId = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(105), RT_DIALOG);
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(BytesOf(byId), kSome);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(105), RT_DIALOG), byId);
    EXPECT_EQ(FindResourceW(nullptr, u"#105", RT_DIALOG), byId);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(105), u"#5"), byId);

    // Names and named types compare without regard to case.
    const HRSRC byName = FindResourceW(nullptr, u"settings", u"customData");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(BytesOf(byName), kOther);
    EXPECT_EQ(SizeofResource(nullptr, byName), kOther.size());
}

TEST(FindResource, MissingTypeAndMissingNameHaveTheirOwnErrors)
{
    ASSERT_TRUE(platform::AddModuleResource(RT_DIALOG, 105, kSome));

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(999), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, u"NOSUCHDIALOG", RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(0), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(105), RT_ICON), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(105), u"NOSUCHTYPE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(105), nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);

    // "#" followed by anything but a number is an ordinary name.
    EXPECT_EQ(FindResourceW(nullptr, u"#10x5", RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, u"#99999", RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(FindResource, HandlesOfOtherModulesAndForeignResourceHandlesAreRefused)
{
    ASSERT_TRUE(platform::AddModuleResource(RT_DIALOG, 105, kSome));
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(105), RT_DIALOG);
    ASSERT_NE(found, nullptr);
    const auto otherModule = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7000));

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceW(otherModule, MAKEINTRESOURCEW(105), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LoadResource(otherModule, found), nullptr);
    EXPECT_EQ(SizeofResource(otherModule, found), 0u);

    const auto madeUp = reinterpret_cast<HRSRC>(static_cast<ULONG_PTR>(0x123456));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadResource(nullptr, madeUp), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, madeUp), 0u);
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

TEST(ModuleResources, ReplacingKeepsWhatWasHandedOutAndFindsTheNewBytes)
{
    ASSERT_TRUE(platform::AddModuleResource(RT_CUSTOM, 7, kSome));
    const HRSRC first = FindResourceW(nullptr, MAKEINTRESOURCEW(7), RT_CUSTOM);
    const auto* oldBytes = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, first)));
    ASSERT_NE(oldBytes, nullptr);

    ASSERT_TRUE(platform::AddModuleResource(RT_CUSTOM, 7, kOther));
    EXPECT_EQ(BytesOf(FindResourceW(nullptr, MAKEINTRESOURCEW(7), RT_CUSTOM)), kOther);
    // The old bytes are still readable (ASan would catch a freed block).
    EXPECT_EQ(std::memcmp(oldBytes, kSome.data(), kSome.size()), 0);
    EXPECT_EQ(BytesOf(first), kSome);
}

TEST(ModuleResources, EmptyResourceHasAnAddressAndBadKeysAreRefused)
{
    ASSERT_TRUE(platform::AddModuleResource(RT_CUSTOM, 8, std::span<const BYTE>()));
    const HRSRC empty = FindResourceW(nullptr, MAKEINTRESOURCEW(8), RT_CUSTOM);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(LoadResource(nullptr, empty), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, empty), 0u);

    EXPECT_FALSE(platform::AddModuleResource(RT_CUSTOM, WORD{0}, kSome));
    EXPECT_FALSE(platform::AddModuleResource(RT_CUSTOM, u"", kSome));
    EXPECT_FALSE(platform::AddModuleResource(nullptr, 9, kSome));
    EXPECT_FALSE(platform::AddModuleResource(u"#0", 9, kSome));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(9), RT_CUSTOM), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

}  // namespace
