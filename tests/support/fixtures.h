// Kept while the old tests move to support.h.
#pragma once
#include "support/support.h"
