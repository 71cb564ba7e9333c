// A port made as Tavrel makes one (a pty pair whose slave the link "COM2"
// in a fresh port folder leads to; the test holds the master and plays
// Tavrel's end), and programs run as processes with that folder as their
// TAVREL_PORT_DIR, under tavrel-compat or without it.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {

enum class Preload { Compat, None };

class CompatPortTest : public ::testing::Test {
protected:
    CompatPortTest();

    std::filesystem::path PortLink() const { return folder_.path() / "ports" / "COM2"; }

    // Starts `program`; with Preload::Compat through tavrel-compat. Its
    // output goes to files in the test's folder.
    std::unique_ptr<ChildProcess> Run(Preload preload, const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      std::map<std::string, std::string> environment = {});

    // Reads what the program writes to its end of the port until `text` came
    // (true) or 20 s passed (false).
    bool AwaitFromProgram(const std::string& text) const;

    TempFolder folder_;
    PtyPair far_;
    int runs_ = 0;
};

}  // namespace tavrel::testing
