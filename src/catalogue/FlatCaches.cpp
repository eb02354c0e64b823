#include "catalogue/FlatCaches.h"
