#include "main/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "console/console.h"

namespace marvix {

namespace {

// The debug file, open from the open step to the end of loading.
struct InputFile {
  int fd = -1;
  explicit InputFile(const char* path) : fd(open(path, O_RDONLY | O_CLOEXEC)) {}
  ~InputFile() {
    if (fd >= 0) close(fd);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
};

// A directory opens fine on POSIX but is not a file to dump; devices and
// pipes are read like files.
bool is_directory(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_pause_switch(const char* arg) {
  return arg[0] == '-' && (arg[1] == 'p' || arg[1] == 'P') && arg[2] == '\0';
}

// With descriptor 1 or 2 closed, the debug file would be opened on it and the
// listing or a message written into it. Park /dev/null there instead: writes
// to a read-only descriptor fail, so a closed standard output is reported as
// an output error, and messages to a closed standard error are dropped.
void occupy_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int parked = open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
      if (parked >= 0 && parked != fd) close(parked);
    }
  }
}

Outcome outcome_of(LoadStatus status) {
  return status == LoadStatus::out_of_memory ? Outcome::out_of_memory : Outcome::read_error;
}

void report(Outcome outcome, const DebugImage& image, std::size_t cursor, int write_error) {
  switch (outcome) {
    case Outcome::ok:
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
    case Outcome::undefined_entry:
      console_print("error: undefined entry (%s), abort.\n", text_at(image, cursor));
      break;
    case Outcome::unexpected_end:
      console_print("error: unexpected end of file.\n");
      break;
    case Outcome::write_failed:
      // A reader that has gone away (| head) wanted no more: end quietly.
      if (write_error != EPIPE) console_print("error: could not write output.\n");
      break;
  }
}

}  // namespace

DumpResult dump_image(DebugImage& image, Listing& listing) {
  if (!check_magic(image)) return {Outcome::wrong_type, 0};
  DebugTables tables;
  const ScanResult scan = scan_sections(image, tables);
  if (scan.status == ScanStatus::undefined_entry) return {Outcome::undefined_entry, scan.cursor};
  if (scan.status == ScanStatus::unexpected_end) return {Outcome::unexpected_end, scan.cursor};
  list_files(listing, tables);
  list_classes(listing, tables);
  list_labels(listing, tables);
  pager_finish(listing);
  if (!output_flush(listing.out)) return {Outcome::write_failed, 0};
  return {Outcome::ok, 0};
}

int run(int argc, const char* const* argv) {
  // Output errors are seen as failed writes, never as a fatal signal.
  std::signal(SIGPIPE, SIG_IGN);
  occupy_standard_descriptors();

  console_print("marvix v1.0: dump debug-files produced by tolvane v1.0 (08/05/2001)\n");
  console_print("homepage: %s\n", kHomePage);
  DebugImage image;
  Outcome outcome = Outcome::ok;
  if (argc != 2 && argc != 3) {
    outcome = Outcome::usage;
  } else if (argc == 3 && !is_pause_switch(argv[2])) {
    outcome = Outcome::unknown_parameters;
  }
  if (outcome != Outcome::ok) {
    report(outcome, image, 0, 0);
    return 1;
  }

  console_print("dump file: \"%s\"\n", argv[1]);
  {
    InputFile file(argv[1]);
    if (file.fd < 0 || is_directory(file.fd)) {
      report(Outcome::open_failed, image, 0, 0);
      return 1;
    }
    const LoadStatus loaded = load_image(file.fd, image);
    if (loaded != LoadStatus::ok) {
      report(outcome_of(loaded), image, 0, 0);
      return 1;
    }
  }

  Listing listing;
  listing.pager.pause = argc == 3;
  listing.out.is_terminal = isatty(STDOUT_FILENO) != 0;
  const DumpResult result = dump_image(image, listing);
  report(result.outcome, image, result.cursor, listing.out.error);
  return result.outcome == Outcome::ok ? 0 : 1;
}

}  // namespace marvix
