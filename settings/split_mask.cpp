#include "settings/split_mask.h"

namespace {

constexpr PortNumber kLastOutput = 9;

constexpr DWORD SplitBit(PortNumber port)
{
    return DWORD{1} << (port + 1);
}

}  // namespace

DWORD EncodeSplit(const PortList& outputs)
{
    DWORD mask = 0;
    for (PortNumber port : outputs) {
        if (port <= kLastOutput) {
            mask |= SplitBit(port);
        }
    }
    return mask;
}

PortList DecodeSplit(DWORD mask)
{
    PortList outputs;
    for (PortNumber port = 0; port <= kLastOutput; ++port) {
        if ((mask & SplitBit(port)) != 0) {
            outputs.push_back(port);
        }
    }
    return outputs;
}
