// The run's network outputs: the TCP server and the UDP sender, started with
// the settings stored when the run starts, and handed every chunk the relay
// reads. A server that cannot start costs a debug line and a message box
// naming the port; the relay goes on without it.
#pragma once

#include <span>

#include "relay/relay_health.h"

// Starts the network outputs that the stored settings ask for. Called by the
// worker when its run is up.
void StartNetworkOutputs();
// Hands one chunk to every network output; never waits on the network.
void DeliverToNetwork(std::span<const unsigned char> chunk);
// Ends them (the server's clients are disconnected). Called by the worker
// before its ports close.
void StopNetworkOutputs();
// Called by the Status dialog after it stored new settings: a run that is up
// restarts its network outputs with them; nothing otherwise.
void RestartNetworkOutputs();
// Their health, for TakeRelayHealth.
NetworkHealth TakeNetworkHealth();
