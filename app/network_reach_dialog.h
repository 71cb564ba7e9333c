// The outputs beyond this machine ("Tavrel Network", opened by the Status
// dialog's More...): the TCP server's DNS-SD announcement, the servers the
// stream is sent to, and the MQTT broker with its topic, QoS and TLS. The
// caption's OK stores what the boxes say and puts it to use at once; a
// value that is not one is refused with the reason and the dialog stays.
// The rarer MQTT settings (client id, version, keepalive) are tavrel-config's.
#pragma once

// Runs the dialog, modal; returns when it closes.
void ShowNetworkReachDialog();
