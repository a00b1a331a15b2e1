#include "core/verbose.h"

bool verbose = false;
