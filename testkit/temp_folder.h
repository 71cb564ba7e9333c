// A fresh folder for one test or benchmark run, removed with everything in
// it at the end, and whole files read and written in one call.
#pragma once

#include <filesystem>
#include <string>

namespace tavrel::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The whole content of a file (empty when it cannot be read), and writing one.
std::string ReadWholeFile(const std::filesystem::path& file);
void WriteWholeFile(const std::filesystem::path& file, const std::string& text);

}  // namespace tavrel::testing
