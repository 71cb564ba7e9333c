#include "setup/autostart_entry.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/host/file_calls.h"
#include "platform/host/home_folder.h"
#include "setup/durable_file.h"

namespace tavrel::setup {
namespace {

const char kDeviceRootKey[] = "X-Tavrel-DeviceRoot=";

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

std::filesystem::path Place(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path.lexically_normal() : canonical;
}

// The value of the line that starts with `key`; nothing when there is none.
std::optional<std::string> EntryValue(std::string_view entryText, std::string_view key)
{
    std::istringstream lines{std::string(entryText)};
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key, 0) == 0) {
            return UnescapeValue(std::string_view(line).substr(key.size()));
        }
    }
    return std::nullopt;
}

// The arguments of an Exec line as ExecArgument quoted them, the bare words
// (env) as they are; nothing when a quote is left open.
std::optional<std::vector<std::string>> ExecArguments(std::string_view exec)
{
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string argument;
        if (exec[i] != '"') {
            const std::size_t end = std::min(exec.find(' ', i), exec.size());
            arguments.emplace_back(exec.substr(i, end - i));
            i = end;
            continue;
        }
        for (++i; i < exec.size() && exec[i] != '"'; ++i) {
            const bool escaped = exec[i] == '\\' && i + 1 < exec.size();
            const bool percent = exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%';
            i += escaped || percent ? 1 : 0;
            argument += exec[i];
        }
        if (i >= exec.size()) {
            return std::nullopt;
        }
        ++i;
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

// The value of "NAME=value" when `argument` is one for `name`.
std::optional<std::string> Assignment(const std::string& argument, std::string_view name)
{
    if (argument.size() <= name.size() || argument.compare(0, name.size(), name) != 0 || argument[name.size()] != '=') {
        return std::nullopt;
    }
    return argument.substr(name.size() + 1);
}

}  // namespace

bool SamePlace(const std::filesystem::path& left, const std::filesystem::path& right)
{
    return Place(left) == Place(right);
}

std::optional<EntryCommand> ReadEntryCommand(std::string_view entryText)
{
    const std::optional<std::string> exec = EntryValue(entryText, "Exec=");
    const std::optional<std::vector<std::string>> arguments = exec ? ExecArguments(*exec) : std::nullopt;
    if (!arguments || arguments->size() < 3 || arguments->size() > 4 || arguments->front() != "env") {
        return std::nullopt;
    }
    const std::optional<std::string> root = Assignment((*arguments)[1], "TAVREL_DEVICE_ROOT");
    const std::optional<std::string> ports =
        arguments->size() == 4 ? Assignment((*arguments)[2], "TAVREL_PORT_DIR") : std::string();
    if (!root || !ports) {
        return std::nullopt;
    }
    return EntryCommand{*root, *ports, arguments->back()};
}

std::filesystem::path AutostartEntryFile()
{
    return platform::host::XdgBaseFolder("XDG_CONFIG_HOME", ".config") / "autostart" / "tavrel.desktop";
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
    return EntryValue(entryText, kDeviceRootKey).value_or(std::string());
}

std::string WriteAutostartEntry(const std::filesystem::path& launcher, const std::filesystem::path& deviceRoot,
                                const std::filesystem::path& portFolder)
{
    for (const auto& path : {launcher, deviceRoot, portFolder}) {
        if (HasControlCharacter(path)) {
            return "the path " + path.string() + " holds a control character, which an autostart entry cannot hold";
        }
    }
    return WriteFileDurably(AutostartEntryFile(), AutostartEntryText(launcher, deviceRoot, portFolder), 0644);
}

RemovedEntry RemoveAutostartEntry(const std::filesystem::path& deviceRoot)
{
    const std::filesystem::path file = AutostartEntryFile();
    const std::optional<std::string> text = platform::host::ReadSmallFile(file);
    if (!text && errno == ENOENT) {
        return {EntryRemoval::Absent, {}};
    }
    if (!text && !platform::host::FoundNoSmallFile(errno)) {
        return {EntryRemoval::Failed, FileProblem("cannot read", file, errno)};
    }
    const std::filesystem::path recorded = text ? EntryDeviceRoot(*text) : std::filesystem::path();
    if (recorded.empty()) {
        return {EntryRemoval::NotMadeByInstall, {}};
    }
    if (!SamePlace(recorded, deviceRoot)) {
        return {EntryRemoval::ForAnotherDevice, {}};
    }
    if (::unlink(file.c_str()) != 0) {
        return {EntryRemoval::Failed, FileProblem("cannot remove", file, errno)};
    }
    return {EntryRemoval::Removed, {}};
}

}  // namespace tavrel::setup
