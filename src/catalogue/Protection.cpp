#include "catalogue/Protection.h"
