#include "platform/registry_number.h"

namespace platform {

std::optional<DWORD> QueryRegistryNumber(HKEY key, LPCWSTR name)
{
    BYTE bytes[sizeof(DWORD)] = {};
    DWORD size = sizeof(bytes);
    // A longer value fails with ERROR_MORE_DATA and leaves the bytes alone.
    if (RegQueryValueExW(key, name, nullptr, nullptr, bytes, &size) != static_cast<LONG>(ERROR_SUCCESS) || size == 0) {
        return std::nullopt;
    }
    DWORD number = 0;
    for (DWORD i = 0; i < size; ++i) {
        number |= static_cast<DWORD>(bytes[i]) << (8 * i);
    }
    return number;
}

}  // namespace platform
