// The main window's commands that need no windowing library: the raster
// type choice and adopting a picked work directory.
#pragma once

#include <string>

// The raster type chosen in the file-type box (801): index into
// st.list_ext. Does nothing when it is already current; otherwise updates
// cu_ext/admext and rescans st.szDirPath if it is a directory.
void ChangeFileType(int sel);

// Makes `path` the work directory (a folder the user picked): shows it in
// control 301, logs it and scans it with the current extension.
void UseWorkDirectory(const std::string& path);

// What the user is told when a scan admits no file: a console warning,
// the hint texts back in the coordinate fields and a warning box.
void ReportEmptyFolder();
