// The three listings (file, class and label entries) and the pager that
// paces them.
#pragma once

#include <cstdint>
#include <vector>

#include "debug_file/image.h"
#include "listing/output.h"

namespace marvix {

inline constexpr std::uint8_t PAGE_LINES = 23;

struct Pager {
  bool pause = false;        // the "-p" switch
  bool wait_for_key = true;  // off only where no one can press a key (tests, fuzzing)
  std::uint8_t lines = 0;    // listing lines since the last pause, across all listings
  // Prompts not yet written. Where no key is waited for, prompts go out in
  // batches: a write per pause would cost more than the listing itself.
  std::uint32_t held_prompts = 0;
};

// Dotted class paths, remembered as they are first printed so that a million
// labels in deep classes do not walk the same parents a million times. The
// memory is capped at 512 bytes a class and 4 MiB in all; paths that do not
// fit are walked for every row.
struct ClassPaths {
  static constexpr std::size_t kBudgetPerClass = 512;
  static constexpr std::size_t kBudget = 4 << 20;
  static constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;

  MemoryBlock text;  // cached paths, back to back; kBudget bytes
  std::size_t text_used = 0;
  std::vector<std::uint32_t> begin;  // per class: offset in text, or kUnknown
  std::vector<std::uint32_t> length;
  std::vector<std::uint32_t> seen;  // per class: last walk that met it
  std::uint32_t walk = 0;
  std::vector<std::uint32_t> chain;  // classes met by the current walk, innermost first
};

// Run-wide state of the listing: where it goes, the pager and the path cache.
struct Listing {
  Output out{};
  Pager pager;
  ClassPaths paths;
};

void pager_line_done(Listing& listing);
// Writes the prompts still held; called when the listing ends.
void pager_finish(Listing& listing);

void list_files(Listing& listing, const DebugTables& tables);
void list_classes(Listing& listing, const DebugTables& tables);
void list_labels(Listing& listing, const DebugTables& tables);

// The chain of class names that leads to class `index`, outermost first,
// each followed by a full stop. Nothing for NO_CLASS. The chain stops at an
// index outside the class table or at a class met before on the same chain
// (a loop); then "..." comes first.
void print_class_path(Listing& listing, const DebugTables& tables, std::uint32_t index);

}  // namespace marvix
