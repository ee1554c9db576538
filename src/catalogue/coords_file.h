// The saved project coordinates: a 16-byte file in the work directory,
// longitude then latitude as little-endian binary64.
#pragma once

#include <string>

inline constexpr const char* kCoordinatesFile = "pr_data.vtd";

// Fails (false) when the file is missing, is not a regular file, is shorter
// than 16 bytes or holds a value that is not finite.
bool ReadCoordinatesFile(const std::string& path, double& lon, double& lat);

// Replaces the file whole through WriteFileAtomic: a failed write keeps
// the previous coordinates. False on any failure.
bool WriteCoordinatesFile(const std::string& path, double lon, double lat);
