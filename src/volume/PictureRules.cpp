#include "volume/PictureRules.h"
