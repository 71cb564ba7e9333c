#include "mqtt/mqtt_publisher.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <vector>

#include "mqtt/credentials_file.h"
#include "mqtt/sentence_lines.h"
#include "mqtt/sentence_queue.h"
#include "mqtt/sentence_topic.h"
#include "platform/host/interrupted_calls.h"
#include "platform/host/wake_signal.h"

namespace tavrel::mqtt {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Sentences handed to libmosquitto and not yet written (QoS 1: acknowledged).
constexpr int kMostInFlight = 100;
// What the relay may leave for the thread between two of its wakes; only a
// thread held up (in a name lookup) lets it fill, and then it starts afresh.
constexpr std::size_t kPendingBound = 256 * 1024;
constexpr milliseconds kFirstWait = std::chrono::seconds(1);
constexpr milliseconds kLongestWait = std::chrono::seconds(30);
// A connection that the broker has not accepted by then is tried again.
constexpr milliseconds kConnectWait = std::chrono::seconds(10);
// How often the thread looks at keep-alive while nothing else wakes it.
constexpr milliseconds kMiscInterval = std::chrono::seconds(1);
// After a wake the thread takes the relay's lines itself, every kGather while
// they keep coming, so that the relay wakes it once for each burst of
// sentences rather than for each sentence: a wake costs the relay several
// times what handing a sentence over does. A burst's first sentence goes at
// once, the others wait at most this long.
constexpr milliseconds kGather{50};
// How long the destructor waits for the thread before leaving it to end alone.
constexpr milliseconds kStopWait = std::chrono::milliseconds(500);

struct ClientDeleter {
    void operator()(mosquitto* client) const { mosquitto_destroy(client); }
};
using Client = std::unique_ptr<mosquitto, ClientDeleter>;

// libmosquitto is set up once for the whole process and never cleaned up:
// other parts of the program may be using it.
void InitialiseLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ThisHostName()
{
    std::array<char, HOST_NAME_MAX + 1> name{};
    if (::gethostname(name.data(), name.size()) != 0) {
        return "localhost";
    }
    name.back() = '\0';
    return name.data();
}

std::string BrokerText(const PublisherOptions& options)
{
    const bool ipv6 = options.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(options.port);
}

std::string Lowered(std::string text)
{
    if (!text.empty()) {
        text.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(text.front())));
    }
    while (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

// Why a broker refused, from its CONNACK code (MQTT 3.1.1 or MQTT 5).
std::string RefusalText(int protocolVersion, int code)
{
    if (protocolVersion == MQTT_PROTOCOL_V5) {
        switch (code) {
        case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
            return "bad user name or password";
        case MQTT_RC_NOT_AUTHORIZED:
            return "not authorised";
        default:
            return Lowered(mosquitto_reason_string(code));
        }
    }
    switch (code) {
    case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
        return "bad user name or password";
    case CONNACK_REFUSED_NOT_AUTHORIZED:
        return "not authorised";
    default:
        return Lowered(mosquitto_connack_string(code));
    }
}

// A libmosquitto result in words; `error` is errno as it was after the call.
std::string ResultText(int result, int error)
{
    if (result == MOSQ_ERR_ERRNO) {
        return Lowered(std::strerror(error));
    }
    return Lowered(mosquitto_strerror(result));
}

// The client, set up as the options say; nothing with `failure` set when
// libmosquitto refuses one of them.
Client MakeClient(const PublisherOptions& options, const std::optional<Credentials>& credentials,
                  const std::string& clientId, void* owner, std::string& failure)
{
    InitialiseLibraryOnce();
    Client client(mosquitto_new(clientId.c_str(), true, owner));
    if (!client) {
        failure = "MQTT: no client: " + ResultText(MOSQ_ERR_ERRNO, errno);
        return nullptr;
    }
    const int version = options.protocolVersion == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311;
    int result = mosquitto_int_option(client.get(), MOSQ_OPT_PROTOCOL_VERSION, version);
    if (result == MOSQ_ERR_SUCCESS && credentials) {
        result = mosquitto_username_pw_set(client.get(), credentials->user.c_str(), credentials->password.c_str());
    }
    if (result == MOSQ_ERR_SUCCESS && !options.caFile.empty()) {
        result = mosquitto_tls_set(client.get(), options.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (result != MOSQ_ERR_SUCCESS) {
        failure = "MQTT: the client cannot be set up: " + ResultText(result, errno);
        return nullptr;
    }
    return client;
}

// The options that are wrong, in one line; empty when they are all right.
std::string CheckOptions(const PublisherOptions& options)
{
    if (options.host.empty()) {
        return "MQTT: no broker given";
    }
    if (options.qos != 0 && options.qos != 1) {
        return "MQTT: QoS " + std::to_string(options.qos) + " is not 0 or 1";
    }
    if (options.protocolVersion != 5 && options.protocolVersion != 4) {
        return "MQTT: protocol version " + std::to_string(options.protocolVersion) +
               " is not 5 (MQTT 5) or 4 (MQTT 3.1.1)";
    }
    if (options.topicTemplate.empty()) {
        return "MQTT: the topic template is empty";
    }
    if (options.topicTemplate.find_first_of("+#") != std::string::npos) {
        return "MQTT: the topic template " + options.topicTemplate + " holds a wildcard (+ or #)";
    }
    std::string failure;
    if (!options.caFile.empty() && !CheckReadable("CA file", options.caFile, failure)) {
        return failure;
    }
    return {};
}

}  // namespace

struct Publisher::State {
    PublisherOptions options;
    std::string hostName;   // what <host> stands for
    std::string broker;     // "host:port", for the failures
    Client client;

    // What the relay left for the thread, and the thread's wake.
    std::mutex pendingLock;
    std::vector<unsigned char> pending;
    bool pendingLost = false;          // bytes were dropped before those pending
    bool woken = false;                // a wake was sent, or the thread gathers: the relay need not wake it
    std::uint64_t pendingLostLines = 0;
    platform::host::WakeSignal wake;
    std::atomic<bool> stopping{false};
    std::promise<void> finished;       // set by the thread as it ends
    std::future<void> ended = finished.get_future();

    mutable std::mutex healthLock;
    PublisherHealth health;

    // The thread's own.
    SentenceLines lines;
    SentenceQueue queue;
    std::vector<unsigned char> taken;
    int inFlight = 0;
    bool connected = false;
    std::optional<int> refusal;   // the broker's CONNACK code when it refused
    std::uint64_t lostInFlight = 0;
    bool gathering = false;            // lines came at the last take: the next is at gatherUntil
    Clock::time_point gatherUntil{};

    explicit State(const PublisherOptions& chosen) : options(chosen), queue(chosen.queueBound) {}

    void Run();
    int Serve();
    int Step(Clock::time_point connectBy);
    void Lost(int result, int error);
    void SleepCollecting(milliseconds wait);
    void TakeWhatIsDue();
    milliseconds UntilDue(milliseconds longest) const;
    bool Collect();
    void Queue(std::string_view line);
    void HandOver();
    void UpdateHealth(const std::function<void(PublisherHealth&)>& change = {});

    static void OnConnect(mosquitto* client, void* owner, int code);
    static void OnPublish(mosquitto* client, void* owner, int mid);
};

void Publisher::State::Run()
{
    milliseconds wait = kFirstWait;
    while (!stopping) {
        connected = false;
        refusal.reset();
        int result = mosquitto_connect_async(client.get(), options.host.c_str(), options.port,
                                             static_cast<int>(options.keepAlive.count()));
        int error = errno;
        if (result == MOSQ_ERR_SUCCESS) {
            result = Serve();
            error = errno;
        }
        if (stopping) {
            break;
        }
        if (connected) {
            wait = kFirstWait;
        }
        Lost(result, error);
        SleepCollecting(wait);
        wait = std::min(wait * 2, kLongestWait);
    }
    if (connected) {
        mosquitto_disconnect(client.get());
    }
}

// Publishes on one connection while it lasts: the result that ended it, or
// success when the publisher stops.
int Publisher::State::Serve()
{
    const Clock::time_point connectBy = Clock::now() + kConnectWait;
    while (!stopping) {
        const int result = Step(connectBy);
        if (result != MOSQ_ERR_SUCCESS) {
            return result;
        }
    }
    return MOSQ_ERR_SUCCESS;
}

// Takes what the relay left, hands what may go to libmosquitto, and sleeps
// until the socket or the relay has something.
int Publisher::State::Step(Clock::time_point connectBy)
{
    TakeWhatIsDue();
    HandOver();
    const int socket = mosquitto_socket(client.get());
    if (socket < 0) {
        return MOSQ_ERR_NO_CONN;
    }
    if (!connected && Clock::now() >= connectBy) {
        errno = ETIMEDOUT;
        return MOSQ_ERR_ERRNO;
    }
    const short writing = mosquitto_want_write(client.get()) ? POLLOUT : 0;
    std::array<pollfd, 2> watched{{{wake.fd(), POLLIN, 0}, {socket, static_cast<short>(POLLIN | writing), 0}}};
    ::poll(watched.data(), watched.size(), static_cast<int>(UntilDue(kMiscInterval).count()));
    const short ready = watched[1].revents;
    int result = MOSQ_ERR_SUCCESS;
    if ((ready & (POLLIN | POLLERR | POLLHUP)) != 0) {
        result = mosquitto_loop_read(client.get(), 1);
    }
    if (result == MOSQ_ERR_SUCCESS && (ready & POLLOUT) != 0) {
        result = mosquitto_loop_write(client.get(), 1);
    }
    if (result == MOSQ_ERR_SUCCESS) {
        result = mosquitto_loop_misc(client.get());
    }
    if (result == MOSQ_ERR_SUCCESS && refusal) {
        result = MOSQ_ERR_CONN_REFUSED;
    }
    return result;
}

// The connection failed, was refused or ended: says why. Sentences of QoS 0
// that libmosquitto had not written yet are gone with it; those of QoS 1 it
// sends again on the next connection.
void Publisher::State::Lost(int result, int error)
{
    std::string failure = "MQTT broker " + broker;
    if (refusal) {
        failure += " refused the connection: " + RefusalText(options.protocolVersion, *refusal);
    } else if (connected) {
        failure += ": the connection ended: " + ResultText(result, error);
    } else {
        failure += " cannot be reached: " + ResultText(result, error);
    }
    if (options.qos == 0) {
        lostInFlight += static_cast<std::uint64_t>(inFlight);
        inFlight = 0;
    }
    connected = false;
    UpdateHealth([&](PublisherHealth& shown) {
        shown.connected = false;
        shown.failure = failure;
    });
}

// Waits `wait` before the next try, queueing what the relay hands meanwhile.
void Publisher::State::SleepCollecting(milliseconds wait)
{
    const Clock::time_point end = Clock::now() + wait;
    for (Clock::time_point now = Clock::now(); !stopping && now < end; now = Clock::now()) {
        pollfd watched{wake.fd(), POLLIN, 0};
        const auto left = std::chrono::ceil<milliseconds>(end - now);
        ::poll(&watched, 1, static_cast<int>(UntilDue(left).count()));
        TakeWhatIsDue();
    }
}

// Takes what the relay left when it is due: at once after a wake or when the
// thread does not gather, else at gatherUntil.
void Publisher::State::TakeWhatIsDue()
{
    wake.Drain();
    const Clock::time_point now = Clock::now();
    if (gathering && now < gatherUntil) {
        return;
    }
    gathering = Collect();
    gatherUntil = now + kGather;
}

// How long the thread may sleep: `longest`, or less when a take is due sooner.
milliseconds Publisher::State::UntilDue(milliseconds longest) const
{
    if (!gathering) {
        return longest;
    }
    const auto due = std::chrono::ceil<milliseconds>(gatherUntil - Clock::now());
    return std::clamp(due, milliseconds(0), longest);
}

// Takes what the relay left; whether there was anything. Finding nothing, it
// asks the relay to wake the thread for the next line.
bool Publisher::State::Collect()
{
    bool lost = false;
    {
        const std::lock_guard guard(pendingLock);
        taken.swap(pending);
        woken = !taken.empty();
        lost = std::exchange(pendingLost, false);
    }
    if (lost) {
        lines.SkipToNextLine();
    }
    lines.Feed(taken, [this](std::string_view line) { Queue(line); });
    const bool took = !taken.empty();
    taken.clear();
    UpdateHealth();
    return took;
}

void Publisher::State::Queue(std::string_view line)
{
    const std::optional<SentenceAddress> address = AddressOf(line);
    if (!address) {
        return;
    }
    const bool retain = options.retainLastRmc && address->type == "RMC";
    queue.Push(Sentence{ExpandTopic(options.topicTemplate, hostName, *address), std::string(line), retain});
}

void Publisher::State::HandOver()
{
    if (!connected) {
        return;
    }
    while (inFlight < kMostInFlight && !queue.empty()) {
        const Sentence& next = queue.front();
        // Counted first: libmosquitto may report a QoS 0 sentence written before it returns.
        ++inFlight;
        const int result = mosquitto_publish(client.get(), nullptr, next.topic.c_str(),
                                             static_cast<int>(next.payload.size()), next.payload.data(),
                                             options.qos, next.retain);
        if (result != MOSQ_ERR_SUCCESS) {
            --inFlight;
            return;
        }
        queue.pop();
    }
    UpdateHealth();
}

// Brings the health up to date with the thread's counters, and `change`.
void Publisher::State::UpdateHealth(const std::function<void(PublisherHealth&)>& change)
{
    std::uint64_t lostLines = 0;
    {
        const std::lock_guard guard(pendingLock);
        lostLines = pendingLostLines;
    }
    const std::lock_guard guard(healthLock);
    health.dropped = queue.dropped() + lostLines + lostInFlight;
    health.queuedBytes = queue.queuedBytes();
    if (change) {
        change(health);
    }
}

void Publisher::State::OnConnect(mosquitto*, void* owner, int code)
{
    State& state = *static_cast<State*>(owner);
    if (code != 0) {
        state.refusal = code;
        return;
    }
    state.connected = true;
    state.UpdateHealth([](PublisherHealth& shown) {
        shown.connected = true;
        shown.failure.clear();
    });
}

void Publisher::State::OnPublish(mosquitto*, void* owner, int)
{
    State& state = *static_cast<State*>(owner);
    state.inFlight = std::max(state.inFlight - 1, 0);
    const std::lock_guard guard(state.healthLock);
    ++state.health.published;
}

std::unique_ptr<Publisher> Publisher::Start(const PublisherOptions& options, std::string& failure)
{
    failure = CheckOptions(options);
    if (!failure.empty()) {
        return nullptr;
    }
    std::optional<Credentials> credentials;
    if (!options.credentialsFile.empty()) {
        credentials = ReadCredentialsFile(options.credentialsFile, failure);
        if (!credentials) {
            return nullptr;
        }
    }
    auto state = std::make_shared<State>(options);
    state->hostName = options.hostName.empty() ? ThisHostName() : options.hostName;
    state->broker = BrokerText(options);
    const std::string clientId =
        options.clientId.empty() ? "tavrel-" + state->hostName + "-" + std::to_string(::getpid()) : options.clientId;
    state->client = MakeClient(options, credentials, clientId, state.get(), failure);
    if (!state->client) {
        return nullptr;
    }
    if (!state->wake.valid()) {
        failure = "MQTT: no wake signal: " + ResultText(MOSQ_ERR_ERRNO, errno);
        return nullptr;
    }
    mosquitto_connect_callback_set(state->client.get(), &State::OnConnect);
    mosquitto_publish_callback_set(state->client.get(), &State::OnPublish);
    return std::unique_ptr<Publisher>(new Publisher(std::move(state)));
}

Publisher::Publisher(std::shared_ptr<State> state) : state_(std::move(state))
{
    thread_ = std::thread([state = state_] {
        ::pthread_setname_np(::pthread_self(), "mqtt-publisher");
        state->Run();
        state->finished.set_value();
    });
}

Publisher::~Publisher()
{
    state_->stopping = true;
    state_->wake.Wake();
    if (state_->ended.wait_for(kStopWait) == std::future_status::ready) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void Publisher::Publish(std::span<const unsigned char> chunk)
{
    // The thread is woken once a line is complete, not for each piece of one
    // (a serial input's reads are often parts of a sentence), and not while
    // it gathers (kGather).
    const bool endsALine = std::find(chunk.begin(), chunk.end(), '\n') != chunk.end();
    bool wake = false;
    {
        const std::lock_guard guard(state_->pendingLock);
        if (state_->pending.size() + chunk.size() > kPendingBound) {
            // The thread is held up: what waits for it goes, counted as the lines it held.
            state_->pendingLostLines +=
                static_cast<std::uint64_t>(std::count(state_->pending.begin(), state_->pending.end(), '\n'));
            state_->pending.clear();
            state_->pendingLost = true;
        }
        state_->pending.insert(state_->pending.end(), chunk.begin(), chunk.end());
        if (endsALine && !state_->woken) {
            state_->woken = true;
            wake = true;
        }
    }
    if (wake) {
        state_->wake.Wake();
    }
}

PublisherHealth Publisher::Health() const
{
    const std::lock_guard guard(state_->healthLock);
    return state_->health;
}

}  // namespace tavrel::mqtt
