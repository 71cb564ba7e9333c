// A system bus and an Avahi daemon of a test's own, the daemon in network and
// mount namespaces of its own with `lo` and a veth interface (10.91.0.1), so
// that tests side by side and the host's daemon never meet. The test and
// avahi-browse reach them through DBUS_SYSTEM_BUS_ADDRESS.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "testkit/temp_folder.h"

namespace tavrel::dns_sd::testing {

// A resolved line of `avahi-browse -p`: the address it was seen on, the TXT strings quoted.
struct Browsed {
    std::string address, name;
    int port = 0;
    std::string txt;
};

class AvahiFixture {
public:
    AvahiFixture();   // points DBUS_SYSTEM_BUS_ADDRESS at the bus to be; starts nothing
    ~AvahiFixture();
    static std::string Unusable();   // why the fixture cannot run here; empty when it can
    bool StartBus();
    void StopBus();
    bool StartDaemon();
    void StopDaemon();
    std::vector<Browsed> Browse() const;   // the _nmea-0183._tcp services; none without a daemon

private:
    tavrel::testing::TempFolder folder_;
    pid_t bus_ = 0, daemon_ = 0;
};

}  // namespace tavrel::dns_sd::testing
