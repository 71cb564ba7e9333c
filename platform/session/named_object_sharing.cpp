#include "session/named_object_sharing.h"

#include <cerrno>
#include <filesystem>
#include <utility>

#include "kernel/never_destroyed.h"
#include "session/device_names.h"
#include "session/device_root.h"

namespace platform::session {
namespace {

class HeldName final : public kernel::SharedNameHold {
public:
    explicit HeldName(DeviceNameHold hold) : hold_(std::move(hold)) {}

private:
    DeviceNameHold hold_;
};

// Why a name could not be taken: its run/ folder or file could not be used.
DWORD ErrorOfErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT: return ERROR_CANTWRITE;
    default: return ERROR_GEN_FAILURE;
    }
}

class DeviceNames final : public kernel::NameSharing {
public:
    std::string Scope() const override { return DeviceRoot().string(); }

    kernel::SharedName Take(const std::string& scope, std::string_view kind, std::u16string_view name) override
    {
        TakenName taken = TakeDeviceName(std::filesystem::path(scope), kind, name);
        kernel::SharedName shared;
        if (!taken.hold) {
            shared.error = ErrorOfErrno(taken.error);
            return shared;
        }
        shared.hold = std::make_unique<HeldName>(std::move(*taken.hold));
        shared.heldElsewhere = taken.heldElsewhere;
        return shared;
    }
};

}  // namespace

kernel::NameSharing& DeviceNameSharing()
{
    static NeverDestroyed<DeviceNames> sharing;
    return sharing.get();
}

}  // namespace platform::session
