#include "util/Utilities.h"
