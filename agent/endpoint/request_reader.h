// Reading requests: what a read event brings is kept with its connection until the request is
// complete; a complete request is logged and its request line handed on (a preflight is answered
// here). Nothing waits for a slow client.
#pragma once

#include "agent/endpoint/endpoint_host.h"

void ReadRequest(EndpointHost& frame, int socket);
