// Class paths: the dotted chain of enclosing class names in front of a
// class or label name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "debug_file/scanner.h"
#include "listing/output.h"
#include "platform/platform.h"

namespace marvix {

// Walking a path needs 8 bytes a class: a mark per class, to notice a loop,
// and the chain walked so far. Paths are also remembered as they are first
// printed, so that a million labels in deep classes do not walk the same
// parents a million times. The cache only speeds things up: it takes
// another 8 bytes a class and 4 MiB of path text; paths that do not fit, or
// all of them when its memory cannot be had, are walked for every row.
//
// All of it is memory blocks straight from the system, zero until written,
// so that what cannot be had is known at once and nothing throws.
struct ClassWords {
  MemoryBlock memory;
  std::uint32_t* at = nullptr;  // one word per class; null when not had
};

struct ClassPaths {
  static constexpr std::size_t kCacheText = std::size_t{4} << 20;

  ClassWords seen;   // per class: the last walk that met it
  ClassWords chain;  // classes met by the current walk, innermost first
  // The numbers below are set by prepare_class_paths, as it clears the
  // marks: a walk's number only tells its marks from older walks'.
  std::uint32_t chain_length;
  std::uint32_t walk;

  MemoryBlock text;  // cached paths, back to back; empty without a cache
  std::size_t text_used;
  ClassWords start;   // per class: where its cached path starts in text
  ClassWords length;  // per class: its cached path's length; 0 when not cached
};

// Sets the paths up for the class table, before anything is printed. False
// when the memory to walk them cannot be had.
bool prepare_class_paths(ClassPaths& paths, const DebugTables& tables);

// The chain of class names that leads to class `index`, outermost first,
// each followed by a full stop. Nothing for NO_CLASS. The chain stops at an
// index outside the class table or at a class met before on the same chain
// (a loop); then "..." comes first.
void print_class_path(ClassPaths& paths, Output& out, const DebugTables& tables, std::uint32_t index);

}  // namespace marvix
