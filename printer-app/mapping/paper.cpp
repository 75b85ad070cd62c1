#include "printer-app/mapping/paper.h"

#include <cmath>

namespace zeruapp {

int pointsToHundredthsMm(double points) {
  return static_cast<int>(std::lround(points * 2540.0 / 72.0));
}

}  // namespace zeruapp
