#pragma once

// The system's socket declarations, for the code shared with other systems.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
