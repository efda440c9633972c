// Class paths: the dotted chain of enclosing class names in front of a
// class or label name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "debug_file/scanner.h"
#include "platform/platform.h"

namespace marvix {

struct Listing;

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

// The chain of class names that leads to class `index`, outermost first,
// each followed by a full stop. Nothing for NO_CLASS. The chain stops at an
// index outside the class table or at a class met before on the same chain
// (a loop); then "..." comes first.
void print_class_path(Listing& listing, const DebugTables& tables, std::uint32_t index);

}  // namespace marvix
