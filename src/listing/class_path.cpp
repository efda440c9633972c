#include "listing/class_path.h"

#include <algorithm>
#include <cstring>

#include "debug_file/format.h"
#include "listing/listing.h"

namespace marvix {

namespace {

const char* class_name(const DebugTables& tables, std::uint32_t index) {
  return tables.name(ClassEntry{tables.class_record(index)}.name_slot());
}

// Sets the cache up for this class table on first use.
void prepare(ClassPaths& paths, const DebugTables& tables) {
  if (paths.begin.size() == tables.classes.count) return;
  paths = ClassPaths{};
  paths.begin.assign(tables.classes.count, ClassPaths::kUnknown);
  paths.length.assign(tables.classes.count, 0);
  paths.seen.assign(tables.classes.count, 0);
  const std::size_t budget = std::clamp(std::size_t{tables.classes.count} * ClassPaths::kBudgetPerClass,
                                        std::size_t{4096}, ClassPaths::kBudget);
  allocate_block(paths.text, budget);  // without it, every path is walked
}

// Follows the parents from `index` and leaves the classes met in
// paths.chain, innermost first. True when the chain was cut short (an index
// outside the table or a loop), which the path shows as "...".
bool walk_parents(ClassPaths& paths, const DebugTables& tables, std::uint32_t index) {
  if (++paths.walk == 0) {
    std::fill(paths.seen.begin(), paths.seen.end(), 0);
    paths.walk = 1;
  }
  paths.chain.clear();
  for (;;) {
    if (index == NO_CLASS) return false;
    if (index >= tables.classes.count || paths.seen[index] == paths.walk) return true;
    paths.seen[index] = paths.walk;
    paths.chain.push_back(index);
    index = ClassEntry{tables.class_record(index)}.parent();
  }
}

// The walked chain, outermost first, piece by piece into the output.
void print_walked(Listing& listing, const DebugTables& tables, bool cut) {
  if (cut) output_text(listing.out, "...");
  for (auto c = listing.paths.chain.rbegin(); c != listing.paths.chain.rend(); ++c) {
    const char* text = class_name(tables, *c);
    output_bytes(listing.out, text, std::strlen(text));
    output_text(listing.out, ".");
  }
}

// The walked chain as one string of `total` bytes in the cache, remembered
// for class `index`; returns where it starts.
const char* cache_walked(ClassPaths& paths, const DebugTables& tables, std::uint32_t index, bool cut,
                         std::size_t total) {
  char* const begin = reinterpret_cast<char*>(paths.text.data) + paths.text_used;
  char* end = begin;
  if (cut) end = std::copy_n("...", 3, end);
  for (auto c = paths.chain.rbegin(); c != paths.chain.rend(); ++c) {
    const char* text = class_name(tables, *c);
    end = std::copy_n(text, std::strlen(text), end);
    *end++ = '.';
  }
  paths.begin[index] = static_cast<std::uint32_t>(paths.text_used);
  paths.length[index] = static_cast<std::uint32_t>(total);
  paths.text_used += total;
  return begin;
}

}  // namespace

void print_class_path(Listing& listing, const DebugTables& tables, std::uint32_t index) {
  Output& out = listing.out;
  if (index == NO_CLASS) return;
  if (index >= tables.classes.count) {
    output_text(out, "...");
    return;
  }
  ClassPaths& paths = listing.paths;
  prepare(paths, tables);
  if (paths.begin[index] != ClassPaths::kUnknown) {
    output_bytes(out, reinterpret_cast<const char*>(paths.text.data) + paths.begin[index],
                 paths.length[index]);
    return;
  }

  const bool cut = walk_parents(paths, tables, index);
  std::size_t total = cut ? 3 : 0;
  for (const std::uint32_t c : paths.chain) total += std::strlen(class_name(tables, c)) + 1;
  if (total > paths.text.size - paths.text_used) {
    print_walked(listing, tables, cut);  // over the cache's budget
    return;
  }
  output_bytes(out, cache_walked(paths, tables, index, cut, total), total);
}

}  // namespace marvix
