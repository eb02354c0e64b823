#include "catalogue/DicomTrees.h"
