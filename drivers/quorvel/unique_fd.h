#pragma once

#include "platform/host/unique_fd.h"

namespace quorvel {
using platform::host::UniqueFd;
}  // namespace quorvel
