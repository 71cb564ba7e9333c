#include "session/window_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <system_error>

namespace platform::session {
namespace {

constexpr std::string_view kHeader = "tavrel windows 1\n";
// A list larger than this is not one that a process wrote.
constexpr std::size_t kListLimit = 1 << 20;
// Tries to take this process's lock while clean-ups after an earlier process
// with the same id keep removing it under our feet.
constexpr int kJoinAttempts = 8;

std::filesystem::path BoardFolder(const std::filesystem::path& deviceRoot)
{
    return RunFolder(deviceRoot) / "windows";
}

std::filesystem::path ProcessFile(const std::filesystem::path& folder, pid_t process, const char* suffix)
{
    return folder / (std::to_string(process) + suffix);
}

template <typename Number> bool ParseNumber(std::string_view text, Number& value, int base)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<PublishedWindow> DecodeLine(std::string_view line)
{
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    ULONG_PTR handle = 0;
    PublishedWindow window{};
    const auto title = UnitsOfHex(line.substr(second + 1));
    if (!ParseNumber(line.substr(0, first), handle, 16) ||
        !ParseNumber(line.substr(first + 1, second - first - 1), window.order, 10) || !title) {
        return std::nullopt;
    }
    window.handle = reinterpret_cast<HWND>(handle);
    window.title = *title;
    return window;
}

std::optional<pid_t> ProcessOfLockFile(const std::filesystem::path& file)
{
    pid_t process = 0;
    if (file.extension() != ".lock" || !ParseNumber(file.stem().string(), process, 10) || process <= 0) {
        return std::nullopt;
    }
    return process;
}

// Whether the process that owns the lock file is alive. A dead one's files
// are removed when nobody else is looking at them at the same moment.
bool IsAlive(const std::filesystem::path& lockFile, const std::filesystem::path& listFile)
{
    const UniqueFd probe(::open(lockFile.c_str(), O_RDWR | O_CLOEXEC));
    if (!probe.valid()) {
        return false;
    }
    if (!Lock(probe, LockMode::Shared, LockWait::DoNotBlock)) {
        return true;  // its owner holds it exclusively
    }
    // The list goes first: a new process that takes this id creates its lock
    // file only after the old one is gone, and writes its list after that.
    if (Lock(probe, LockMode::Exclusive, LockWait::DoNotBlock) && StillNamedBy(probe.get(), lockFile)) {
        std::filesystem::path unfinished = listFile;
        unfinished += ".tmp";  // killed while it wrote its list
        ::unlink(unfinished.c_str());
        ::unlink(listFile.c_str());
        ::unlink(lockFile.c_str());
    }
    return false;
}

void AppendWindowsOf(const std::filesystem::path& listFile, pid_t process, std::vector<PublishedWindow>& all)
{
    const auto text = ReadSmallFile(listFile, kListLimit);
    const auto windows = text ? DecodeWindowList(*text) : std::nullopt;
    if (!windows) {
        return;
    }
    // Only the process's own windows: a post to any other handle would go astray.
    std::copy_if(windows->begin(), windows->end(), std::back_inserter(all), [process](const PublishedWindow& w) {
        return ProcessOfWindow(w.handle) == static_cast<std::uint32_t>(process);
    });
}

}  // namespace

std::string EncodeWindowList(const std::vector<PublishedWindow>& windows)
{
    std::string text(kHeader);
    char handle[2 * sizeof(ULONG_PTR) + 1];
    for (const PublishedWindow& window : windows) {
        const auto end =
            std::to_chars(handle, handle + sizeof handle, reinterpret_cast<ULONG_PTR>(window.handle), 16).ptr;
        text.append(handle, end);
        text += ' ' + std::to_string(window.order) + ' ' + HexOfUnits(window.title) + '\n';
    }
    return text;
}

std::optional<std::vector<PublishedWindow>> DecodeWindowList(std::string_view text)
{
    if (!text.starts_with(kHeader)) {
        return std::nullopt;
    }
    text.remove_prefix(kHeader.size());
    std::vector<PublishedWindow> windows;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;  // cut short
        }
        auto window = DecodeLine(text.substr(0, end));
        if (!window) {
            return std::nullopt;
        }
        windows.push_back(std::move(*window));
        text.remove_prefix(end + 1);
    }
    return windows;
}

WindowBoard::WindowBoard(std::filesystem::path deviceRoot, std::filesystem::path lockFile,
                         std::filesystem::path listFile, UniqueFd lock)
    : deviceRoot_(std::move(deviceRoot)), lockFile_(std::move(lockFile)), listFile_(std::move(listFile)),
      lock_(std::move(lock))
{
}

std::optional<WindowBoard> WindowBoard::Join(const std::filesystem::path& deviceRoot)
{
    const std::filesystem::path folder = BoardFolder(deviceRoot);
    const pid_t self = ::getpid();
    const auto lockFile = ProcessFile(folder, self, ".lock");
    const auto listFile = ProcessFile(folder, self, ".list");
    for (int attempt = 0; attempt < kJoinAttempts; ++attempt) {
        UniqueFd lock = OpenLockFile(lockFile);
        if (!lock.valid() || !Lock(lock, LockMode::Exclusive, LockWait::Block)) {
            return std::nullopt;
        }
        if (StillNamedBy(lock.get(), lockFile)) {
            ::unlink(listFile.c_str());  // left by an ended process that had this id
            return WindowBoard(deviceRoot, lockFile, listFile, std::move(lock));
        }
    }
    return std::nullopt;
}

WindowBoard::~WindowBoard()
{
    if (lock_.valid()) {
        ::unlink(listFile_.c_str());
        ::unlink(lockFile_.c_str());
    }
}

bool WindowBoard::Publish(const std::vector<PublishedWindow>& windows) const
{
    return ReplaceFile(listFile_, EncodeWindowList(windows));
}

std::vector<PublishedWindow> ReadOtherProcessesWindows(const std::filesystem::path& deviceRoot, pid_t self)
{
    std::vector<PublishedWindow> all;
    const std::filesystem::path folder = BoardFolder(deviceRoot);
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const auto process = ProcessOfLockFile(entry->path());
        if (!process || *process == self) {
            continue;
        }
        const auto listFile = ProcessFile(folder, *process, ".list");
        if (IsAlive(entry->path(), listFile)) {
            AppendWindowsOf(listFile, *process, all);
        }
    }
    // Newest first; the handle settles a tie so that the order is the same on every call.
    std::sort(all.begin(), all.end(), [](const PublishedWindow& a, const PublishedWindow& b) {
        if (a.order != b.order) {
            return a.order > b.order;
        }
        return reinterpret_cast<ULONG_PTR>(a.handle) < reinterpret_cast<ULONG_PTR>(b.handle);
    });
    return all;
}

}  // namespace platform::session
