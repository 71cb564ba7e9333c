#include "tools/autostart_entry.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

#include "tools/small_file.h"

namespace tavrel::tools {
namespace {

const char kDeviceRootKey[] = "X-Tavrel-DeviceRoot=";

std::filesystem::path HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? std::filesystem::path(user->pw_dir) : std::filesystem::path();
}

// The escapes of a desktop entry's string value.
std::string EscapeValue(std::string_view text)
{
    std::string escaped;
    for (char c : text) {
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return escaped;
}

std::string UnescapeValue(std::string_view text)
{
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        plain += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return plain;
}

// One argument of an Exec line: in double quotes, with '"', '`', '$' and
// '\' escaped by a backslash, and '%' doubled (it starts a field code).
std::string ExecArgument(std::string_view argument)
{
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return quoted + "\"";
}

bool HasControlCharacter(const std::filesystem::path& path)
{
    const std::string text = path.string();
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
}

std::filesystem::path SamePlace(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path.lexically_normal() : canonical;
}

}  // namespace

std::filesystem::path AutostartEntryFile()
{
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path config = configured != nullptr ? configured : "";
    if (config.empty() || config.is_relative()) {   // the XDG rule: a relative value is ignored
        config = HomeFolder() / ".config";
    }
    return config / "autostart" / "tavrel.desktop";
}

std::string AutostartEntryText(const std::filesystem::path& launcher, const std::filesystem::path& deviceRoot,
                               const std::filesystem::path& portFolder)
{
    std::string exec = "env " + ExecArgument("TAVREL_DEVICE_ROOT=" + deviceRoot.string()) + " ";
    if (!portFolder.empty()) {
        exec += ExecArgument("TAVREL_PORT_DIR=" + portFolder.string()) + " ";
    }
    exec += ExecArgument(launcher.string());
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=Tavrel\n"
           "Comment=Starts Tavrel at login when its Autostart option is ticked\n"
           "Exec=" + EscapeValue(exec) + "\n"
           "Terminal=false\n" +
           kDeviceRootKey + EscapeValue(deviceRoot.string()) + "\n";
}

std::filesystem::path EntryDeviceRoot(std::string_view entryText)
{
    std::istringstream lines{std::string(entryText)};
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(kDeviceRootKey, 0) == 0) {
            return UnescapeValue(std::string_view(line).substr(sizeof(kDeviceRootKey) - 1));
        }
    }
    return {};
}

std::string WriteAutostartEntry(const std::filesystem::path& launcher, const std::filesystem::path& deviceRoot,
                                const std::filesystem::path& portFolder)
{
    for (const auto& path : {launcher, deviceRoot, portFolder}) {
        if (HasControlCharacter(path)) {
            return "the path " + path.string() + " holds a control character, which an autostart entry cannot hold";
        }
    }
    const std::filesystem::path file = AutostartEntryFile();
    const std::filesystem::path unfinished = file.string() + ".new";
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    {
        std::ofstream out(unfinished, std::ios::binary | std::ios::trunc);
        out << AutostartEntryText(launcher, deviceRoot, portFolder);
        out.flush();
        if (!out) {
            std::filesystem::remove(unfinished, error);
            return "cannot write " + unfinished.string();
        }
    }
    std::filesystem::rename(unfinished, file, error);
    return error ? "cannot write " + file.string() + ": " + error.message() : std::string();
}

EntryRemoval RemoveAutostartEntry(const std::filesystem::path& deviceRoot)
{
    const std::filesystem::path file = AutostartEntryFile();
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return EntryRemoval::Absent;
    }
    const std::filesystem::path recorded = EntryDeviceRoot(ReadSmallFile(file).value_or(""));
    if (recorded.empty()) {
        return EntryRemoval::NotMadeByInstall;
    }
    if (SamePlace(recorded) != SamePlace(deviceRoot)) {
        return EntryRemoval::ForAnotherDevice;
    }
    return std::filesystem::remove(file, error) ? EntryRemoval::Removed : EntryRemoval::Failed;
}

}  // namespace tavrel::tools
