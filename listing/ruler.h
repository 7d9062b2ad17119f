// The column ruler printed above each tape file's records.
#pragma once

#include <cstddef>

namespace reel::reelprint {

// Writes the ruler for lines of `recl` characters (1 to 100) into `pr`: `recl` dots, with
// every multiple of five written so that its last digit stands in its own column.
void make_ruler(std::size_t recl, char* pr);

}  // namespace reel::reelprint
