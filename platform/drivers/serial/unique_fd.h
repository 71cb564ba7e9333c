#pragma once

#include "platform/host/unique_fd.h"

namespace platform::serial {
using host::UniqueFd;
}  // namespace platform::serial
