// One whole run of reeltext, callable in-process by main and the tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bcd/kernel.h"
#include "common/hold.h"
#include "common/output.h"
#include "common/record_writer.h"
#include "tape_image/reader.h"
#include "tape_image/source.h"

namespace reel::reeltext {

// How a run goes about its work; what it writes is the same whatever these are.
struct Tuning {
  bcd::KernelId kernel = bcd::best_kernel();  // one of bcd::kernels_here()
  // Bytes each read asks for, a whole number of pages (0: as suits the input): 128 KiB, which
  // stay in the cache with the output block, ran some 4 % faster than reads of a megabyte on
  // large images in the page cache.
  std::size_t read_size = tape_image::TapeReader::pipe_read;
  std::size_t buffer_size = RecordWriter::default_buffer_size;  // of the output
  std::size_t hold_memory = Hold::default_memory_limit;         // of a record held, before a file
};

// Runs over `args` (program name first): reads the input named through `open` and writes the
// text or the image to `out`; complaints and the failures met go to `err`. Returns the exit
// status.
int run(const std::vector<std::string>& args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, const Tuning& tuning = {});

}  // namespace reel::reeltext
