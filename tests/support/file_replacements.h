// Counts how often a file is replaced whole (a new file renamed over it, as
// the registry writes its hives), from the moment the count starts. The host
// notes each rename as it happens, so a count taken once a call has returned
// holds every replacement that the call made.
#pragma once

#include <filesystem>
#include <string>

#include "platform/host/unique_fd.h"

namespace tavrel::testing {

class FileReplacements {
public:
    // Starts counting; the file's folder must exist.
    explicit FileReplacements(const std::filesystem::path& file);

    // The replacements since the count started; -1 when they cannot be
    // counted (the folder cannot be watched, or notices were lost).
    int Count();

private:
    std::string name_;
    platform::host::UniqueFd watch_;
    int count_ = 0;
};

}  // namespace tavrel::testing
