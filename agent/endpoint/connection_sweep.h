// The endpoint's periodic check: connections that stall are closed, a paused listener resumes.
#pragma once

#include <cstdint>

#include "agent/endpoint/endpoint_host.h"

inline constexpr uint32_t kRequestTimeoutMs = 10000;  // from a request's first byte
inline constexpr uint32_t kWriteTimeoutMs = 10000;    // without the client taking any output
inline constexpr uint32_t kDrainTimeoutMs = 2000;     // after the last answer of a closing
inline constexpr int kConnectionSweepPeriodMs = 1000;

void SweepConnections(EndpointHost& frame);
