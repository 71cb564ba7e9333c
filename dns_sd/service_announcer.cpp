#include "dns_sd/service_announcer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/kernel.h"
#include "platform/strings.h"

namespace tavrel::dns_sd {
namespace {

struct PollFree {
    void operator()(AvahiThreadedPoll* poll) const { avahi_threaded_poll_free(poll); }
};
struct ClientFree {
    void operator()(AvahiClient* client) const { avahi_client_free(client); }
};
struct GroupFree {
    void operator()(AvahiEntryGroup* group) const { avahi_entry_group_free(group); }
};
struct StringListFree {
    void operator()(AvahiStringList* list) const { avahi_string_list_free(list); }
};
struct TextFree {
    void operator()(char* text) const { avahi_free(text); }
};
struct TimeoutFree {
    const AvahiPoll* api = nullptr;
    void operator()(AvahiTimeout* timeout) const { api->timeout_free(timeout); }
};

// How long a missing system bus is left before the next attempt to reach it.
constexpr unsigned kBusRetryMilliseconds = 2000;

// The TXT strings as Avahi takes them, in the order given (adding puts each in front).
std::unique_ptr<AvahiStringList, StringListFree> TxtList(const std::vector<std::string>& txt)
{
    AvahiStringList* list = nullptr;
    for (auto entry = txt.rbegin(); entry != txt.rend(); ++entry) {
        list = avahi_string_list_add(list, entry->c_str());
    }
    return std::unique_ptr<AvahiStringList, StringListFree>(list);
}

void DebugLine(const std::string& line)
{
    OutputDebugStringW(platform::ToUtf16("DNS-SD: " + line + "\n").c_str());
}

}  // namespace

// Everything below the header's health copy is touched only by Avahi's thread,
// and by the owner's thread before that thread starts and after it ends.
struct ServiceAnnouncer::Session {
    explicit Session(const Service& announced)
        : service(announced), name(announced.name), txt(TxtList(announced.txt)),
          interface(announced.loopbackOnly ? static_cast<AvahiIfIndex>(::if_nametoindex("lo")) : AVAHI_IF_UNSPEC)
    {
    }
    // Avahi's thread ends first, so that nothing it runs sees the group or
    // the client go; freeing them then withdraws the service.
    ~Session()
    {
        if (poll) {
            avahi_threaded_poll_stop(poll.get());
        }
        group.reset();
        client.reset();
        retry.reset();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Connect();
    void OnClientState(AvahiClient* stateOf, AvahiClientState state);
    void OnGroupState(AvahiEntryGroup* stateOf, AvahiEntryGroupState state);
    void Register(AvahiClient* running);
    void AddService(AvahiEntryGroup* into);
    void TakeAlternativeName();
    void Report(AnnouncerState state, const std::string& failure = {});
    void Fail(const std::string& what, int error) { Report(AnnouncerState::Failed, what + ": " + avahi_strerror(error)); }

    const Service service;
    std::string name;   // the name asked for now: the service's, or an alternative after a conflict
    const std::unique_ptr<AvahiStringList, StringListFree> txt;
    const AvahiIfIndex interface;   // 0 when announcing on loopback only and the host has no `lo`
    std::unique_ptr<AvahiThreadedPoll, PollFree> poll;
    std::unique_ptr<AvahiTimeout, TimeoutFree> retry;
    std::unique_ptr<AvahiClient, ClientFree> client;
    std::unique_ptr<AvahiEntryGroup, GroupFree> group;

    mutable std::mutex healthMutex;
    AnnouncerHealth health{AnnouncerState::Registering, {}, {}};
};

namespace {

void ClientCallback(AvahiClient* client, AvahiClientState state, void* session)
{
    static_cast<ServiceAnnouncer::Session*>(session)->OnClientState(client, state);
}

void GroupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* session)
{
    static_cast<ServiceAnnouncer::Session*>(session)->OnGroupState(group, state);
}

void RetryCallback(AvahiTimeout*, void* session)
{
    static_cast<ServiceAnnouncer::Session*>(session)->Connect();
}

}  // namespace

// With NO_FAIL the client waits for a daemon that is not on the bus yet; only
// a bus that cannot be reached at all leaves no client, and is tried again later.
void ServiceAnnouncer::Session::Connect()
{
    int error = 0;
    client.reset(avahi_client_new(avahi_threaded_poll_get(poll.get()), AVAHI_CLIENT_NO_FAIL, ClientCallback, this,
                                  &error));
    if (!client) {
        Report(AnnouncerState::NoDaemon, std::string("no system bus to reach Avahi on: ") + avahi_strerror(error));
        timeval when{};
        avahi_threaded_poll_get(poll.get())->timeout_update(retry.get(),
                                                            avahi_elapse_time(&when, kBusRetryMilliseconds, 0));
    }
}

// Called with `stateOf`, which may be a client that `client` does not hold
// yet: avahi_client_new reports its first state before it returns.
void ServiceAnnouncer::Session::OnClientState(AvahiClient* stateOf, AvahiClientState state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        Register(stateOf);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The daemon's host name changes: the service is added again once it runs.
        if (group) {
            avahi_entry_group_reset(group.get());
        }
        Report(AnnouncerState::Registering);
        break;
    case AVAHI_CLIENT_CONNECTING:
        // The daemon left the bus, or has not come yet: what it held of ours is gone with it.
        group.reset();
        Report(AnnouncerState::NoDaemon, "no Avahi daemon on the system bus");
        break;
    case AVAHI_CLIENT_FAILURE: {
        const int error = avahi_client_errno(stateOf);
        group.reset();
        if (error == AVAHI_ERR_DISCONNECTED) {
            // The bus itself went away: a new client waits for it and the daemon again.
            client.reset();
            Connect();
        } else {
            Fail("Avahi's client failed", error);
        }
        break;
    }
    }
}

