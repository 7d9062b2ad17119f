// One whole run of reelcopy, callable in-process by main and the tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/hold.h"
#include "common/output.h"
#include "common/record_writer.h"
#include "tape_image/reader.h"
#include "tape_image/source.h"

namespace reel::reelcopy {

// How a run goes about its work; what it writes is the same whatever these are.
struct Tuning {
  std::size_t read_size = 0;  // bytes each read asks for (0: as suits the input)
  std::size_t buffer_size = RecordWriter::default_buffer_size;  // of each output
  std::size_t hold_memory = Hold::default_memory_limit;         // of a record held, before a file
};

// Runs over `args` (program name first): reads the images named through `open` and writes
// the copy to `out`, or to the files the options name; complaints and the failures met go to
// `err`. Returns the exit status.
int run(const std::vector<std::string>& args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, const Tuning& tuning = {});

}  // namespace reel::reelcopy
