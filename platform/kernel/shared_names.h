// Names that the kernel's named objects share with other processes. The
// kernel keeps every object, with its ownership and its waiters, within the
// process; whether a name is also known to other processes it asks of the
// NameSharing in use, which a layer that knows about them provides (boot
// connects the device's session). With none in use, or while its scope is
// empty, names are known within the process only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace platform::kernel {

// A hold on a name among the sharing processes; the name is let go when the
// last process's hold ends.
class SharedNameHold {
public:
    virtual ~SharedNameHold() = default;
};

struct SharedName {
    std::unique_ptr<SharedNameHold> hold;  // null when the name could not be taken
    bool heldElsewhere = false;            // another process held it already
    DWORD error = ERROR_SUCCESS;           // why the name could not be taken
};

class NameSharing {
public:
    virtual ~NameSharing() = default;
    // The processes that names are shared with now, as a key: names of two
    // scopes never meet. Empty while names stay within this process.
    virtual std::string Scope() const = 0;
    // Takes a hold on `name` among the names of `kind` ("mutex") in `scope`;
    // checking and taking are one step for all the processes of the scope.
    virtual SharedName Take(const std::string& scope, std::string_view kind, std::u16string_view name) = 0;
};

// The sharing that named objects made from now on use; null for none. It
// must live as long as the process.
void ShareNames(NameSharing* sharing);

}  // namespace platform::kernel