void ServiceAnnouncer::Session::OnGroupState(AvahiEntryGroup* stateOf, AvahiEntryGroupState state)
{
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        Report(AnnouncerState::Announced);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another host on the network announces this name: take the next one.
        TakeAlternativeName();
        avahi_entry_group_reset(stateOf);
        AddService(stateOf);
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        Fail("the announcement failed", avahi_client_errno(avahi_entry_group_get_client(stateOf)));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void ServiceAnnouncer::Session::Register(AvahiClient* running)
{
    if (!group) {
        group.reset(avahi_entry_group_new(running, GroupCallback, this));
        if (!group) {
            Fail("cannot make an Avahi entry group", avahi_client_errno(running));
            return;
        }
    }
    if (avahi_entry_group_is_empty(group.get())) {
        AddService(group.get());
    }
}

void ServiceAnnouncer::Session::AddService(AvahiEntryGroup* into)
{
    if (interface == 0) {
        Report(AnnouncerState::Failed, "no loopback interface (lo) to announce on");
        return;
    }
    int result = AVAHI_ERR_COLLISION;
    while (result == AVAHI_ERR_COLLISION) {
        result = avahi_entry_group_add_service_strlst(into, interface, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, name.c_str(),
                                          service.type.c_str(), nullptr, nullptr, service.port, txt.get());
        if (result == AVAHI_ERR_COLLISION) {
            // This daemon holds the name already, for another program or announcer.
            TakeAlternativeName();
        }
    }
    if (result >= 0) {
        result = avahi_entry_group_commit(into);
    }
    if (result < 0) {
        Fail("cannot announce " + service.type + " \"" + name + "\"", result);
    } else {
        Report(AnnouncerState::Registering);
    }
}

void ServiceAnnouncer::Session::TakeAlternativeName()
{
    const std::unique_ptr<char, TextFree> alternative(avahi_alternative_service_name(name.c_str()));
    name = alternative.get();
}

// Keeps the copy that Health() reads, and says each change of state that a
// person looking into the program wants to know of in one debug line.
void ServiceAnnouncer::Session::Report(AnnouncerState state, const std::string& failure)
{
    AnnouncerState before;
    {
        const std::lock_guard lock(healthMutex);
        before = health.state;
        health = AnnouncerHealth{state, name, failure};
    }
    if (state == before) {
        return;
    }
    if (state == AnnouncerState::NoDaemon) {
        DebugLine("\"" + name + "\" waits for an Avahi daemon to announce it (" + failure + ")");
    } else if (state == AnnouncerState::Failed) {
        DebugLine("\"" + name + "\" is not announced: " + failure);
    } else if (state == AnnouncerState::Announced) {
        DebugLine("announced " + service.type + " \"" + name + "\" on port " + std::to_string(service.port));
    }
}

ServiceAnnouncer::ServiceAnnouncer(std::unique_ptr<Session> session) : session_(std::move(session)) {}

ServiceAnnouncer::~ServiceAnnouncer() = default;

std::unique_ptr<ServiceAnnouncer> ServiceAnnouncer::Start(const Service& service, std::string& failure)
{
    auto session = std::make_unique<Session>(service);
    session->poll.reset(avahi_threaded_poll_new());
    if (!session->poll) {
        failure = "cannot make Avahi's poll for DNS-SD";
        return nullptr;
    }
    const AvahiPoll* api = avahi_threaded_poll_get(session->poll.get());
    session->retry = {api->timeout_new(api, nullptr, RetryCallback, session.get()), TimeoutFree{api}};
    if (!session->retry) {
        failure = "cannot make Avahi's timer for DNS-SD";
        return nullptr;
    }
    session->Connect();
    if (avahi_threaded_poll_start(session->poll.get()) < 0) {
        failure = std::string("cannot start the DNS-SD thread: ") + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<ServiceAnnouncer>(std::move(session));
}

AnnouncerHealth ServiceAnnouncer::Health() const
{
    const std::lock_guard lock(session_->healthMutex);
    return session_->health;
}

}  // namespace tavrel::dns_sd
