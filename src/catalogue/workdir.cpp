#include "catalogue/workdir.h"

#include <cstdio>

#include "catalogue/scan.h"
#include "platform/platform.h"
#include "terrain/state.h"

void ReportEmptyFolder() {
  toconsole("WARNING: There are no files to process in the directory");
  // Only the texts go back to the hints: the coordinates already entered or
  // loaded, and their validity, stay as they are.
  platform().SetControlText(ctl::kLongitude, "Type here the Longitude");
  platform().SetControlText(ctl::kLatitude, "Type here the Latitude");
  platform().MessageBox("There are no files to process in the directory", "Warning!", BoxIcon::Warning,
                        BoxButtons::Ok, false);
}

void ChangeFileType(int sel) {
  if (sel < 0 || sel >= static_cast<int>(st.list_ext.size()) || sel == st.cu_ext) return;
  st.cu_ext = static_cast<uint8_t>(sel);
  st.admext = st.list_ext[st.cu_ext];
  std::printf("Sel: %d -> %s\n", sel, st.admext.c_str());
  if (!DirectoryExists(st.szDirPath)) return;
  if (!listdirect(st.szDirPath, st.admext)) ReportEmptyFolder();
}

void UseWorkDirectory(const std::string& path) {
  st.szDirPath = path;
  const size_t slash = path.find_last_of('/');
  st.szDirName = slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
  platform().SetControlText(ctl::kWorkDirLabel, st.szDirPath);
  toconsole("Work directoy selected: " + st.szDirPath);
  if (!listdirect(st.szDirPath, st.admext)) ReportEmptyFolder();
}
