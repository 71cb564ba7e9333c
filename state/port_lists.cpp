#include "state/port_lists.h"

PortList DetectedPorts;
PortList FreeOutputs;
PortList SplitOutputs;
