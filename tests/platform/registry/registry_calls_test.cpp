// The registry calls in memory (no hive files): the results that Windows
// documents and that the system relies on.
#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry_key.h"
#include "platform/registry_number.h"
#include "registry/hives.h"
#include "registry_test_util.h"

namespace {

using namespace tavrel::testing;

// Each case starts from empty hives, also when the cases share one process.
class InMemoryRegistry : public ::testing::Test {
protected:
    void TearDown() override { platform::registry::UnmountHives(); }
};
using RegistryKeys = InMemoryRegistry;
using RegistryValues = InMemoryRegistry;
using RegistryEnumeration = InMemoryRegistry;
using RegistryNames = InMemoryRegistry;
using RegistryDeletion = InMemoryRegistry;
using RegistryThreads = InMemoryRegistry;
using RegistryNumbers = InMemoryRegistry;

HKEY Predefined(ULONG_PTR value) { return reinterpret_cast<HKEY>(value); }

LONG Create(HKEY parent, const char16_t* path, HKEY* key, DWORD* disposition = nullptr)
{
    return RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, disposition);
}

LONG Open(HKEY parent, const char16_t* path, HKEY* key) { return RegOpenKeyExW(parent, path, 0, KEY_READ, key); }

TEST_F(RegistryKeys, CreateMakesMissingParentsAndReportsDisposition)
{
    HKEY serial = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Serial1", &serial, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    HKEY again = nullptr;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"\\Drivers\\BuiltIn\\Serial1", &again, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_NE(again, serial);

    HKEY builtIn = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"\\Drivers\\BuiltIn", &builtIn), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(builtIn), std::vector<std::u16string>{u"Serial1"});
    // The other root is a different tree.
    HKEY missing = builtIn;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Drivers", &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);

    for (HKEY key : {serial, again, builtIn}) {
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    EXPECT_EQ(RegCloseKey(serial), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeys, NullOrEmptyPathOpensTheSameKeyAgain)
{
    HKEY key = CreateKey(HKEY_CURRENT_USER, u"Software\\Tavrel");
    HKEY viaNull = nullptr;
    HKEY viaEmpty = nullptr;
    ASSERT_EQ(Open(key, nullptr, &viaNull), ERROR_SUCCESS);
    ASSERT_EQ(Open(key, u"", &viaEmpty), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(viaNull, u"Port", REG_DWORD, Bytes({5, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(viaEmpty, u"Port").data, Bytes({5, 0, 0, 0}));
    EXPECT_EQ(QueryValue(key, u"Port").data, Bytes({5, 0, 0, 0}));
    // A new handle to a root is a real handle, and closing a root is harmless.
    HKEY root = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, nullptr, &root), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(root), std::vector<std::u16string>{u"Software"});
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::u16string>{u"Software"});
}

TEST_F(RegistryKeys, OnlyTheTwoRootsAndOpenHandlesAreKeys)
{
    const HKEY classesRoot = Predefined(0x80000000);
    const HKEY users = Predefined(0x80000003);
    for (HKEY bad : {classesRoot, users, Predefined(0x1234), HKEY{nullptr}}) {
        HKEY key = nullptr;
        EXPECT_EQ(Create(bad, u"a", &key), ERROR_INVALID_HANDLE);
        EXPECT_EQ(Open(bad, u"a", &key), ERROR_INVALID_HANDLE);
        EXPECT_EQ(SetValue(bad, u"v", REG_BINARY, Bytes({1})), ERROR_INVALID_HANDLE);
        EXPECT_EQ(QueryValue(bad, u"v").result, ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteKeyW(bad, u"a"), ERROR_INVALID_HANDLE);
    }
    HKEY closed = CreateKey(HKEY_LOCAL_MACHINE, u"a");
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(SetValue(closed, u"v", REG_BINARY, Bytes({1})), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(users), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeys, MalformedPathsAndNamesAreRefusedWithoutCreatingAnything)
{
    const std::u16string longest(MAX_KEY_NAME_LENGTH, u'k');
    const std::u16string tooLong = longest + u'k';
    const std::u16string lastInvalid = u"Good\\bad\x01";
    const std::u16string loneSurrogate = u"Good\\x\xD800y";
    std::u16string tooDeep;
    for (std::size_t i = 0; i <= 512; ++i) {
        tooDeep += u"d\\";
    }
    tooDeep += u"d";
    for (const std::u16string& path : {std::u16string(u"a\\\\b"), std::u16string(u"a\\"), std::u16string(u"\\\\a"),
                                       tooLong, lastInvalid, loneSurrogate, tooDeep}) {
        HKEY key = nullptr;
        EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());

    HKEY key = nullptr;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, longest.c_str(), &key), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), std::vector<std::u16string>{longest});
    EXPECT_EQ(SetValue(key, u"line\nbreak", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetValue(key, u"half \xDC00", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(ValueNames(key).empty());
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, nullptr, &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, u"a", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryValues, QueryHandsOutSizeTypeAndExactBytes)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Values");
    const std::vector<BYTE> text = TextBytes(u"COM");
    ASSERT_EQ(SetValue(key, u"Prefix", REG_SZ, text), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);

    std::vector<BYTE> small(7, 0xAA);
    size = 7;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, &type, small.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(small, std::vector<BYTE>(7, 0xAA));

    std::vector<BYTE> exact(8, 0xAA);
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, nullptr, exact.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(exact, text);
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, nullptr, exact.data(), nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"Prefix", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(key, u"Missing").result, ERROR_FILE_NOT_FOUND);

    // A text stored without its terminator comes back without one.
    ASSERT_EQ(SetValue(key, u"Bare", REG_SZ, Bytes({'A', 0, 'B', 0})), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(key, u"Bare").data, Bytes({'A', 0, 'B', 0}));
    ASSERT_EQ(SetValue(key, u"Empty", REG_BINARY, {}), ERROR_SUCCESS);
    const QueriedValue empty = QueryValue(key, u"Empty");
    EXPECT_EQ(empty.result, ERROR_SUCCESS);
    EXPECT_TRUE(empty.data.empty());
}

