// FindFirstFileW's search: a kernel object that hands out, one by one, the
// entries of a folder that matched the pattern when the search began. Taking
// them all at the start means an entry is never reported twice or skipped
// while the folder changes under the caller.
#pragma once

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

#include "kernel/kernel_object.h"
#include "platform/shell.h"

namespace platform::shell {

class FileSearch final : public kernel::KernelObject {
public:
    explicit FileSearch(std::vector<WIN32_FIND_DATAW> found);

    // Copies the next entry; false when all have been handed out.
    bool Next(WIN32_FIND_DATAW& data);

private:
    std::mutex lock_;
    std::vector<WIN32_FIND_DATAW> found_;
    std::size_t next_ = 0;
};

// The files and folders of a host folder whose device names match the
// pattern, in name order. Other kinds of entry (devices, pipes, sockets,
// broken links) are not files of the device and are left out, and so are names
// that no device path can spell.
std::vector<WIN32_FIND_DATAW> FindMatches(const std::filesystem::path& folder, std::u16string_view pattern);

}  // namespace platform::shell
