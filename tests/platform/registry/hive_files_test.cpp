// The hives on their files: every value comes back byte for byte, a file that
// cannot be parsed or is no regular file is reported and left alone, a failed
// write changes nothing, and the file on disk is whole whenever a writer stops.
#include <fcntl.h>
#include <sys/file.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry_batch.h"
#include "platform/strings.h"
#include "registry/hives.h"
#include "registry/reg_text.h"
#include "registry_test_util.h"
#include "support/file_replacements.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using platform::registry::MountHives;
using platform::registry::UnmountHives;

class HiveFiles : public ::testing::Test {
protected:
    void TearDown() override { UnmountHives(); }

    std::filesystem::path SystemFile() const { return folder / "system.reg"; }
    std::filesystem::path UserFile() const { return folder / "user.reg"; }

    // The file parses, and writing what it holds gives the same text back:
    // nothing is missing from its end.
    void ExpectWholeFile(const std::filesystem::path& file, std::u16string_view rootName) const
    {
        const std::string text = ReadWholeFile(file);
        const auto parsed = platform::registry::ParseHive(text, rootName);
        ASSERT_NE(parsed.root, nullptr) << file << ":" << parsed.errorLine << ": " << parsed.error;
        EXPECT_EQ(platform::registry::FormatHive(*parsed.root, rootName), text);
    }

    TempFolder temp;
    const std::filesystem::path folder = temp.path() / "device" / "registry";
};

// Whether another process could take the hive's lock now: flock() locks
// belong to one open of the file, so a second open here stands for another
// process.
bool OtherProcessCanLock(const std::filesystem::path& hiveFile)
{
    std::filesystem::path lockFile = hiveFile;
    lockFile += ".lock";
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        ADD_FAILURE() << "cannot open " << lockFile;
        return false;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

struct Sample {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<Sample> EveryKindOfValue()
{
    std::vector<BYTE> counting;
    for (int i = 0; i < 100; ++i) {
        counting.push_back(static_cast<BYTE>(i * 7));
    }
    std::vector<BYTE> multi = TextBytes(u"one");
    const std::vector<BYTE> two = TextBytes(u"two");
    multi.insert(multi.end(), two.begin(), two.end());
    multi.insert(multi.end(), {0, 0});
    return {
        {u"Text", REG_SZ, TextBytes(u"COM \"quoted\" C:\\dir\\ \u00E9\u4E2D\U0001F600")},
        {u"Unterminated", REG_SZ, Bytes({'A', 0, 'B', 0})},
        {u"EmbeddedNull", REG_SZ, Bytes({'A', 0, 0, 0, 'B', 0, 0, 0})},
        {u"LineBreak", REG_SZ, TextBytes(u"a\r\nb")},
        {u"LoneSurrogate", REG_SZ, Bytes({0, 0xD8, 0, 0})},
        {u"OddSize", REG_SZ, Bytes({'A', 0, 0})},
        {u"EmptyText", REG_SZ, {}},
        {u"OnlyTerminator", REG_SZ, Bytes({0, 0})},
        {u"Expand", REG_EXPAND_SZ, TextBytes(u"%TEMP%")},
        {u"Binary", REG_BINARY, counting},
        {u"EmptyBinary", REG_BINARY, {}},
        {u"Dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})},
        {u"ShortDword", REG_DWORD, Bytes({1, 2})},
        {u"BigEndian", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 0, 1})},
        {u"Link", REG_LINK, TextBytes(u"x")},
        {u"Multi", REG_MULTI_SZ, multi},
        {u"Qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        {u"None", REG_NONE, {}},
        {u"Custom", 0xFFFFFFFF, Bytes({9})},
        {u"", REG_SZ, TextBytes(u"default")},
        {u"Quote\"Back\\slash @=[x]", REG_DWORD, Bytes({1, 0, 0, 0})},
        {u"\U0001F600 \u00C4 ", REG_BINARY, Bytes({0xff})},
    };
}

TEST_F(HiveFiles, EveryValueComesBackByteForByteAfterRemounting)
{
    const std::vector<Sample> samples = EveryKindOfValue();
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Round\\Trip");
    for (const Sample& sample : samples) {
        ASSERT_EQ(SetValue(key, sample.name.c_str(), sample.type, sample.data), ERROR_SUCCESS);
    }
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"Empty\\Leaf"));
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u" Odd ] [name "));
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, u"AtRoot", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    HKEY user = CreateKey(HKEY_CURRENT_USER, u"Software\\Tavrel");
    ASSERT_EQ(SetValue(user, u"Port", REG_SZ, TextBytes(u"COM5:")), ERROR_SUCCESS);

    UnmountHives();
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
    const auto mounted = MountHives(folder);
    ASSERT_TRUE(mounted.ok) << (mounted.errors.empty() ? "" : mounted.errors.front());

    key = CreateKey(HKEY_LOCAL_MACHINE, u"Round\\Trip");
    std::vector<std::u16string> names;
    for (const Sample& sample : samples) {
        const QueriedValue value = QueryValue(key, sample.name.c_str());
        EXPECT_EQ(value.result, ERROR_SUCCESS) << platform::ToUtf8(sample.name);
        EXPECT_EQ(value.type, sample.type) << platform::ToUtf8(sample.name);
        EXPECT_EQ(value.data, sample.data) << platform::ToUtf8(sample.name);
        names.push_back(sample.name);
    }
    EXPECT_EQ(ValueNames(key), names);
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), (std::vector<std::u16string>{u"Round", u"Empty", u" Odd ] [name "}));
    EXPECT_EQ(SubkeyNames(CreateKey(HKEY_LOCAL_MACHINE, u"Empty")), std::vector<std::u16string>{u"Leaf"});
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, u"AtRoot").data, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(QueryValue(CreateKey(HKEY_CURRENT_USER, u"Software\\Tavrel"), u"Port").data, TextBytes(u"COM5:"));
    ExpectWholeFile(SystemFile(), u"HKEY_LOCAL_MACHINE");
}

