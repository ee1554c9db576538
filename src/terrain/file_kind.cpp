#include "terrain/file_kind.h"

#include <sys/stat.h>

bool IsRegularFile(const std::string& path) {
  struct stat sb;
  return stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}
