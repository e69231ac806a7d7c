// The calling convention that module exports are declared with. This platform has one C calling
// convention, so the marker only documents which functions cross a module boundary.
#pragma once

#define WINAPI
