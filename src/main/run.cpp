#include "main/run.h"

#include <cstring>

#include "console/console.h"
#include "platform/platform.h"

namespace marvix {

namespace {

bool is_pause_switch(const char* arg) {
  return arg[0] == '-' && (arg[1] == 'p' || arg[1] == 'P') && arg[2] == '\0';
}

Outcome outcome_of(LoadStatus status) {
  return status == LoadStatus::out_of_memory ? Outcome::out_of_memory : Outcome::read_error;
}

// `text` is the undefined entry's.
void report(Outcome outcome, const char* text) {
  switch (outcome) {
    case Outcome::ok:
    case Outcome::reader_gone:  // ends quietly
      break;
    case Outcome::unknown_parameters:
      console_print("unknown parameters.\n");
      [[fallthrough]];
    case Outcome::usage:
      console_print("syntax: marvix file.dbg [-p]\n");
      break;
    case Outcome::open_failed:
      console_print("error: could not open file\n");
      break;
    case Outcome::out_of_memory:
      console_print("error: out of memory.\n");
      break;
    case Outcome::read_error:
      console_print("error: could not read file.\n");
      break;
    case Outcome::wrong_type:
      console_print("error: wrong file type or version.\n");
      break;
    case Outcome::undefined_entry: {
      // The text can run to megabytes: it goes out whole, straight from the
      // image.
      console_print("error: undefined entry (");
      console_write_file_text(text, std::strlen(text));
      console_print("), abort.\n");
      break;
    }
    case Outcome::unexpected_end:
      console_print("error: unexpected end of file.\n");
      break;
    case Outcome::write_failed:
      console_print("error: could not write output.\n");
      break;
  }
}

}  // namespace

DumpResult dump_image(DebugImage& image, Listing& listing, std::size_t buffer_size) {
  if (!check_magic(image)) return {Outcome::wrong_type, {}};
  DebugTables tables;
  const ScanResult scan = scan_sections(image, tables);
  if (scan.status == ScanStatus::undefined_entry) return {Outcome::undefined_entry, scan.cursor};
  if (scan.status == ScanStatus::unexpected_end) return {Outcome::unexpected_end, scan.cursor};
  if (!prepare_listing(listing, tables, buffer_size)) return {Outcome::out_of_memory, {}};
  list_files(listing, tables);
  list_classes(listing, tables);
  list_labels(listing, tables);
  if (!output_flush(listing.out)) {
    const bool gone = listing.out.status == WriteStatus::reader_gone;
    return {gone ? Outcome::reader_gone : Outcome::write_failed, {}};
  }
  return {Outcome::ok, {}};
}

int run(int argc, const char* const* argv) {
  setup_process();

  console_print("marvix v1.0: dump debug-files produced by tolvane v1.0 (08/05/2001)\n");
  console_print("homepage: " MARVIX_HOMEPAGE "\n");  // defined once, by the build
  DebugImage image;
  Outcome outcome = Outcome::ok;
  if (argv == nullptr) {
    outcome = Outcome::out_of_memory;
  } else if (argc != 2 && argc != 3) {
    outcome = Outcome::usage;
  } else if (argc == 3 && !is_pause_switch(argv[2])) {
    outcome = Outcome::unknown_parameters;
  }
  if (outcome != Outcome::ok) {
    report(outcome, nullptr);
    return 1;
  }

  console_print("dump file: \"");
  console_write_external(argv[1], std::strlen(argv[1]));
  console_print("\"\n");
  {
    InputFile file;
    if (!open_input(argv[1], file)) {
      report(Outcome::open_failed, nullptr);
      return 1;
    }
    const LoadStatus loaded = load_image(file, image);
    if (loaded != LoadStatus::ok) {
      report(outcome_of(loaded), nullptr);
      return 1;
    }
  }

  Listing listing;
  listing.pager.pause = argc == 3;
  listing.out.is_terminal = is_terminal(kStdOut);
  if (listing.out.is_terminal) listing.out.code_page = console_code_page();
  const DumpResult result = dump_image(image, listing);
  report(result.outcome, text_at(image, result.cursor));
  return result.outcome == Outcome::ok ? 0 : 1;
}

}  // namespace marvix
