// What the relay is doing, for the Status dialog, the tray icon's tooltip and
// tavrel-status. The worker counts as it relays (relaxed atomics: a count
// costs an add); everything else is gathered when someone asks, never by a
// timer, so an idle relay still makes no wake-ups.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "network/tcp_server.h"
#include "relay/relay_counters.h"
#include "state/port_lists.h"

struct InputHealth {
    bool relaying = false;              // a run is up (also while it waits for its input)
    std::int32_t port = 0;              // the input's COM number
    std::uint32_t baudRate = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t readFailures = 0;
    // Since the last byte arrived; nothing when none has in this run.
    std::optional<std::chrono::milliseconds> sinceLastByte;
    bool waitingForReceiver = false;    // Reconnect waits for the input to come back
    std::string notTakenBecause;        // why what has the input's name now is not taken; empty if nothing is refused
};

// One input of the run, the main one first, for the Status dialog, the
// tooltip and tavrel-status's "inputs".
struct InputStatus {
    std::string name;                   // the name given, else "COM1", "udp 10110", "tcp host:port"
    std::string kind;                   // "serial", "tcp" or "udp"
    std::string hostPath;               // a serial input named by a host path: the path, as given
    std::optional<std::int32_t> comPort;   // a serial input named by a COM number (the main input's always)
    InputState state = InputState::Waiting;
    std::chrono::milliseconds inStateFor{0};
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    std::uint64_t torn = 0;             // lines sent unfinished: no LF within 1 s or 4096 bytes
    std::optional<std::chrono::milliseconds> sinceLastByte;
    // A serial input's device as the host knows it (USB vendor:product,
    // serial number, by-id names), and what stands in the way of one that is
    // missing, lost or silent; filled in by the status when asked.
    std::string identity{};
    std::vector<std::string> inTheWay{};
};

// "relaying", "waiting", "lost", "standing by".
const char* InputStateText(InputState state);

// What an output does besides carrying the stream: whether it is shaped and
// what its shape dropped, and whether its program (or the TCP server's
// clients) talks to an input and how much got through.
struct OutputWork {
    bool shaped = false;
    std::uint64_t filtered = 0;
    std::uint64_t badChecksum = 0;
    std::uint64_t decimated = 0;
    TalkMode talk = TalkMode::Off;
    std::uint64_t talkedBytes = 0;
    std::uint64_t talkedLines = 0;
    std::uint64_t talkDropped = 0;   // bytes
};

// How a person reads it: "shaped: 3 filtered, 1 bad checksum, 0 decimated",
// "talks (lines): 120 bytes in 3 lines, 0 bytes dropped"; none for an output
// that does neither.
std::vector<std::string> OutputWorkLines(const OutputWork& work);

struct OutputHealth {
    PortNumber port = 0;
    std::uint64_t bytesRelayed = 0;     // handed to the port in this run
    std::uint64_t bytesDropped = 0;     // lost by a program that read too slowly
    bool programHasItOpen = false;
    std::string path;                   // the link programs open; empty while none
    bool gpsd = false;                  // handed to gpsd
    OutputWork work{};
};

// A server that the stream is sent to.
struct TcpTargetHealth {
    std::string target;                 // as written: "plotter.local:10110"
    bool connected = false;
    std::string address;                // while connected: the address reached
    std::string reason;                 // while not: why the last try ended
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesDropped = 0;     // lost while the server read too slowly
};

// The MQTT publisher; `broker` empty when there is none.
struct MqttHealth {
    std::string broker;                 // "broker.local:1883"
    std::string failure;                // why it is not started, or why the broker is not reached
    bool connected = false;
    std::uint64_t published = 0;        // sentences
    std::uint64_t dropped = 0;          // sentences dropped while the broker could not take them
};

// The TCP server's DNS-SD announcement; `state` empty when it is not announced.
struct AnnouncementHealth {
    std::string state;                  // "announced", "registering", "no Avahi daemon", "failed"
    std::string name;                   // the name announced: "Tavrel on boat1"
    std::string failure;
};

struct NetworkHealth {
    std::uint16_t tcpPort = 0;          // listened on; 0 when no server runs
    bool tcpAnyAddress = false;
    std::string tcpFailure;             // why the server asked for could not start
    tavrel::network::TcpServerHealth tcp;
    std::string udpTarget;              // empty when no UDP output
    std::string udpFailure;             // why the UDP output could not start
    std::uint64_t udpDatagramsSent = 0;
    std::uint64_t udpBytesSent = 0;
    std::uint64_t udpSendFailures = 0;
    OutputWork tcpWork{};               // the TCP server's shape and its clients' talk
    OutputWork udpWork{};
    std::vector<TcpTargetHealth> tcpTargets;
    std::string tcpTargetsFailure;      // why the servers to send to are not reached
    MqttHealth mqtt;
    AnnouncementHealth announcement;
};

struct RelayHealth {
    InputHealth input;
    std::vector<InputStatus> inputs;    // while a run is up: its inputs, the main one first
    std::vector<OutputHealth> outputs;  // in the order of the outputs list
    NetworkHealth network;
};

// The relay's health now. Safe from any thread; a run that is not up gives
// `input.relaying` false and no outputs.
RelayHealth TakeRelayHealth();

// A one-line summary for the tray icon's tooltip, e.g.
// "Tavrel: COM1 to 3 ports, 2 TCP clients" or "Tavrel: idle".
std::string RelaySummary(const RelayHealth& health);
