#include "registry/hive_sync.h"

#include "registry/hive_file.h"
#include "registry/reg_text.h"

namespace platform::registry {
namespace {

Refreshed MarkUnusable(Hive& hive, FileVersion version, std::string problem)
{
    hive.unusable = true;
    hive.seen = std::move(version);
    return {true, std::move(problem)};
}

}  // namespace

Refreshed RefreshHive(Hive& hive)
{
    if (hive.file.empty()) {
        return {};
    }
    const FileVersion::Look look = hive.seen.Compare(hive.file);
    if (look != FileVersion::Look::Changed) {
        return {look == FileVersion::Look::Same, {}};
    }
    FileRead read = ReadHiveFile(hive.file);
    const std::string where = hive.file.string();
    if (read.status == FileRead::Status::Failed) {
        return {false, where + ": " + read.error};
    }
    if (read.status == FileRead::Status::NotAFile) {
        return MarkUnusable(hive, std::move(read.version), where + ": " + read.error);
    }
    ParsedHive parsed{std::make_shared<Key>(std::u16string(), nullptr), 0, {}};
    if (read.status == FileRead::Status::Read) {
        parsed = ParseHive(read.text, hive.rootName);
    }
    if (parsed.root == nullptr) {
        return MarkUnusable(hive, std::move(read.version),
                            where + ":" + std::to_string(parsed.errorLine) + ": " + parsed.error);
    }
    hive.root->Adopt(*parsed.root);
    hive.unusable = false;
    hive.seen = std::move(read.version);
    return {};
}

}  // namespace platform::registry
