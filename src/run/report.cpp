#include "run/report.h"

CompletionTexts CompletionReportTexts(const CompletionReport& report) {
  CompletionTexts t;
  t.title = "Work Done!";
  t.processed = "Selected Data have been processed";
  t.stored = "Results have been stored in:";
  if (report.finderror)
    t.errors = {"Oops! It seems there was an Error during the process",
                "Review the console log. Some results may be omited or corrupted",
                "This could throw an error when you upload the results"};
  else
    t.errors = {"No Errors logged during the process"};
  if (report.glbwarning)
    t.warnings = {"There were some Warnings during the process", "Please review the console to check them out"};
  return t;
}
