// What kind of file a path names, before anything opens it.
#pragma once

#include <string>

// True for a regular file (after symlinks): not a directory, FIFO or device,
// whose open could block or whose contents are not a raster.
bool IsRegularFile(const std::string& path);
