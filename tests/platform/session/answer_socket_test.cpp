// An answer socket in the device's run folder, asked over a real socket.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/answer_socket.h"
#include "platform/host/unique_fd.h"
#include "support/test_device.h"
#include "testkit/proc_stats.h"

namespace {

using platform::AnswerSocket;
using platform::AskAnswerSocket;
using platform::host::UniqueFd;
using namespace std::chrono_literals;

bool Eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

sockaddr_un AddressOf(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.native().copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// The whole text of a /proc file through a descriptor kept open.
std::string TextAt(const UniqueFd& file)
{
    char text[4096];
    const ssize_t count = ::pread(file.get(), text, sizeof text, 0);
    return count > 0 ? std::string(text, static_cast<std::size_t>(count)) : std::string();
}

// A client connected to the socket that sends what it is told, when told.
UniqueFd Connect(const std::filesystem::path& path)
{
    UniqueFd client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = AddressOf(path);
    EXPECT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return client;
}

// Whether the server has closed the client's connection (it reads the end).
bool ClosedByServer(const UniqueFd& client)
{
    char byte = 0;
    return ::recv(client.get(), &byte, 1, MSG_DONTWAIT) == 0;
}

class AnswerSocketTest : public ::testing::Test {
protected:
    tavrel::testing::TestDevice device_;
    std::mutex mutex_;
    std::vector<std::string> requests_;

    std::filesystem::path Path() const { return platform::AnswerSocketPath(device_.root(), "answers"); }

    std::unique_ptr<AnswerSocket> Open(int& error)
    {
        return AnswerSocket::Open(
            "answers",
            [this](std::string_view request) {
                std::lock_guard lock(mutex_);
                requests_.emplace_back(request);
                return "answer to " + std::string(request) + "\n";
            },
            error);
    }
};

TEST_F(AnswerSocketTest, EachRequestLineGetsItsAnswerAndTheFileGoesAtTheEnd)
{
    int error = -1;
    auto socket = Open(error);
    ASSERT_NE(socket, nullptr) << std::strerror(error);
    EXPECT_EQ(socket->path(), device_.root() / "run" / "answers.sock");
    EXPECT_EQ(AskAnswerSocket(Path(), "json"), "answer to json\n");
    EXPECT_EQ(AskAnswerSocket(Path(), "table"), "answer to table\n");

    // A line that ends in CR LF, and a client that ends its sending without a line end.
    UniqueFd crlf = Connect(Path());
    ASSERT_EQ(::send(crlf.get(), "one\r\n", 5, MSG_NOSIGNAL), 5);
    UniqueFd unended = Connect(Path());
    ASSERT_EQ(::send(unended.get(), "two", 3, MSG_NOSIGNAL), 3);
    ASSERT_EQ(::shutdown(unended.get(), SHUT_WR), 0);
    EXPECT_TRUE(Eventually([&] { return ClosedByServer(unended); }));
    {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(requests_, (std::vector<std::string>{"json", "table", "one", "two"}));
    }

    socket.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Path())));
    EXPECT_EQ(AskAnswerSocket(Path(), "json"), std::nullopt) << "nobody answers any more";
}

TEST_F(AnswerSocketTest, ASilentClientDoesNotHoldUpTheNextAndIsDroppedAfterItsBound)
{
    int error = -1;
    const auto socket = Open(error);
    ASSERT_NE(socket, nullptr);
    const UniqueFd silent = Connect(Path());
    const UniqueFd halfALine = Connect(Path());
    ASSERT_EQ(::send(halfALine.get(), "js", 2, MSG_NOSIGNAL), 2);

    EXPECT_EQ(AskAnswerSocket(Path(), "json"), "answer to json\n");
    // Answered while the others were still connected: nobody waited for them.
    EXPECT_FALSE(ClosedByServer(silent)) << "answered only after the silent client's bound";
    EXPECT_TRUE(Eventually([&] { return ClosedByServer(silent) && ClosedByServer(halfALine); }));
    std::lock_guard lock(mutex_);
    EXPECT_EQ(requests_, std::vector<std::string>{"json"}) << "half a line is no request";
}

TEST_F(AnswerSocketTest, ARequestTooLongIsClosedUnanswered)
{
    int error = -1;
    const auto socket = Open(error);
    ASSERT_NE(socket, nullptr);
    // Closed while it may still be sending: no answer, or an empty one.
    EXPECT_EQ(AskAnswerSocket(Path(), std::string(AnswerSocket::kLongestRequest + 1, 'x')).value_or(""), "");
    EXPECT_EQ(AskAnswerSocket(Path(), std::string(AnswerSocket::kLongestRequest * 40, 'y')).value_or(""), "");
    EXPECT_EQ(AskAnswerSocket(Path(), "json"), "answer to json\n");
    std::lock_guard lock(mutex_);
    EXPECT_EQ(requests_, std::vector<std::string>{"json"});
}

