#include "shell/number_format.h"

#include <clocale>

namespace orb {

void UseCNumberFormats() { std::setlocale(LC_NUMERIC, "C"); }

}  // namespace orb
