// The run's network outputs: the TCP server and its DNS-SD announcement, the
// UDP sender, the servers the stream is sent to and the MQTT publisher, started with
// the settings the program last handed over, and handed every chunk the relay
// reads. A server that cannot start costs a debug line and a message box
// naming the port; the relay goes on without it.
#pragma once

#include <span>

#include "relay/relay_health.h"
#include "state/network_settings.h"

// The settings that the network outputs start with. The program hands them
// over once it has read them, and again whenever they change (the Status
// dialog's Apply, a change that tavrel-config tells of): a run that is up
// restarts its outputs with them, a later run starts with them.
void UseNetworkSettings(const NetworkSettings& settings);
// Starts the network outputs that the settings ask for. Called by the worker
// when its run is up.
void StartNetworkOutputs();
// Hands one chunk to the outputs that the flags choose: `toTcp` the TCP
// server and the servers the stream is sent to, `toUdp` the UDP target,
// `toMqtt` the MQTT publisher. Never waits on the network.
void DeliverToNetwork(std::span<const unsigned char> chunk, bool toTcp = true, bool toUdp = true, bool toMqtt = true);
// Ends them (the server's clients are disconnected). Called by the worker
// before its ports close.
void StopNetworkOutputs();
// Their health, for TakeRelayHealth.
NetworkHealth TakeNetworkHealth();
