#include "util/Errors.h"

namespace tarvicon {

void RaiseError(const std::string& message) {
    throw WException(message);
}

void RaiseRangeError() {
    throw WRangeError();
}

} // namespace tarvicon
