// Kept while the old tests move to support.h.
#pragma once
#include "support/support.h"

namespace corpus {
inline void Tried(int = 1) {}
using ::Cut;
using ::DirectoryFirst;
using ::EndsWithin;
using ::ExitCodeOf;
using ::kNoExit;
using ::OpenFiles;
using ::PngClaiming;
using ::PngLayout;
using ::TiffLayout;
using ::WritePng;
using ::WriteTiff;
}  // namespace corpus
