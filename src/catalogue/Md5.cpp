#include "catalogue/Md5.h"
