#include "run/session.h"

#include <cctype>

std::string MakeSessionId(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buf[128];
  if (std::strftime(buf, sizeof buf, "%y%m%d", &local) == 0) return std::string();
  return buf;
}

bool ValidSessionId(const std::string& id) {
  if (id.empty() || id.size() > 128) return false;
  for (char c : id)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}
