// What the overview reads from a session folder, without Qt: the sector
// ids, the step counts and each sector's cell of colours.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace preview {

// Sector ids with outputs in the session folder or a sector raster in its
// work directory (the parent): a sector of the project without outputs is
// a missing one.
std::set<std::string> ListSectorIds(const std::string& session_dir);

// Hour steps of the year (month -1) or of one month at latitude `lat`.
int32_t StepsOf(double lat, int month);

// The size of the first sector whose annual package decodes; absent when
// none does.
std::optional<std::pair<uint32_t, uint32_t>> SectorSize(const std::string& session_dir,
                                                         const std::set<std::string>& ids);

// A sector scaled to a cell of cw x ch pixels: 0xRRGGBB per pixel, row 0
// north. Absent (the reasons said through `problem`) when the sector is
// missing or fails verification.
std::optional<std::vector<uint32_t>> SectorCell(const std::string& session_dir, const std::string& id, int month,
                                                int32_t steps, int cw, int ch, bool hillshade,
                                                const std::function<void(const std::string&)>& problem);

}  // namespace preview