// A number is 1 to 4 bytes, little-endian, whatever the value's type; any
// other size holds none. RegistryKey reads numbers the same way.
TEST_F(RegistryNumbers, OneToFourBytesHoldANumberWhateverTheTypeAndOtherSizesNone)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Numbers");
    struct Case {
        const char16_t* name;
        DWORD type;
        std::vector<BYTE> data;
        std::optional<DWORD> number;
    };
    const std::vector<Case> cases = {
        {u"Dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12}), 0x12345678},
        {u"OneByte", REG_BINARY, Bytes({4}), 4},
        {u"TwoBytes", REG_BINARY, Bytes({4, 1}), 260},
        {u"ThreeBytes", REG_DWORD, Bytes({1, 2, 0x83}), 0x830201},
        {u"HighBit", REG_BINARY, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), 0xFFFFFFFF},
        {u"OneCharacter", REG_SZ, TextBytes(u"4"), 0x34},   // '4' and its terminator: four bytes
        {u"Empty", REG_DWORD, {}, std::nullopt},
        {u"FiveBytes", REG_BINARY, Bytes({4, 0, 0, 0, 0}), std::nullopt},
        {u"Qword", REG_QWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0}), std::nullopt},
        {u"Text", REG_SZ, TextBytes(u"12"), std::nullopt},
    };
    for (const Case& number : cases) {
        ASSERT_EQ(SetValue(key, number.name, number.type, number.data), ERROR_SUCCESS);
    }
    const platform::RegistryKey same(HKEY_LOCAL_MACHINE, u"Numbers", platform::RegistryKey::Open::Existing);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(platform::QueryRegistryNumber(key, cases[i].name), cases[i].number) << "case " << i;
        EXPECT_EQ(same.Number(cases[i].name), cases[i].number) << "case " << i;
    }
    EXPECT_EQ(platform::QueryRegistryNumber(key, u"Missing"), std::nullopt);
    RegCloseKey(key);
    EXPECT_EQ(platform::QueryRegistryNumber(key, u"Dword"), std::nullopt);   // a closed key
}