TEST_F(HiveFiles, MemoryOnlyBeforeMountingAndAfterUnmounting)
{
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"BeforeMount"));
    ASSERT_TRUE(MountHives(folder).ok);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Mounted");
    EXPECT_FALSE(std::filesystem::exists(UserFile()));
    const std::string written = ReadWholeFile(SystemFile());
    EXPECT_EQ(written, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Mounted]\n");

    UnmountHives();
    EXPECT_EQ(SetValue(key, u"v", REG_BINARY, Bytes({1})), ERROR_INVALID_HANDLE);
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"AfterUnmount"));
    EXPECT_EQ(ReadWholeFile(SystemFile()), written);
}

TEST_F(HiveFiles, UnparsableFileIsReportedWithItsLineAndLeftAlone)
{
    std::filesystem::create_directories(folder);
    const std::string broken = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Drivers]\n\"Index\"=dword:1\n\"Prefix\"=\"COM\n";
    WriteWholeFile(SystemFile(), broken);
    WriteWholeFile(UserFile(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"Kept\"=dword:00000002\n");

    const auto mounted = MountHives(folder);
    EXPECT_FALSE(mounted.ok);
    ASSERT_EQ(mounted.errors.size(), 1u);
    EXPECT_EQ(mounted.errors[0].rfind(SystemFile().string() + ":5: ", 0), 0u) << mounted.errors[0];

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers", 0, 0, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"New", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_BADDB);
    EXPECT_EQ(SetValue(HKEY_LOCAL_MACHINE, u"v", REG_BINARY, Bytes({1})), ERROR_BADDB);
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, u"v").result, ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers"), ERROR_BADDB);
    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_BADDB);

    HKEY software = CreateKey(HKEY_CURRENT_USER, u"Software");
    EXPECT_EQ(QueryValue(software, u"Kept").data, Bytes({2, 0, 0, 0}));
    ASSERT_EQ(SetValue(software, u"Added", REG_DWORD, Bytes({3, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_NE(ReadWholeFile(UserFile()).find("\"Added\"=dword:00000003"), std::string::npos);

    UnmountHives();
    EXPECT_EQ(ReadWholeFile(SystemFile()), broken);
    EXPECT_EQ(SetValue(HKEY_LOCAL_MACHINE, u"v", REG_BINARY, Bytes({1})), ERROR_SUCCESS);
}

TEST_F(HiveFiles, UnreadableFileOrFolderMakesItsHivesUnusable)
{
    std::filesystem::create_directories(SystemFile());
    auto mounted = MountHives(folder);
    EXPECT_FALSE(mounted.ok);
    ASSERT_EQ(mounted.errors.size(), 1u);
    EXPECT_EQ(mounted.errors[0], SystemFile().string() + ": a folder, not a regular file");
    EXPECT_EQ(SetValue(HKEY_LOCAL_MACHINE, u"v", REG_BINARY, Bytes({1})), ERROR_BADDB);
    EXPECT_EQ(SetValue(HKEY_CURRENT_USER, u"v", REG_BINARY, Bytes({1})), ERROR_SUCCESS);

    const std::filesystem::path notAFolder = temp.path() / "plain-file";
    WriteWholeFile(notAFolder, "x");
    mounted = MountHives(notAFolder / "registry");
    EXPECT_FALSE(mounted.ok);
    EXPECT_EQ(mounted.errors.size(), 2u);
    EXPECT_EQ(SetValue(HKEY_LOCAL_MACHINE, u"v", REG_BINARY, Bytes({1})), ERROR_BADDB);
    EXPECT_EQ(SetValue(HKEY_CURRENT_USER, u"v", REG_BINARY, Bytes({1})), ERROR_BADDB);
    EXPECT_EQ(ReadWholeFile(notAFolder), "x");
}

// Neither is opened for reading, so mounting cannot block on the FIFO nor
// read the device for ever.
TEST_F(HiveFiles, AHivePathThatIsNoRegularFileIsReportedAndLeftAsItIs)
{
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo(UserFile().c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", SystemFile());

    const auto mounted = MountHives(folder);
    EXPECT_FALSE(mounted.ok);
    EXPECT_EQ(mounted.errors, (std::vector<std::string>{SystemFile().string() + ": a device, not a regular file",
                                                        UserFile().string() + ": a FIFO, not a regular file"}));
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root, u"New", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_BADDB);
        EXPECT_EQ(SetValue(root, u"v", REG_BINARY, Bytes({1})), ERROR_BADDB);
        EXPECT_EQ(QueryValue(root, u"v").result, ERROR_BADDB);
    }
    EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(UserFile())));
    EXPECT_EQ(std::filesystem::read_symlink(SystemFile()), "/dev/zero");
}

