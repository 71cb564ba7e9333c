#include "compat_port_fixture.h"

namespace tavrel::testing {

CompatPortTest::CompatPortTest()
{
    std::filesystem::create_directories(PortLink().parent_path());
    std::filesystem::create_symlink(far_.slavePath(), PortLink());
}

std::unique_ptr<ChildProcess> CompatPortTest::Run(Preload preload, const std::string& program,
                                                  const std::vector<std::string>& arguments,
                                                  std::map<std::string, std::string> environment)
{
    std::vector<std::string> command = arguments;
    std::string start = program;
    if (preload == Preload::Compat) {
        command.insert(command.begin(), program);
        start = TAVREL_COMPAT_PATH;
    }
    environment.emplace("TAVREL_DEVICE_ROOT", (folder_.path() / "device").string());
    environment.emplace("TAVREL_PORT_DIR", PortLink().parent_path().string());
    const std::filesystem::path output = folder_.path() / ("run" + std::to_string(++runs_) + ".out");
    return std::make_unique<ChildProcess>(start, command, environment, output);
}

bool CompatPortTest::AwaitFromProgram(const std::string& text) const
{
    std::string received;
    while (received.find(text) == std::string::npos) {
        const std::vector<unsigned char> more = ReadFor(far_.master(), 1, std::chrono::seconds(20));
        if (more.empty()) {
            return false;
        }
        received.append(more.begin(), more.end());
    }
    return true;
}

}  // namespace tavrel::testing
