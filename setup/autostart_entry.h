// The login session's autostart entry for Tavrel: the XDG desktop entry
// $XDG_CONFIG_HOME/autostart/tavrel.desktop (by default under ~/.config)
// that runs the start-up launcher for one device when a person logs in.
// The entry names the device root and the port folder (when one was chosen;
// otherwise the program chooses it at each start) in the launcher's
// environment and records the device root on a line of its own, so that
// taking the entry away touches only the one made for that device.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel::setup {

std::filesystem::path AutostartEntryFile();

// The entry's text; paths must be absolute, and an empty port folder is left out.
std::string AutostartEntryText(const std::filesystem::path& launcher, const std::filesystem::path& deviceRoot,
                               const std::filesystem::path& portFolder);
// The device root that an entry's text records; empty when it records none.
std::filesystem::path EntryDeviceRoot(std::string_view entryText);

// What an entry written by WriteAutostartEntry runs: its device root, port
// folder (empty when it names none) and launcher. Nothing for an entry that
// this installer did not write.
struct EntryCommand {
    std::filesystem::path deviceRoot;
    std::filesystem::path portFolder;
    std::filesystem::path launcher;
};
std::optional<EntryCommand> ReadEntryCommand(std::string_view entryText);

// Whether two paths name the same place (links and ".." followed where they exist).
bool SamePlace(const std::filesystem::path& left, const std::filesystem::path& right);

// Writes the entry whole (a session never sees half of it). Returns what went
// wrong, or an empty text.
std::string WriteAutostartEntry(const std::filesystem::path& launcher, const std::filesystem::path& deviceRoot,
                                const std::filesystem::path& portFolder);

enum class EntryRemoval { Removed, Absent, ForAnotherDevice, NotMadeByInstall, Failed };
struct RemovedEntry {
    EntryRemoval outcome;
    std::string problem;   // Failed: what could not be done and why
};
// Removes the entry only when it was made for `deviceRoot`.
RemovedEntry RemoveAutostartEntry(const std::filesystem::path& deviceRoot);

}  // namespace tavrel::setup
