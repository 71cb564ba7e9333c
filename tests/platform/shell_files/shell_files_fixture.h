// A booted device whose file system the tests fill and read from the host side.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/shell.h"
#include "support/test_device.h"

namespace tavrel::testing {

class ShellFilesTest : public ::testing::Test {
protected:
    // Starts from an empty file system, without the folders a device is born with.
    void SetUp() override;

    // "Windows/StartUp" is <device root>/fs/Windows/StartUp.
    std::filesystem::path Host(const std::string& relative) const { return device_.root() / "fs" / relative; }
    // Writes a file of the device's file system, making its folders.
    void Put(const std::string& relative, const std::string& content) const;
    std::string Content(const std::string& relative) const;
    // The names in a host folder, sorted: what is really there, temporary files included.
    std::vector<std::string> HostNames(const std::string& relative) const;

    TestDevice device_;
};

// Every name that a search reports, in order, after FindFirstFileW and
// FindNextFileW; empty with the first call's error in `error` when it fails.
std::vector<std::u16string> SearchNames(const std::u16string& pattern, DWORD* error = nullptr);

}  // namespace tavrel::testing
