// Class paths: the dotted chain of enclosing class names in front of a
// class or label name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "debug_file/scanner.h"
#include "listing/output.h"
#include "platform/platform.h"

namespace marvix {

// Walking a path needs a mark per class, to notice a loop, and the chain
// walked so far. Paths are also remembered as they are first printed, so
// that a million labels in deep classes do not walk the same parents a
// million times: that takes where each class's path starts in the cache and
// how long it is, and the path text, a budget of 512 bytes a class (at
// least 4 KiB, at most 4 MiB). Paths past the budget, or all of them when the text's memory
// cannot be had, are walked for every row.
struct ClassPaths {
  static constexpr std::size_t kCacheTextPerClass = 512;
  static constexpr std::size_t kCacheText = std::size_t{4} << 20;

  // The four per-class arrays below, in one allocation, zero to start with.
  std::unique_ptr<std::uint32_t[]> words;
  std::uint32_t* seen = nullptr;    // the last walk that met the class
  std::uint32_t* chain = nullptr;   // classes met by the current walk, innermost first
  std::uint32_t* start = nullptr;   // where the class's cached path starts in text
  std::uint32_t* length = nullptr;  // its cached path's length; 0 when not cached
  std::uint32_t chain_length = 0;
  std::uint32_t walk = 0;  // walks so far: tells this walk's marks from older ones

  std::unique_ptr<char, Free> text;  // cached paths, back to back; null without a cache
  std::size_t text_capacity = 0;
  std::size_t text_used = 0;
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
