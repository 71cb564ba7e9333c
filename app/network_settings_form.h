// The network outputs' settings as the Status dialog shows them: the TCP
// server's check box and port, "Allow other computers" with its allow list,
// and the UDP target. The boxes that do not apply are greyed.
#pragma once

#include <string>

#include "platform/types.h"
#include "state/network_settings.h"

// Offers kNmeaTcpPort in the port box's list; once, as the dialog starts.
void OfferNmeaTcpPort(HWND dialog);
// Fills the boxes from `settings`.
void ShowNetworkSettings(HWND dialog, const NetworkSettings& settings);
// The TCP server box was clicked: once ticked, an empty or zero port
// becomes kNmeaTcpPort.
void OnTcpServerClicked(HWND dialog);
// Greys the server's boxes while it is off.
void EnableNetworkBoxes(HWND dialog);
// What the boxes say; false with `failure` saying why when the port is not
// a number from 1 to 65535 while the server is ticked.
bool ReadNetworkSettings(HWND dialog, NetworkSettings& settings, std::string& failure);