TEST_F(AnswerSocketTest, AStaleSocketFileIsReplaced)
{
    // What a program killed while serving leaves: a socket file that nobody listens on.
    std::filesystem::create_directories(Path().parent_path());
    {
        const UniqueFd left(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_un address = AddressOf(Path());
        ASSERT_EQ(::bind(left.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    ASSERT_TRUE(std::filesystem::is_socket(Path()));
    EXPECT_EQ(AskAnswerSocket(Path(), "json"), std::nullopt);

    int error = -1;
    const auto socket = Open(error);
    ASSERT_NE(socket, nullptr) << std::strerror(error);
    EXPECT_EQ(AskAnswerSocket(Path(), "json"), "answer to json\n");
}

TEST_F(AnswerSocketTest, ALiveProgramsSocketIsNotStolenNorIsAnythingElse)
{
    int error = -1;
    const auto first = Open(error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Open(error), nullptr);
    EXPECT_EQ(error, EADDRINUSE);
    EXPECT_EQ(AskAnswerSocket(Path(), "json"), "answer to json\n") << "the first still answers";

    // A file that is no socket is in the way of another name: left alone.
    const std::filesystem::path other = platform::AnswerSocketPath(device_.root(), "other");
    std::ofstream(other) << "keep me";
    EXPECT_EQ(AnswerSocket::Open("other", [](std::string_view) { return std::string(); }, error), nullptr);
    EXPECT_EQ(error, EEXIST);
    EXPECT_TRUE(std::filesystem::is_regular_file(other));
}

TEST_F(AnswerSocketTest, AFileThatReplacedTheSocketIsNotRemovedAtTheEnd)
{
    int error = -1;
    auto socket = Open(error);
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(std::filesystem::remove(Path()));
    std::ofstream(Path()) << "another's";
    socket.reset();
    EXPECT_TRUE(std::filesystem::is_regular_file(Path()));
}

TEST_F(AnswerSocketTest, AThousandRequestsLeaveTheDescriptorsAsTheyWereAndAnIdleThreadSleepsUntimed)
{
    int error = -1;
    const auto socket = Open(error);
    ASSERT_NE(socket, nullptr);
    ASSERT_EQ(AskAnswerSocket(Path(), "warm"), "answer to warm\n");
    const std::size_t before = tavrel::testing::OpenDescriptorCount();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(AskAnswerSocket(Path(), "json"), "answer to json\n") << "request " << i;
    }
    EXPECT_TRUE(Eventually([&] { return tavrel::testing::OpenDescriptorCount() == before; }))
        << tavrel::testing::OpenDescriptorCount() << " descriptors open, " << before << " before";

    const auto thread = tavrel::testing::ThreadNamed(::getpid(), "answer-socket");
    ASSERT_TRUE(thread.has_value());
    EXPECT_TRUE(Eventually([&] {
        return tavrel::testing::PollSleepOf(::getpid(), thread->thread) == tavrel::testing::PollSleep::Untimed;
    })) << "with no client the thread sleeps without a time-out";
}

TEST_F(AnswerSocketTest, OutOfDescriptorsItWaitsInsteadOfSpinningAndServesOnceItHasSome)
{
    int error = -1;
    const auto socket = Open(error);
    ASSERT_NE(socket, nullptr);
    ASSERT_EQ(AskAnswerSocket(Path(), "warm"), "answer to warm\n");
    const auto thread = tavrel::testing::ThreadNamed(::getpid(), "answer-socket");
    ASSERT_TRUE(thread.has_value());

    // How the thread sleeps, read through descriptors opened beforehand: out
    // of descriptors, this process could not open /proc files either.
    const std::string task = "/proc/self/task/" + std::to_string(thread->thread);
    const UniqueFd stat(::open((task + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
    const UniqueFd syscall(::open((task + "/syscall").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(stat.valid() && syscall.valid());
    const auto sleep = [&] { return tavrel::testing::PollSleepFromTexts(TextAt(stat), TextAt(syscall)); };

    // Room for the client's descriptor only, so that the accept fails with
    // EMFILE: the lowest free descriptor is the last one allowed.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit before = limit;
    UniqueFd lowestFree(::dup(0));
    limit.rlim_cur = static_cast<rlim_t>(lowestFree.get()) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    lowestFree = UniqueFd();
    const UniqueFd client = Connect(Path());
    // A listener that stays readable would keep the thread running; it
    // sleeps, for a moment at a time, until it can accept again.
    EXPECT_TRUE(Eventually([&] { return sleep() == tavrel::testing::PollSleep::Timed; }))
        << "the thread spins on a listener it cannot accept from";
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);

    ASSERT_EQ(::send(client.get(), "json\n", 5, MSG_NOSIGNAL), 5);
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard lock(mutex_);
        return requests_.size() == 2;
    })) << "the waiting client is served";
    std::lock_guard lock(mutex_);
    EXPECT_EQ(requests_, (std::vector<std::string>{"warm", "json"}));
}

}  // namespace
