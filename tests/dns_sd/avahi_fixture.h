// A system bus and an Avahi daemon of a test's own. The bus listens in a
// fresh folder; the daemon runs in network and mount namespaces of its own
// with `lo` and one veth interface, so that tests running side by side, and
// any daemon of the host, never see each other's services. The test itself
// and avahi-browse reach them through DBUS_SYSTEM_BUS_ADDRESS.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "testkit/temp_folder.h"

namespace tavrel::dns_sd::testing {

// One resolved line of `avahi-browse -p`: the address of the interface it was
// seen on (avahi-browse names interfaces by the host's indexes, which do not
// match the daemon's namespace), and the TXT strings as it prints them, quoted.
struct Browsed {
    std::string address;
    std::string name;
    int port = 0;
    std::string txt;
};

class AvahiFixture {
public:
    // Points this process's DBUS_SYSTEM_BUS_ADDRESS at the bus to be; starts nothing.
    AvahiFixture();
    ~AvahiFixture();
    AvahiFixture(const AvahiFixture&) = delete;
    AvahiFixture& operator=(const AvahiFixture&) = delete;

    // The first program the fixture runs that is not installed; empty when all are.
    static std::string MissingProgram();

    bool StartBus();
    bool StartDaemon();
    void StopDaemon();
    // Every service of `type` the daemon knows of, resolved; empty without a daemon.
    std::vector<Browsed> Browse(const std::string& type) const;

private:
    tavrel::testing::TempFolder folder_;
    pid_t bus_ = -1;
    pid_t daemon_ = -1;
};

}  // namespace tavrel::dns_sd::testing
