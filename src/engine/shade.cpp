#include "engine/shade.h"
