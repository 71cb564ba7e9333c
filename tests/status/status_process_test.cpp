// tavrel-status asking a real Tavrel process that relays a pseudo-terminal to
// two virtual ports, and asking when no Tavrel runs.
#include <unistd.h>

#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::string kNobodyRuns = "tavrel-status: no Tavrel runs on this device\n";

class StatusProcessTest : public AutostartDeviceTest {
protected:
    struct Answer {
        std::optional<int> exitCode;
        std::string output;
        std::string errors;
    };

    Answer Status(const std::vector<std::string>& arguments)
    {
        ChildProcess status = Run(TAVREL_STATUS_PATH, "status", arguments);
        Answer answer;
        answer.exitCode = status.WaitExit(30s);
        answer.output = status.Output();
        answer.errors = status.Errors();
        return answer;
    }
};

TEST_F(StatusProcessTest, ReportsWhatTheRunningTavrelRelayedAndFailsOnceItHasEnded)
{
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
    // One output is read by a program, the other by nobody.
    const int reader = OpenRaw(PortLink(kSavedOutputs[0]).string());
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WaitForCondition([&] {
        return Status({"--json"}).output.find(R"("relaying":true)") != std::string::npos;
    })) << program.Errors();

    const std::vector<unsigned char> stream(3000, 'x');
    gps().Write(stream);
    ASSERT_EQ(ReadFor(reader, stream.size()).size(), stream.size());

    const Answer json = Status({"--json"});
    EXPECT_EQ(json.exitCode, 0) << json.errors;
    EXPECT_NE(json.output.find(R"("bytesRead":3000,)"), std::string::npos) << json.output;
    // Both outputs, in the order of the outputs list, each with what it was
    // handed and the link that programs open.
    const std::size_t second = json.output.find(R"({"port":2,"bytesRelayed":3000,)");
    const std::size_t fifth = json.output.find(R"({"port":5,"bytesRelayed":3000,)");
    EXPECT_NE(json.output.find(R"("outputs":[{"port":2,)"), std::string::npos) << json.output;
    ASSERT_NE(second, std::string::npos) << json.output;
    ASSERT_NE(fifth, std::string::npos) << json.output;
    EXPECT_LT(second, fifth);
    EXPECT_NE(json.output.find(R"("path":")" + PortLink(2).string() + "\",\"work\"", second), std::string::npos);
    EXPECT_NE(json.output.find(R"("path":")" + PortLink(5).string() + "\",\"work\"", fifth), std::string::npos);
    // COM2 is read by the test; nobody opened COM5.
    EXPECT_NE(json.output.find(R"("programHasItOpen":true,)", second), std::string::npos) << json.output;
    EXPECT_LT(json.output.find(R"("programHasItOpen":true,)", second), fifth) << json.output;
    EXPECT_NE(json.output.find(R"("programHasItOpen":false,)", fifth), std::string::npos) << json.output;

    const Answer table = Status({});
    EXPECT_EQ(table.exitCode, 0) << table.errors;
    EXPECT_NE(table.output.find("Input   COM1 at "), std::string::npos) << table.output;
    EXPECT_NE(table.output.find("3000 bytes read"), std::string::npos) << table.output;
    EXPECT_NE(table.output.find(PortLink(5).string()), std::string::npos) << table.output;

    program.Signal(SIGTERM);
    ::close(reader);
    EXPECT_EQ(program.WaitExit(60s).has_value(), true) << program.Errors();
    EXPECT_FALSE(Exists(root() / "run" / "status.sock")) << "the socket goes with the program";
    const Answer after = Status({"--json"});
    EXPECT_EQ(after.exitCode, 1);
    EXPECT_EQ(after.output, "");
    EXPECT_EQ(after.errors, kNobodyRuns);
}

TEST_F(StatusProcessTest, ASocketLeftByAKilledTavrelIsTakenOverAtTheNextStart)
{
    {
        ChildProcess killed = Run(TAVREL_PROGRAM_PATH, "killed");
        ASSERT_TRUE(WaitForCondition([&] { return Status({"--json"}).exitCode == 0; })) << killed.Errors();
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.WaitExit(30s), std::nullopt) << "ended by the signal";
        ASSERT_NE(::kill(killed.pid(), 0), 0) << "gone and reaped";
    }
    EXPECT_TRUE(Exists(root() / "run" / "status.sock")) << "SIGKILL leaves the socket file";
    const Answer stale = Status({});
    EXPECT_EQ(stale.exitCode, 1);
    EXPECT_EQ(stale.errors, kNobodyRuns);

    ChildProcess next = Run(TAVREL_PROGRAM_PATH, "next");
    EXPECT_TRUE(WaitForCondition([&] { return Status({"--json"}).exitCode == 0; })) << next.Errors();
    next.Signal(SIGTERM);
    EXPECT_TRUE(next.WaitExit(60s).has_value());
}

TEST_F(StatusProcessTest, HelpAndAWrongArgumentPrintTheUsage)
{
    const Answer help = Status({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("usage: tavrel-status [--json | --check]"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("tavrel-config"), std::string::npos) << "says where settings are changed";

    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--set"}, {"--json", "--json"}, {"json"}}) {
        const Answer answer = Status(wrong);
        EXPECT_EQ(answer.exitCode, 2) << wrong[0];
        EXPECT_EQ(answer.output, "");
        EXPECT_NE(answer.errors.find("usage: tavrel-status [--json | --check]"), std::string::npos) << answer.errors;
    }
    const Answer nobody = Status({});
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_EQ(nobody.errors, kNobodyRuns);
}

}  // namespace
