#include "catalogue/DicomObjects.h"