TEST_F(HiveFiles, FailedWriteReturnsAnErrorAndTakesTheChangeBack)
{
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Settings\\Child");
    HKEY settings = CreateKey(HKEY_LOCAL_MACHINE, u"Settings");
    ASSERT_EQ(SetValue(settings, u"Kept", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    const std::string before = ReadWholeFile(SystemFile());

    // With a plain file where the folder was, no file can be written there.
    const std::filesystem::path moved = temp.path() / "moved";
    std::filesystem::rename(folder, moved);
    WriteWholeFile(folder, "not a folder");

    EXPECT_EQ(SetValue(settings, u"Kept", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(SetValue(settings, u"New", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_REGISTRY_IO_FAILED);
    const DWORD two = 2;
    const REGVALUEW both[] = {{u"Kept", REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two},
                              {u"New", REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two}};
    EXPECT_EQ(RegSetValuesW(settings, both, 2), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(RegDeleteValueW(settings, u"Kept"), ERROR_REGISTRY_IO_FAILED);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(settings, u"New\\Deeper", 0, nullptr, 0, 0, nullptr, &created, nullptr),
              ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(RegDeleteKeyW(settings, u"Child"), ERROR_REGISTRY_IO_FAILED);

    EXPECT_EQ(ValueNames(settings), std::vector<std::u16string>{u"Kept"});
    EXPECT_EQ(QueryValue(settings, u"Kept").data, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(SubkeyNames(settings), std::vector<std::u16string>{u"Child"});
    EXPECT_EQ(SetValue(key, u"StillOpen", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_REGISTRY_IO_FAILED);

    std::filesystem::remove(folder);
    std::filesystem::rename(moved, folder);
    EXPECT_EQ(ReadWholeFile(SystemFile()), before);
    ASSERT_EQ(SetValue(key, u"StillOpen", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    UnmountHives();
    ASSERT_TRUE(MountHives(folder).ok);
    settings = CreateKey(HKEY_LOCAL_MACHINE, u"Settings");
    EXPECT_EQ(ValueNames(settings), std::vector<std::u16string>{u"Kept"});
    EXPECT_EQ(SubkeyNames(settings), std::vector<std::u16string>{u"Child"});
    EXPECT_EQ(ValueNames(CreateKey(settings, u"Child")), std::vector<std::u16string>{u"StillOpen"});
}

// Several values set in one call reach the file in one write, every one of
// them or, when one entry is refused, none; RegSetValueExW still writes the
// file at each call.
TEST_F(HiveFiles, ValuesSetTogetherAreOneWriteOfTheFileAndAllOrNone)
{
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY key = CreateKey(HKEY_CURRENT_USER, u"Settings");
    const DWORD four = 4;
    const DWORD five = 5;
    const std::vector<BYTE> text = TextBytes(u"on");
    const auto dword = [](const char16_t* name, const DWORD& value) {
        return REGVALUEW{name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value};
    };
    const REGVALUEW values[] = {dword(u"Port", four), dword(u"Baud", four),
                                {u"Mode", REG_SZ, text.data(), static_cast<DWORD>(text.size())},
                                dword(u"PORT", five)};   // a later entry wins
    FileReplacements writes(UserFile());
    ASSERT_EQ(RegSetValuesW(key, values, 4), ERROR_SUCCESS);
    EXPECT_EQ(writes.Count(), 1);
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Port", u"Baud", u"Mode"}));
    EXPECT_EQ(QueryValue(key, u"Port").data, Bytes({5, 0, 0, 0}));

    ASSERT_EQ(SetValue(key, u"One", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key, u"Two", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_EQ(writes.Count(), 3);

    const std::u16string tooLong(MAX_VALUE_NAME_LENGTH + 1, u'n');
    const REGVALUEW noData[] = {dword(u"Fine", four), {u"NoData", REG_BINARY, nullptr, 4}};
    const REGVALUEW badName[] = {dword(u"Fine", four), dword(tooLong.c_str(), four)};
    EXPECT_EQ(RegSetValuesW(key, noData, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValuesW(key, badName, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValuesW(key, nullptr, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValuesW(key, nullptr, 0), ERROR_SUCCESS);   // nothing to change
    EXPECT_EQ(RegSetValuesW(reinterpret_cast<HKEY>(ULONG_PTR{0x1234}), values, 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(writes.Count(), 3);
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Port", u"Baud", u"Mode", u"One", u"Two"}));

    UnmountHives();
    ASSERT_TRUE(MountHives(folder).ok);
    key = CreateKey(HKEY_CURRENT_USER, u"Settings");
    EXPECT_EQ(QueryValue(key, u"Port").data, Bytes({5, 0, 0, 0}));
    EXPECT_EQ(QueryValue(key, u"Mode").data, text);
}

TEST_F(HiveFiles, LeftoverTemporaryFilesAreIgnoredAndRemoved)
{
    std::filesystem::create_directories(folder);
    WriteWholeFile(SystemFile(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Whole]\n\"v\"=dword:00000001\n");
    const std::string half = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Half]\n\"v\"=hex:01,";
    // The name of older versions, and that of a writer that was killed.
    WriteWholeFile(folder / "system.reg.tmp", half);
    WriteWholeFile(folder / "system.reg.tmp-0123456789abcdef", half);
    WriteWholeFile(folder / "system.reg.tmpl", "not ours");
    ASSERT_TRUE(MountHives(folder).ok);
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), std::vector<std::u16string>{u"Whole"});
    EXPECT_FALSE(std::filesystem::exists(folder / "system.reg.tmp"));
    EXPECT_FALSE(std::filesystem::exists(folder / "system.reg.tmp-0123456789abcdef"));
    EXPECT_EQ(ReadWholeFile(folder / "system.reg.tmpl"), "not ours");

    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"Next"));
    EXPECT_EQ(ReadWholeFile(SystemFile()),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Whole]\n\"v\"=dword:00000001\n\n[HKEY_LOCAL_MACHINE\\Next]\n");
}

TEST_F(HiveFiles, FileIsWholeAndCurrentAfterEveryCall)
{
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY key = nullptr;
    struct Step {
        std::function<LONG()> call;
        std::string present;   // the change, as the file shows it
        std::string absent;    // what the change removed
    };
    const std::vector<Step> steps = {
        {[&] {
             key = CreateKey(HKEY_CURRENT_USER, u"A\\B");
             return LONG{ERROR_SUCCESS};
         },
         "[HKEY_CURRENT_USER\\A\\B]", ""},
        {[&] { return SetValue(key, u"v", REG_DWORD, Bytes({1, 0, 0, 0})); }, "\"v\"=dword:00000001", ""},
        {[&] { return SetValue(key, u"V", REG_DWORD, Bytes({2, 0, 0, 0})); }, "\"v\"=dword:00000002", "dword:00000001"},
        {[&] { return SetValue(key, u"w", REG_BINARY, std::vector<BYTE>(200, 0x55)); }, ",55\n", ""},
        {[&] { return RegDeleteValueW(key, u"v"); }, "\"w\"=hex:55", "\"v\""},
        {[&] { return RegDeleteKeyW(HKEY_CURRENT_USER, u"A"); }, "REGEDIT4\n", "[HKEY_CURRENT_USER\\A"},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ASSERT_EQ(steps[i].call(), ERROR_SUCCESS) << "step " << i;
        const std::string text = ReadWholeFile(UserFile());
        EXPECT_NE(text.find(steps[i].present), std::string::npos) << "step " << i << ":\n" << text;
        if (!steps[i].absent.empty()) {
            EXPECT_EQ(text.find(steps[i].absent), std::string::npos) << "step " << i << ":\n" << text;
        }
        ExpectWholeFile(UserFile(), u"HKEY_CURRENT_USER");
    }
}

// Reads the next acknowledgement (the index of a call that returned) from the
// writer; false at the end of the pipe or after a generous time-out.
bool ReadAcknowledgement(int pipe, unsigned& index)
{
    pollfd ready{pipe, POLLIN, 0};
    if (::poll(&ready, 1, 30000) != 1) {
        return false;
    }
    return ::read(pipe, &index, sizeof index) == static_cast<ssize_t>(sizeof index);
}

std::vector<BYTE> IndexBytes(unsigned index)
{
    return Bytes({static_cast<int>(index & 0xFF), static_cast<int>(index >> 8), 0, 0});
}

[[noreturn]] void WriteUntilKilled(int acknowledgements)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Crash", 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        ::_exit(1);
    }
    for (unsigned i = 0; i < 100000; ++i) {
        if (SetValue(key, Numbered(u"v", i).c_str(), REG_DWORD, IndexBytes(i)) != ERROR_SUCCESS ||
            ::write(acknowledgements, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) {
            ::_exit(1);
        }
    }
    ::_exit(0);
}

TEST_F(HiveFiles, WriterKilledMidWayLeavesAWholeFileWithEveryFinishedCall)
{
    ASSERT_TRUE(MountHives(folder).ok);
    int acknowledgements[2];
    ASSERT_EQ(::pipe(acknowledgements), 0);
    const pid_t writer = ::fork();
    ASSERT_NE(writer, -1);
    if (writer == 0) {
        ::close(acknowledgements[0]);
        WriteUntilKilled(acknowledgements[1]);
    }
    ::close(acknowledgements[1]);

    // Kill the writer once it has finished some calls, wherever it is then.
    unsigned finished = 0;
    unsigned index = 0;
    while (finished < 50 && ReadAcknowledgement(acknowledgements[0], index)) {
        finished = index + 1;
    }
    ASSERT_EQ(finished, 50u);
    ::kill(writer, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    while (ReadAcknowledgement(acknowledgements[0], index)) {
        finished = index + 1;
    }
    ::close(acknowledgements[0]);

    ExpectWholeFile(SystemFile(), u"HKEY_LOCAL_MACHINE");
    UnmountHives();
    ASSERT_TRUE(MountHives(folder).ok);
    // What the writer may have left beside it is gone at the next start.
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Crash");
    const std::vector<std::u16string> names = ValueNames(key);
    // Every call that returned is in the file, and at most one more that had
    // finished its write when the writer was killed.
    ASSERT_GE(names.size(), finished);
    EXPECT_LE(names.size(), finished + 1);
    for (unsigned i = 0; i < names.size(); ++i) {
        ASSERT_EQ(names[i], Numbered(u"v", i));
        EXPECT_EQ(QueryValue(key, names[i].c_str()).data, IndexBytes(i));
    }
}

}  // namespace

// Keys that a program writes anew at every start do not make a batch write
// the file when nothing in them changed; outside a batch every call writes.
TEST_F(HiveFiles, ValuesSetAgainAsTheyAreDoNotMakeABatchWrite)
{
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Port3");
    const DWORD three = 3;
    const std::vector<BYTE> prefix = TextBytes(u"COM");
    const REGVALUEW values[] = {{u"Prefix", REG_SZ, prefix.data(), static_cast<DWORD>(prefix.size())},
                                {u"Index", REG_DWORD, reinterpret_cast<const BYTE*>(&three), sizeof three}};
    ASSERT_EQ(RegSetValuesW(key, values, 2), ERROR_SUCCESS);
    FileReplacements writes(SystemFile());
    {
        platform::RegistryBatch batch(HKEY_LOCAL_MACHINE);
        ASSERT_EQ(RegSetValuesW(key, values, 2), ERROR_SUCCESS);
        ASSERT_EQ(SetValue(key, u"INDEX", REG_DWORD, Bytes({3, 0, 0, 0})), ERROR_SUCCESS);   // names ignore case
        HKEY again = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Port3");
        EXPECT_EQ(ValueNames(again), (std::vector<std::u16string>{u"Prefix", u"Index"}));
    }
    EXPECT_EQ(writes.Count(), 0);

    // The same bytes as another type, other bytes, or one new value among old ones: a change.
    const REGVALUEW oldAndNew[] = {values[0], {u"Extra", REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4}};
    for (const auto& change : std::vector<std::function<LONG()>>{
             [&] { return SetValue(key, u"Index", REG_BINARY, Bytes({3, 0, 0, 0})); },
             [&] { return SetValue(key, u"Index", REG_BINARY, Bytes({4, 0, 0, 0})); },
             [&] { return RegSetValuesW(key, oldAndNew, 2); }}) {
        const int before = writes.Count();
        {
            platform::RegistryBatch batch(HKEY_LOCAL_MACHINE);
            ASSERT_EQ(change(), ERROR_SUCCESS);
        }
        EXPECT_EQ(writes.Count(), before + 1);
    }
    // Outside a batch, a value set again as it is still writes the file.
    ASSERT_EQ(RegSetValuesW(key, oldAndNew, 2), ERROR_SUCCESS);
    EXPECT_EQ(writes.Count(), 4);

    UnmountHives();
    ASSERT_TRUE(MountHives(folder).ok);
    key = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Port3");
    EXPECT_EQ(QueryValue(key, u"Index").type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(QueryValue(key, u"Index").data, Bytes({4, 0, 0, 0}));
    EXPECT_EQ(QueryValue(key, u"Extra").data, Bytes({3, 0, 0, 0}));
}

// A batch: the process sees its changes at once, the other processes of the
// device cannot change the hive meanwhile, and the file gets every change in
// one write when the batch finishes (also when it just ends).
TEST_F(HiveFiles, ABatchWritesItsHiveOnceWhenItFinishes)
{
    ASSERT_TRUE(MountHives(folder).ok);
    CreateKey(HKEY_LOCAL_MACHINE, u"Drivers");
    const std::string before = ReadWholeFile(SystemFile());
    FileReplacements writes(SystemFile());
    FileReplacements userWrites(UserFile());
    {
        platform::RegistryBatch batch(HKEY_LOCAL_MACHINE);
        EXPECT_FALSE(OtherProcessCanLock(SystemFile()));
        EXPECT_TRUE(OtherProcessCanLock(UserFile()));
        for (unsigned n = 0; n < 10; ++n) {
            HKEY port = CreateKey(HKEY_LOCAL_MACHINE, Numbered(u"Drivers\\quorvel", n).c_str());
            ASSERT_EQ(SetValue(port, u"Index", REG_DWORD, Bytes({static_cast<int>(n), 0, 0, 0})), ERROR_SUCCESS);
            ASSERT_EQ(SetValue(port, u"Prefix", REG_SZ, TextBytes(u"COM")), ERROR_SUCCESS);
        }
        {
            platform::RegistryBatch inner(HKEY_LOCAL_MACHINE);   // batches nest: the outer one writes
            ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\quorvel0"), ERROR_SUCCESS);
            EXPECT_EQ(inner.Finish(), ERROR_SUCCESS);
        }
        // The other hive is written at each call as ever.
        ASSERT_EQ(SetValue(CreateKey(HKEY_CURRENT_USER, u"Settings"), u"Saved", REG_DWORD, Bytes({1, 0, 0, 0})),
                  ERROR_SUCCESS);
        EXPECT_GE(userWrites.Count(), 1);

        EXPECT_EQ(SubkeyNames(CreateKey(HKEY_LOCAL_MACHINE, u"Drivers")).size(), 9u);
        EXPECT_EQ(writes.Count(), 0);
        EXPECT_EQ(ReadWholeFile(SystemFile()), before);
        EXPECT_EQ(batch.Finish(), ERROR_SUCCESS);
        EXPECT_EQ(writes.Count(), 1);
        EXPECT_TRUE(OtherProcessCanLock(SystemFile()));
        EXPECT_EQ(batch.Finish(), ERROR_SUCCESS);   // once only
    }
    EXPECT_EQ(writes.Count(), 1);
    ExpectWholeFile(SystemFile(), u"HKEY_LOCAL_MACHINE");

    // A batch that ends without Finish() writes too; one that changed nothing does not write.
    {
        platform::RegistryBatch batch(HKEY_LOCAL_MACHINE);
        ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\quorvel9"), ERROR_SUCCESS);
    }
    EXPECT_EQ(writes.Count(), 2);
    {
        platform::RegistryBatch batch(HKEY_LOCAL_MACHINE);
        HKEY port = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\quorvel5");
        ASSERT_EQ(SetValue(port, u"Prefix", REG_SZ, TextBytes(u"COM")), ERROR_SUCCESS);
    }
    EXPECT_EQ(writes.Count(), 2);

    UnmountHives();
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY drivers = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers");
    EXPECT_EQ(SubkeyNames(drivers).size(), 8u);
    EXPECT_EQ(QueryValue(CreateKey(drivers, u"quorvel8"), u"Index").data, Bytes({8, 0, 0, 0}));
}

// A batch whose write fails says so, and the hive holds what its file holds.
TEST_F(HiveFiles, ABatchThatCannotBeWrittenLeavesTheHiveAsItsFile)
{
    ASSERT_TRUE(MountHives(folder).ok);
    HKEY drivers = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers");
    ASSERT_EQ(SetValue(drivers, u"Kept", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    const std::string before = ReadWholeFile(SystemFile());
    {
        platform::RegistryBatch batch(HKEY_LOCAL_MACHINE);
        ASSERT_EQ(SetValue(drivers, u"Kept", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_SUCCESS);
        CreateKey(drivers, u"quorvel2");

        // With a plain file where the folder was, no file can be written there.
        const std::filesystem::path moved = temp.path() / "moved";
        std::filesystem::rename(folder, moved);
        WriteWholeFile(folder, "not a folder");
        EXPECT_EQ(batch.Finish(), ERROR_REGISTRY_IO_FAILED);
        std::filesystem::remove(folder);
        std::filesystem::rename(moved, folder);
    }
    EXPECT_EQ(ReadWholeFile(SystemFile()), before);
    EXPECT_EQ(QueryValue(drivers, u"Kept").data, Bytes({1, 0, 0, 0}));
    EXPECT_TRUE(SubkeyNames(drivers).empty());
    ASSERT_EQ(SetValue(drivers, u"After", REG_DWORD, Bytes({3, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_NE(ReadWholeFile(SystemFile()).find("\"After\""), std::string::npos);
}
