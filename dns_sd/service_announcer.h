// Announces one service by DNS-SD through the host's Avahi daemon, so that
// programs on this machine and the local network find the stream without
// being told its port (GeoClue, for one, browses for _nmea-0183._tcp). The
// announcement lives on Avahi's own poll thread: it waits for a daemon that
// is not there yet, registers again after the daemon restarts, and takes
// another name when the one asked for is in use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrel::dns_sd {

struct Service {
    std::string name;                 // "Tavrel on boat1": the instance name people see
    std::string type = "_nmea-0183._tcp";
    std::uint16_t port = 0;
    std::vector<std::string> txt;     // "key=value" strings, e.g. "version=1.20", "input=COM1"
    bool loopbackOnly = false;        // announce on the loopback interface only (a server listening on 127.0.0.1)
};

enum class AnnouncerState { NoDaemon, Registering, Announced, Failed };

struct AnnouncerHealth {
    AnnouncerState state = AnnouncerState::NoDaemon;
    std::string name;                 // the name announced, after any conflict ("Tavrel on boat1 #2")
    std::string failure;              // why, when NoDaemon or Failed
};

class ServiceAnnouncer {
public:
    // Starts announcing `service` in the background; nothing, with `failure`,
    // only when the host gives no thread or Avahi's poll cannot be made. An
    // absent daemon (or system bus) is no failure: Health() says NoDaemon, one
    // debug line says so, and the service is announced as soon as one appears.
    static std::unique_ptr<ServiceAnnouncer> Start(const Service& service, std::string& failure);
    // Withdraws the announcement and stops Avahi's thread before returning.
    ~ServiceAnnouncer();
    ServiceAnnouncer(const ServiceAnnouncer&) = delete;
    ServiceAnnouncer& operator=(const ServiceAnnouncer&) = delete;

    // Safe from any thread.
    AnnouncerHealth Health() const;

    // What Avahi's thread works with, opaque here so that no Avahi header
    // reaches the includer; only Start makes one.
    struct Session;
    explicit ServiceAnnouncer(std::unique_ptr<Session> session);

private:
    std::unique_ptr<Session> session_;
};

}  // namespace tavrel::dns_sd
