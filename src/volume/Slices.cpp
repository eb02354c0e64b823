#include "volume/Slices.h"
