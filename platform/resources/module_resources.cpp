// The program's module and its resources: GetModuleHandleW, FindResourceW,
// LoadResource, LockResource, SizeofResource, and the registration calls.
#include <optional>

#include "platform/kernel.h"
#include "platform/resources.h"
#include "resources/resource_table.h"

using platform::resources::KeyOf;
using platform::resources::ProgramResources;

namespace {

// The program's one module. Any fixed non-null value serves; this is where a
// Windows CE program is loaded.
HMODULE ProgramModule()
{
    return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x00010000));
}

// Null stands for the module that started the process, as in Win32.
bool IsProgramModule(HMODULE module)
{
    return module == nullptr || module == ProgramModule();
}

// A resource handle is its entry's index plus one, so that it is never null
// and a handle that FindResourceW did not return is recognised, not followed.
HRSRC HandleOf(std::size_t index)
{
    return reinterpret_cast<HRSRC>(static_cast<ULONG_PTR>(index + 1));
}

std::optional<std::span<const BYTE>> BytesOf(HMODULE module, HRSRC resource)
{
    const auto value = reinterpret_cast<ULONG_PTR>(resource);
    if (!IsProgramModule(module) || value == 0) {
        return std::nullopt;
    }
    return ProgramResources().BytesAt(value - 1);
}

}  // namespace

namespace platform {

bool AddModuleResource(LPCWSTR type, LPCWSTR name, std::span<const BYTE> bytes)
{
    const auto typeKey = KeyOf(type);
    const auto nameKey = KeyOf(name);
    if (!typeKey || !nameKey) {
        return false;
    }
    ProgramResources().Add(*typeKey, *nameKey, bytes);
    return true;
}

bool AddModuleResource(LPCWSTR type, WORD id, std::span<const BYTE> bytes)
{
    return AddModuleResource(type, MAKEINTRESOURCEW(id), bytes);
}

}  // namespace platform

HMODULE GetModuleHandleW(LPCWSTR moduleName)
{
    // The program is the only module that a process of ours has loaded.
    if (moduleName != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return ProgramModule();
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    if (!IsProgramModule(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const auto typeKey = KeyOf(type);
    if (!typeKey || !ProgramResources().HasType(*typeKey)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    const auto nameKey = KeyOf(name);
    const auto index = nameKey ? ProgramResources().Find(*typeKey, *nameKey) : std::nullopt;
    if (!index) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return HandleOf(*index);
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource)
{
    const auto bytes = BytesOf(module, resource);
    if (!bytes) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A module's resources are always in memory: the handle is their address.
    return const_cast<BYTE*>(bytes->data());
}

LPVOID LockResource(HGLOBAL resource)
{
    return resource;
}

DWORD SizeofResource(HMODULE module, HRSRC resource)
{
    const auto bytes = BytesOf(module, resource);
    if (!bytes) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(bytes->size());
}
