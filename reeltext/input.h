// Where reeltext reads from: the file named, or standard input for "-".
#pragma once

#include <memory>
#include <string>

#include "tape_image/source.h"

namespace reelprint::reeltext {

// Returns the input named `name`: standard input for "-", else the file, opened; nullptr if it
// can't be opened or is a directory, errno telling why.
std::unique_ptr<tape_image::InputSource> open_input(const std::string& name);

}  // namespace reelprint::reeltext
