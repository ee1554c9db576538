// Loading a sector with its neighbours and result buffers, and releasing them.
#pragma once

#include <string>

// Releases the previous set, then loads the centre at `path`, its result
// buffers and counters and every listed neighbour on disk.
void Inicia_BuildEntorno(const std::string& path);
// Releases the result surfaces and the loaded rasters (not the counters).
void CleanSurfaces();
// Releases presum and pmeswhs.
void ReleaseCounters();
