#include "catalogue/neighbours.h"
