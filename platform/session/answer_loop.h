// The thread of an answer socket: it accepts clients, reads each one's request
// line, sends the answer and closes it. It sleeps in poll() on the listening
// socket, a wake-up descriptor and its clients; only while a client is
// connected does the poll have a deadline (the client's bound).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/answer_socket.h"
#include "platform/host/unique_fd.h"

namespace platform::session {

class AnswerLoop {
public:
    using Clock = std::chrono::steady_clock;

    AnswerLoop(int listener, int wake, AnswerSocket::Answerer answerer)
        : listener_(listener), wake_(wake), answerer_(std::move(answerer))
    {
    }

    // Serves until the wake-up descriptor becomes readable.
    void Run();

    // Clients served at once; one more is accepted and closed at once.
    static constexpr std::size_t kMaxClients = 32;

private:
    struct Client {
        host::UniqueFd fd;
        Clock::time_point deadline;
        std::string received;
        std::string answer;
        std::size_t sent = 0;
        bool answering = false;
        bool finished = false;
    };
    enum class Progress { Waiting, Done };

    int PollTimeout(Clock::time_point now) const;
    void AcceptClients();
    Progress Serve(Client& client, short events);
    Progress Receive(Client& client);
    Progress SendAnswer(Client& client);

    // How long the listener is left alone after the process ran out of descriptors.
    static constexpr std::chrono::milliseconds kAcceptPause{100};

    const int listener_;
    const int wake_;
    AnswerSocket::Answerer answerer_;
    std::vector<Client> clients_;
    std::optional<Clock::time_point> acceptAgainAt_;
};

}  // namespace platform::session