TEST_F(RegistryValues, DefaultValueAndReplacementAndDeletion)
{
    HKEY key = CreateKey(HKEY_CURRENT_USER, u"Defaults");
    ASSERT_EQ(SetValue(key, nullptr, REG_SZ, TextBytes(u"first")), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(key, u"").data, TextBytes(u"first"));
    ASSERT_EQ(SetValue(key, u"", REG_DWORD, Bytes({7, 0, 0, 0})), ERROR_SUCCESS);
    const QueriedValue replaced = QueryValue(key, nullptr);
    EXPECT_EQ(replaced.type, REG_DWORD);
    EXPECT_EQ(replaced.data, Bytes({7, 0, 0, 0}));
    EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{u""});

    EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(key, u"").result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, u""), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, u"never"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryEnumeration, KeysInCreationOrderWithShortBuffers)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Order");
    for (const char16_t* name : {u"zeta", u"Alpha", u"mid"}) {
        RegCloseKey(CreateKey(key, name));
    }
    EXPECT_EQ(SubkeyNames(key), (std::vector<std::u16string>{u"zeta", u"Alpha", u"mid"}));

    WCHAR name[8] = u"xxxxxxx";
    DWORD length = 5;   // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(std::u16string(name), u"xxxxxxx");
    length = 6;
    WCHAR keyClass[4] = u"abc";
    DWORD classLength = 4;
    FILETIME written{1, 1};
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, keyClass, &classLength, &written), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Alpha");
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(keyClass[0], u'\0');
    length = 8;
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryEnumeration, ValuesInCreationOrderWithShortBuffers)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Order");
    ASSERT_EQ(SetValue(key, u"b", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key, u"Long", REG_BINARY, Bytes({1, 2, 3, 4, 5, 6})), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key, u"a", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    // Replacing a value keeps its place.
    ASSERT_EQ(SetValue(key, u"B", REG_DWORD, Bytes({3, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"b", u"Long", u"a"}));

    WCHAR name[8] = u"xxxxxxx";
    DWORD nameLength = 4;   // "Long" needs 5
    DWORD type = 0;
    BYTE data[6] = {};
    DWORD dataSize = sizeof data;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &nameLength, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
    nameLength = 5;
    dataSize = 5;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &nameLength, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 6u);
    EXPECT_EQ(std::count(std::begin(data), std::end(data), 0), 6);
    EXPECT_EQ(RegEnumValueW(key, 1, name, &nameLength, nullptr, &type, data, &dataSize), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Long");
    EXPECT_EQ(nameLength, 4u);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::vector<BYTE>(std::begin(data), std::end(data)), Bytes({1, 2, 3, 4, 5, 6}));
    nameLength = 8;
    EXPECT_EQ(RegEnumValueW(key, 3, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryNames, CompareWithoutCaseAndKeepTheirCase)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Software\\Tavrel\\\u00C4rger\u0416");
    HKEY same = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\tAVREL\\\u00E4RGER\u0436", &same, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(SetValue(key, u"Port\u00DE", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(same, u"PORT\u00FE", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(key, u"port\u00FE").data, Bytes({2, 0, 0, 0}));
    EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{u"Port\u00DE"});

    HKEY software = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"software", &software), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(software), std::vector<std::u16string>{u"Tavrel"});
    // Letters that only look alike are different names.
    HKEY other = nullptr;
    EXPECT_EQ(Open(software, u"Tavre1", &other), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(same, u"pORT\u00DE"), ERROR_SUCCESS);
    EXPECT_TRUE(ValueNames(key).empty());
}

TEST_F(RegistryDeletion, DeletesTheWholeTreeAndOpenHandlesSeeKeyDeleted)
{
    HKEY top = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Top");
    HKEY middle = CreateKey(top, u"Middle");
    HKEY bottom = CreateKey(middle, u"Bottom");
    ASSERT_EQ(SetValue(bottom, u"v", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Kept"));

    HKEY drivers = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers");
    ASSERT_EQ(RegDeleteKeyW(drivers, u"TOP"), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(drivers), std::vector<std::u16string>{u"Kept"});
    HKEY reopened = nullptr;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\Top\\Middle", &reopened), ERROR_FILE_NOT_FOUND);

    for (HKEY gone : {top, middle, bottom}) {
        HKEY child = nullptr;
        DWORD length = 8;
        WCHAR name[8];
        EXPECT_EQ(QueryValue(gone, u"v").result, ERROR_KEY_DELETED);
        EXPECT_EQ(SetValue(gone, u"v", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_KEY_DELETED);
        EXPECT_EQ(Create(gone, u"again", &child), ERROR_KEY_DELETED);
        EXPECT_EQ(Open(gone, nullptr, &child), ERROR_KEY_DELETED);
        EXPECT_EQ(RegEnumKeyExW(gone, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
        EXPECT_EQ(RegDeleteValueW(gone, u"v"), ERROR_KEY_DELETED);
        EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
    }
    // A key of the same name made afterwards is a new, empty key.
    HKEY fresh = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Top");
    EXPECT_TRUE(SubkeyNames(fresh).empty());

    EXPECT_EQ(RegDeleteKeyW(drivers, u"Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(drivers, u""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(drivers, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"\\"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SubkeyNames(drivers), (std::vector<std::u16string>{u"Kept", u"Top"}));
}

TEST_F(RegistryThreads, CallsFromSeveralThreadsAllLand)
{
    constexpr unsigned kThreads = 4;
    constexpr unsigned kValuesEach = 100;
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            HKEY key = CreateKey(HKEY_LOCAL_MACHINE, Numbered(u"Threads\\T", t).c_str());
            for (unsigned i = 0; i < kValuesEach; ++i) {
                const std::vector<BYTE> data = Bytes({static_cast<int>(i)});
                EXPECT_EQ(SetValue(key, Numbered(u"v", i).c_str(), REG_BINARY, data), ERROR_SUCCESS);
                SubkeyNames(HKEY_LOCAL_MACHINE);
            }
            RegCloseKey(key);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    HKEY root = CreateKey(HKEY_LOCAL_MACHINE, u"Threads");
    ASSERT_EQ(SubkeyNames(root).size(), kThreads);
    for (const std::u16string& name : SubkeyNames(root)) {
        EXPECT_EQ(ValueNames(CreateKey(root, name.c_str())).size(), kValuesEach);
    }
}

}  // namespace
