// Publishes every NMEA sentence of the relayed stream to an MQTT broker, one
// message a sentence, so that the stream reaches programs past this machine
// through the broker. The relay hands it each chunk as read, in pieces that
// do not follow the lines; the publisher cuts them into sentences on a thread
// of its own ("mqtt-publisher") and never makes the relay wait.
//
// Between the relay and the broker the sentences wait in a queue bounded in
// bytes: a slow or absent broker costs the oldest sentences, counted, never
// memory without end. At most a hundred sentences are in libmosquitto's hands
// at a time (not yet written, with QoS 1 not yet acknowledged); the rest wait
// in the queue. A broker that is down or refuses the connection is tried
// again after a wait that doubles from 1 s to 30 s: never given up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>

namespace tavrel::mqtt {

struct PublisherOptions {
    std::string host;                  // broker: an address or a name
    std::uint16_t port = 1883;
    // Placeholders: <host> (this machine's name, or hostName below), <talker> ("GP"; "P" for proprietary
    // sentences "$PGRMC" whose type is then "GRMC"), <type> ("RMC"). Default "nmea/<host>/<talker><type>".
    std::string topicTemplate = "nmea/<host>/<talker><type>";
    int qos = 0;                       // 0 or 1
    bool retainLastRmc = false;        // RMC sentences published with retain (others never retained)
    std::string caFile;                // empty: plain TCP; else TLS, the broker's certificate checked against it
    std::string credentialsFile;       // empty: no user; else a file of two lines: user, password
    std::string clientId;              // empty: "tavrel-<host>-<pid>"
    std::chrono::seconds keepAlive{30};
    int protocolVersion = 5;           // 5 (MQTT 5) or 4 (MQTT 3.1.1)
    std::size_t queueBound = 256 * 1024;   // bytes of sentences waiting at most
    std::string hostName;              // for <host>; empty: gethostname()
};

struct PublisherHealth {
    bool connected = false;
    std::uint64_t published = 0;       // sentences handed to the broker (QoS 1: acknowledged)
    std::uint64_t dropped = 0;         // sentences dropped from the full queue, oldest first
    std::size_t queuedBytes = 0;
    std::string failure;               // why the last connection failed or was refused, "" while connected
};

class Publisher {
public:
    // Checks the options (credentials file readable and not readable by group/others, CA file readable, qos 0/1,
    // template not empty) and starts connecting in the background; nothing, with `failure` saying why in one
    // plain line ("MQTT: credentials file /x is readable by others: chmod 600 /x"), when the options are wrong.
    static std::unique_ptr<Publisher> Start(const PublisherOptions& options, std::string& failure);
    // Disconnects and stops its thread promptly (well under a second), never hangs: a thread caught in a
    // name lookup that does not answer is left to end by itself.
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Called by the relay thread with each chunk; never waits on the network, never allocates much (a copy
    // into a pending buffer under a short lock); the sentence splitting happens on the publisher's thread.
    void Publish(std::span<const unsigned char> chunk);
    PublisherHealth Health() const;    // safe from any thread

private:
    struct State;
    explicit Publisher(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;   // shared with the thread, which may outlive the publisher
    std::thread thread_;
};

}  // namespace tavrel::mqtt
