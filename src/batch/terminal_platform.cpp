#include "terminal_platform.h"

#include <unistd.h>

#include <cstdlib>

#include "run/report.h"
#include "run/run.h"

namespace {

const std::string kSectorPrefix = "Processing sector ";

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

const char* IconWord(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return "error";
    case BoxIcon::Warning: return "warning";
    case BoxIcon::Info: return "info";
  }
  return "";
}

}  // namespace

TerminalPlatform::TerminalPlatform(bool quiet, bool assume_yes)
    : quiet_(quiet), assume_yes_(assume_yes), in_place_(isatty(fileno(stderr)) == 1) {
  start_ = last_draw_ = std::chrono::steady_clock::now();
}

void TerminalPlatform::Emit(const std::string& line) {
  if (drawn_) std::fputs("\r\033[K", out_);
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  if (drawn_) DrawProgress();
  std::fflush(out_);
}

void TerminalPlatform::Say(const std::string& line) { Emit(line); }

void TerminalPlatform::ConsoleLine(const std::string& text) {
  MemoryPlatform::ConsoleLine(text);
  // The run is on this thread: its sector list says whose line this is.
  run_lines_.push_back({static_cast<int>(LastRun().sectors.size()) - 1, text});
  // A sector a resumed run skips counts like one it processes.
  if (!LastRun().sectors.empty() && LastRun().sectors.back().status == SectorOutcome::Status::kSkipped &&
      text.rfind("Sector ", 0) == 0) {
    sector_id_ = LastRun().sectors.back().id;
    ++sector_;
  }
  Emit("console: " + text);
}

void TerminalPlatform::SetStatusText(const std::string& text) {
  MemoryPlatform::SetStatusText(text);
  if (text.rfind(kSectorPrefix, 0) == 0) {
    sector_id_ = text.substr(kSectorPrefix.size());
    ++sector_;
  }
}

std::string TerminalPlatform::ProgressText() const {
  const int p = progress();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string text = (p < 10 ? "  " : p < 100 ? " " : "") + std::to_string(p) + "%";
  if (!sector_id_.empty())
    text += "  sector " + sector_id_ + " (" + std::to_string(sector_) + "/" + std::to_string(sectors_) + ")";
  text += "  elapsed " + Clock(elapsed);
  text += "  left " + (p > 0 ? Clock(elapsed * (100 - p) / p) : std::string("--:--"));
  return text;
}

void TerminalPlatform::DrawProgress() {
  std::fputs("\r\033[K", out_);
  std::fputs(ProgressText().c_str(), out_);
  drawn_ = true;
  last_draw_ = std::chrono::steady_clock::now();
}

void TerminalPlatform::SetProgress(int position) {
  MemoryPlatform::SetProgress(position);
  if (quiet_ || sectors_ == 0) return;
  if (in_place_) {
    // Every hour step calls here: redraw on a new percent, else twice a
    // second so the clocks keep moving.
    const auto now = std::chrono::steady_clock::now();
    if (position != shown_ || now - last_draw_ > std::chrono::milliseconds(500)) {
      shown_ = position;
      DrawProgress();
      std::fflush(out_);
    }
  } else if (position != shown_) {
    shown_ = position;
    Emit(ProgressText());
  }
}

BoxResult TerminalPlatform::MessageBox(const std::string& text, const std::string& caption, BoxIcon icon,
                                       BoxButtons buttons, bool owned) {
  MemoryPlatform::MessageBox(text, caption, icon, buttons, owned);
  // "[Caption] first line", continuation lines indented beneath it.
  std::string lead = "[" + caption + "] (" + IconWord(icon) + ") ";
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    const size_t nl = text.find('\n', start);
    std::string part = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!first) {
      const size_t k = part.find_first_not_of(' ');
      part.erase(0, k == std::string::npos ? part.size() : k);
    }
    Emit((first ? lead : std::string(lead.size(), ' ')) + part);
    first = false;
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (buttons == BoxButtons::Ok) return BoxResult::Ok;

  if (assume_yes_) {
    Emit("going ahead (--yes)");
    return BoxResult::Ok;
  }
  if (isatty(fileno(stdin)) != 1) {
    Emit("stopping here: no terminal to ask; give --yes to go ahead");
    return BoxResult::Cancel;
  }
  EndProgress();
  std::fputs("Go ahead? [y/N] ", out_);
  std::fflush(out_);
  char answer[64];
  // A Ctrl-C interrupts the read (the handler is installed without
  // restart) and counts as no.
  if (!std::fgets(answer, sizeof answer, stdin)) {
    std::fputc('\n', out_);
    return BoxResult::Cancel;
  }
  const std::string a(answer);
  return (a[0] == 'y' || a[0] == 'Y') ? BoxResult::Ok : BoxResult::Cancel;
}

void TerminalPlatform::CompletionDialog(const CompletionReport& report) {
  MemoryPlatform::CompletionDialog(report);
  EndProgress();
  const CompletionTexts t = CompletionReportTexts(report);
  Emit(t.title + " " + t.processed);
  Emit(t.stored + " " + report.folder);
  for (const std::string& line : t.errors) Emit(line);
  for (const std::string& line : t.warnings) Emit(line);
}

void TerminalPlatform::ExitProcess(int code) {
  EndProgress();
  std::fflush(nullptr);
  // A fatal path may be anywhere in the run: end at once, without running
  // the destructors of state that is half built.
  std::_Exit(code);
}

void TerminalPlatform::StartRun(int sectors) {
  sectors_ = sectors;
  sector_ = 0;
  sector_id_.clear();
  shown_ = -1;
  start_ = last_draw_ = std::chrono::steady_clock::now();
}

void TerminalPlatform::EndProgress() {
  if (!drawn_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_ = false;
}
