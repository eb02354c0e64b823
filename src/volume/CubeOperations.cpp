#include "volume/CubeOperations.h"
