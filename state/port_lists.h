// The port numbers that the main window's lists show, each list kept position
// for position in step with its control.
#pragma once

#include <cstdint>
#include <vector>

// A COM port number; the virtual outputs use 0 to 9.
using PortNumber = std::uint8_t;
using PortList = std::vector<PortNumber>;

extern PortList DetectedPorts;   // the device's own serial ports, as the input port box lists them
extern PortList FreeOutputs;     // creatable virtual ports not chosen, as the free-output box lists them
extern PortList SplitOutputs;    // the chosen outputs, as the output list shows them
