// A DEVICE_HOST for driving a stream driver's entry points directly, without
// the device manager: the driver key's values live in a map, the last error is
// the platform's own, and debug lines go to the platform's debug output.
// One instance at a time (the host's calls are plain function pointers).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/streamdriver.h"

namespace tavrel::testing {

class FakeDeviceHost {
public:
    FakeDeviceHost(DWORD deviceIndex, const std::filesystem::path& nodeFolder,
                   std::u16string registryPath = u"Drivers\\Test");
    ~FakeDeviceHost();
    FakeDeviceHost(const FakeDeviceHost&) = delete;
    FakeDeviceHost& operator=(const FakeDeviceHost&) = delete;

    // The group that the driver gives its endpoints to; by default none.
    void SetPortGroup(const std::string& group);
    void SetString(const std::u16string& name, const std::u16string& text);
    void SetValue(const std::u16string& name, DWORD type, std::vector<BYTE> data);

    const DEVICE_HOST* host() const { return &host_; }
    const WCHAR* registryPath() const { return registryPath_.c_str(); }

private:
    static LONG QueryValue(const WCHAR* registryPath, const WCHAR* name, DWORD* type, BYTE* data, DWORD* size);

    struct Value {
        DWORD type;
        std::vector<BYTE> data;
    };
    std::u16string registryPath_;
    std::string nodeFolder_;
    std::string portGroup_;
    std::map<std::u16string, Value> values_;
    DEVICE_HOST host_{};
};

}  // namespace tavrel::testing
