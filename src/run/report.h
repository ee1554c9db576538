// The words of the completion report, the same in the desktop's dialog and
// on the batch driver's terminal.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct CompletionTexts {
  std::string title;      // "Work Done!"
  std::string processed;  // the first line
  std::string stored;     // what precedes the session folder
  // What the run logged: the error lines, or the line saying there were
  // none; then the warning lines, if any.
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
};

CompletionTexts CompletionReportTexts(const CompletionReport& report);
