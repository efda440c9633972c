// The run sequence: banner, arguments, load, check, scan, listings. Every
// step returns a status; only this sequence turns one into a message and an
// exit status.
#pragma once

#include <cstddef>

#include "debug_file/image.h"
#include "debug_file/scanner.h"
#include "listing/listing.h"

namespace marvix {

enum class Outcome {
  ok,
  usage,               // wrong number of arguments
  unknown_parameters,  // a second argument that is not the pause switch
  open_failed,
  out_of_memory,
  read_error,
  wrong_type,
  undefined_entry,
  unexpected_end,
  write_failed,
  reader_gone,  // the reader of a pipe closed it (| head): it wanted no more
};

struct DumpResult {
  Outcome outcome = Outcome::ok;
  std::size_t cursor = 0;  // for undefined_entry: where no tag matched
};

// Everything after loading: check the magic, scan the sections and print the
// three listings through an output buffer of `buffer_size` bytes, flushing
// it at the end. Nothing is printed unless the check and the scan succeed.
DumpResult dump_image(DebugImage& image, Listing& listing, std::size_t buffer_size = Output::kBufferSize);

// The whole run; returns the exit status (0 only when the run completed).
// A null argv: the arguments could not be had for want of memory.
int run(int argc, const char* const* argv);

}  // namespace marvix
