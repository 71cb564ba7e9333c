#include "relay/relay_control.h"

RelayControlRecord RelayControl;
