// The batch driver's platform: the controls stay in memory, and what the
// desktop would show (console lines, message boxes, the completion dialog)
// becomes readable lines on standard error, with a progress display.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/memory_platform.h"

class TerminalPlatform : public MemoryPlatform {
 public:
  // `quiet`: no progress display. `assume_yes`: OK/Cancel boxes answer OK.
  TerminalPlatform(bool quiet, bool assume_yes);

  void ConsoleLine(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetProgress(int position) override;
  BoxResult MessageBox(const std::string& text, const std::string& caption, BoxIcon icon,
                       BoxButtons buttons, bool owned) override;
  void CompletionDialog(const CompletionReport& report) override;
  [[noreturn]] void ExitProcess(int code) override;

  // A line of the driver's own, kept apart from the progress display.
  void Say(const std::string& line);
  // Starts the clock and the sector count of a run of `sectors` sectors.
  void StartRun(int sectors);
  // Ends an in-place progress line so later output starts on a new line.
  void EndProgress();

  // The console lines of the run, each with the place in the run's sector
  // list of the sector it came from (-1: before the first sector).
  struct RunLine {
    int sector;
    std::string text;
  };
  const std::vector<RunLine>& run_lines() const { return run_lines_; }

 private:
  void Emit(const std::string& line);
  void DrawProgress();
  std::string ProgressText() const;

  std::FILE* out_ = stderr;
  bool quiet_;
  bool assume_yes_;
  bool in_place_;  // standard error is a terminal
  bool drawn_ = false;  // an in-place progress line is on screen
  int sectors_ = 0, sector_ = 0;
  std::string sector_id_;
  int shown_ = -1;  // last percent printed
  std::chrono::steady_clock::time_point start_, last_draw_;
  std::vector<RunLine> run_lines_;
};
