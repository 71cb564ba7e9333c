#include "session/device_names.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::session {
namespace {

// Hex digits per folder level: a name of up to MAX_PATH units needs more than
// one file name's worth (255 bytes), so long names are split into folders.
constexpr std::size_t kHexPerLevel = 200;

std::filesystem::path NameFile(const std::filesystem::path& space, std::u16string_view name)
{
    const std::string hex = HexOfUnits(name);
    std::filesystem::path file = space;
    std::size_t start = 0;
    while (hex.size() - start > kHexPerLevel) {
        file /= hex.substr(start, kHexPerLevel);
        start += kHexPerLevel;
    }
    // The suffix keeps a name's file apart from the folder of a longer name
    // that begins with it; hex digits never contain a dot.
    return file / (hex.substr(start) + ".name");
}

// Every check-and-take and every clean-up of the kind's names happens with
// this lock held, so nobody opens a name's file while it is being removed.
UniqueFd LockNameSpace(const std::filesystem::path& space)
{
    UniqueFd guard = OpenLockFile(space / ".guard");
    if (guard.valid() && !Lock(guard, LockMode::Exclusive, LockWait::Block)) {
        return UniqueFd();
    }
    return guard;
}

void RemoveEmptyFolders(std::filesystem::path folder, const std::filesystem::path& space)
{
    while (folder != space && ::rmdir(folder.c_str()) == 0) {
        folder = folder.parent_path();
    }
}

}  // namespace

DeviceNameHold::DeviceNameHold(std::filesystem::path space, std::filesystem::path file, UniqueFd lock)
    : space_(std::move(space)), file_(std::move(file)), lock_(std::move(lock))
{
}

DeviceNameHold::~DeviceNameHold()
{
    if (!lock_.valid()) {
        return;  // moved from
    }
    const UniqueFd guard = LockNameSpace(space_);
    lock_ = UniqueFd();
    if (!guard.valid()) {
        return;  // the file stays; it is harmless and taken again later
    }
    // Nobody else holds the name when an exclusive lock can be had at once.
    const UniqueFd probe(::open(file_.c_str(), O_RDWR | O_CLOEXEC));
    if (probe.valid() && Lock(probe, LockMode::Exclusive, LockWait::DoNotBlock) &&
        StillNamedBy(probe.get(), file_)) {
        ::unlink(file_.c_str());
        RemoveEmptyFolders(file_.parent_path(), space_);
    }
}

TakenName TakeDeviceName(const std::filesystem::path& deviceRoot, std::string_view kind, std::u16string_view name)
{
    TakenName taken;
    const std::filesystem::path space = RunFolder(deviceRoot) / kind;
    const UniqueFd guard = LockNameSpace(space);
    if (!guard.valid()) {
        taken.error = errno;
        return taken;
    }
    const std::filesystem::path file = NameFile(space, name);
    UniqueFd lock = OpenLockFile(file);
    if (!lock.valid()) {
        taken.error = errno;
        return taken;
    }
    // Holders keep shared locks; an exclusive one is refused while any live
    // process holds the name. It then becomes shared, still under the guard.
    if (!Lock(lock, LockMode::Exclusive, LockWait::DoNotBlock)) {
        if (errno != EWOULDBLOCK) {
            taken.error = errno;
            return taken;
        }
        taken.heldElsewhere = true;
    }
    if (!Lock(lock, LockMode::Shared, LockWait::Block)) {
        taken.error = errno;
        return taken;
    }
    taken.hold.emplace(space, file, std::move(lock));
    return taken;
}

}  // namespace platform::session
