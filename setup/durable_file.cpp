#include "setup/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/host/file_calls.h"

namespace tavrel::setup {
namespace {

// A new file beside `file` that no other writer has: ".NAME.XXXXXX", hidden,
// and with a name that no reader of the folder takes for an entry.
platform::host::UniqueFd CreateTemporaryBeside(const std::filesystem::path& file, std::string& temporary)
{
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about "." + string at -O3.
    std::string name = ".";
    name.append(file.filename().string()).append(".XXXXXX");
    temporary = (file.parent_path() / name).string();
    return platform::host::UniqueFd(::mkostemp(temporary.data(), O_CLOEXEC));
}

}  // namespace

std::string WriteFileDurably(const std::filesystem::path& file, std::string_view text, mode_t mode)
{
    std::error_code madeFolder;
    std::filesystem::create_directories(file.parent_path(), madeFolder);
    if (madeFolder) {
        return FileProblem("cannot make the folder", file.parent_path(), madeFolder.value());
    }
    std::string temporary;
    const platform::host::UniqueFd output = CreateTemporaryBeside(file, temporary);
    if (!output.valid()) {
        return FileProblem("cannot write", file, errno);
    }
    if (::fchmod(output.get(), mode) != 0 || !platform::host::WriteAll(output.get(), text) ||
        !platform::host::SyncFile(output.get()) || ::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return FileProblem("cannot write", file, error);
    }
    if (!platform::host::SyncFolder(file.parent_path())) {
        return FileProblem("cannot sync the folder of", file, errno);
    }
    return {};
}

std::string FileProblem(std::string_view what, const std::filesystem::path& file, int error)
{
    return std::string(what) + " " + file.string() + ": " + std::generic_category().message(error);
}

}  // namespace tavrel::setup
