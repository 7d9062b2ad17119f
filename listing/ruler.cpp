#include "listing/ruler.h"

#include <cstring>

namespace reel::reelprint {

void make_ruler(std::size_t recl, char* pr) {
  std::memset(pr, '.', recl);
  for (std::size_t m = 5; m <= recl; m += 5)
    for (std::size_t digits = m, column = m - 1; digits > 0; digits /= 10, --column)
      pr[column] = static_cast<char>('0' + digits % 10);
}

}  // namespace reel::reelprint
