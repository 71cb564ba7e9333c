#include "support/fake_device_host.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"
#include "platform/kernel.h"
#include "platform/registry.h"

namespace tavrel::testing {
namespace {

FakeDeviceHost* current = nullptr;

}  // namespace

FakeDeviceHost::FakeDeviceHost(DWORD deviceIndex, const std::filesystem::path& nodeFolder,
                               std::u16string registryPath)
    : registryPath_(std::move(registryPath)), nodeFolder_(nodeFolder.string())
{
    host_.cbSize = sizeof(DEVICE_HOST);
    host_.deviceIndex = deviceIndex;
    host_.registryPath = registryPath_.c_str();
    host_.nodeFolder = nodeFolder_.c_str();
    host_.SetLastError = ::SetLastError;
    host_.DebugOutput = ::OutputDebugStringW;
    host_.QueryValue = &FakeDeviceHost::QueryValue;
    current = this;
}

FakeDeviceHost::~FakeDeviceHost()
{
    current = nullptr;
}

void FakeDeviceHost::SetPortGroup(const std::string& group)
{
    portGroup_ = group;
    host_.portGroup = portGroup_.c_str();
}

void FakeDeviceHost::SetString(const std::u16string& name, const std::u16string& text)
{
    std::vector<BYTE> data((text.size() + 1) * sizeof(char16_t));
    std::memcpy(data.data(), text.c_str(), data.size());
    SetValue(name, REG_SZ, std::move(data));
}

void FakeDeviceHost::SetValue(const std::u16string& name, DWORD type, std::vector<BYTE> data)
{
    values_[name] = Value{type, std::move(data)};
}

LONG FakeDeviceHost::QueryValue(const WCHAR* registryPath, const WCHAR* name, DWORD* type, BYTE* data, DWORD* size)
{
    if (current == nullptr || registryPath == nullptr || current->registryPath_ != registryPath || name == nullptr) {
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    }
    const auto found = current->values_.find(name);
    if (found == current->values_.end()) {
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    }
    const Value& value = found->second;
    const auto needed = static_cast<DWORD>(value.data.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data == nullptr || size == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return static_cast<LONG>(ERROR_SUCCESS);
    }
    if (*size < needed) {
        *size = needed;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    std::copy(value.data.begin(), value.data.end(), data);
    *size = needed;
    return static_cast<LONG>(ERROR_SUCCESS);
}

}  // namespace tavrel::testing
