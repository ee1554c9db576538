// The main window's commands that need no windowing library: the raster
// type choice, adopting a picked work directory and the session id.
#pragma once

#include <ctime>
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

// The session id of a start-up at `when`: the local date as "%y%m%d".
std::string MakeSessionId(std::time_t when);
