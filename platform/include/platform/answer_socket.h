// A local socket through which other processes ask a program of the device
// something: a Unix stream socket "<name>.sock" in the device's run folder.
// Each client sends one request line, gets the text that the program's
// answerer gives for it, and is closed. One thread serves it; it sleeps until
// a client comes, so a program that nobody asks makes no wake-ups.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The socket's path for the device whose root is `deviceRoot`.
std::filesystem::path AnswerSocketPath(const std::filesystem::path& deviceRoot, std::string_view name);

class AnswerSocket {
public:
    // Gets the request line without its line end; runs on the socket's thread.
    using Answerer = std::function<std::string(std::string_view request)>;

    // How long a client may take to send its request (and to take its
    // answer) before it is dropped; others are served meanwhile.
    static constexpr std::chrono::milliseconds kClientBound = std::chrono::seconds(2);
    // The longest request line taken; a longer one is answered with nothing.
    static constexpr std::size_t kLongestRequest = 256;

    // Serves `name` in the run folder of the device that is up. A socket file
    // left there by a program that ended without removing it is replaced;
    // one that a live program answers on is left alone (error EADDRINUSE).
    // Null with `error` set (an errno value) when it cannot serve.
    static std::unique_ptr<AnswerSocket> Open(std::string_view name, Answerer answerer, int& error);

    // Stops the thread, closes the clients and removes the socket file (unless
    // it has been replaced by another's meanwhile).
    ~AnswerSocket();
    AnswerSocket(const AnswerSocket&) = delete;
    AnswerSocket& operator=(const AnswerSocket&) = delete;

    const std::filesystem::path& path() const;

    struct State;
    explicit AnswerSocket(std::unique_ptr<State> state);

private:
    std::unique_ptr<State> state_;
};

// Asks the socket at `path`: sends `request` as one line and returns the
// whole answer; nothing when nobody answers there (errno tells why) or when
// the answer does not come within `timeout`.
std::optional<std::string> AskAnswerSocket(const std::filesystem::path& path, std::string_view request,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace platform
