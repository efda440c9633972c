#include "listing/class_path.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "debug_file/format.h"

namespace marvix {

namespace {

const char* class_name(const DebugTables& tables, std::uint32_t index) {
  return tables.name(tables.class_entry(index).name_slot());
}

// Follows the parents from `index` and leaves the classes met in
// paths.chain, innermost first. True when the chain was cut short (an index
// outside the table or a loop), which the path shows as "...".
bool walk_parents(ClassPaths& paths, const DebugTables& tables, std::uint32_t index) {
  // The marks start at zero, and there is at most one walk a row (under
  // 1.4 million rows fit in the largest file), so walk numbers never wrap
  // and no mark needs clearing.
  ++paths.walk;
  paths.chain_length = 0;
  for (;;) {
    if (index == NO_CLASS) return false;
    if (index >= tables.classes.count || paths.seen[index] == paths.walk) return true;
    paths.seen[index] = paths.walk;
    paths.chain[paths.chain_length++] = index;
    index = tables.class_entry(index).parent();
  }
}

// The walked chain, outermost first, piece by piece into the output.
void print_walked(const ClassPaths& paths, Output& out, const DebugTables& tables, bool cut) {
  if (cut) output_text(out, "...");
  for (std::uint32_t i = paths.chain_length; i-- > 0;) {
    const char* text = class_name(tables, paths.chain[i]);
    output_external(out, text, std::strlen(text));
    output_text(out, ".");
  }
}

// The walked chain as one string of `total` bytes in the cache, remembered
// for class `index`; returns where it starts.
const char* cache_walked(ClassPaths& paths, const DebugTables& tables, std::uint32_t index, bool cut,
                         std::size_t total) {
  char* const begin = paths.text.get() + paths.text_used;
  char* end = begin;
  if (cut) end = std::copy_n("...", 3, end);
  for (std::uint32_t i = paths.chain_length; i-- > 0;) {
    const char* text = class_name(tables, paths.chain[i]);
    end = std::copy_n(text, std::strlen(text), end);
    *end++ = '.';
  }
  paths.start[index] = static_cast<std::uint32_t>(paths.text_used);
  paths.length[index] = static_cast<std::uint32_t>(total);
  paths.text_used += total;
  return begin;
}

}  // namespace

bool prepare_class_paths(ClassPaths& paths, const DebugTables& tables) {
  paths = ClassPaths{};
  const std::size_t count = tables.classes.count;
  if (count == 0) return true;
  paths.words.reset(new (std::nothrow) std::uint32_t[4 * count]());
  if (paths.words == nullptr) return false;
  paths.seen = paths.words.get();
  paths.chain = paths.seen + count;
  paths.start = paths.chain + count;
  paths.length = paths.start + count;
  // The cache's text: a budget by the class count, so that a small file
  // does not pay for 4 MiB. It only saves time: where its memory cannot be
  // had, every path is walked instead.
  const std::size_t budget =
      std::clamp(count * ClassPaths::kCacheTextPerClass, std::size_t{4096}, ClassPaths::kCacheText);
  paths.text.reset(static_cast<char*>(std::malloc(budget)));
  if (paths.text != nullptr) paths.text_capacity = budget;
  return true;
}

void print_class_path(ClassPaths& paths, Output& out, const DebugTables& tables, std::uint32_t index) {
  if (index == NO_CLASS) return;
  if (index >= tables.classes.count) {
    output_text(out, "...");
    return;
  }
  // Every path in the table has a name and a full stop: a cached one is
  // never empty.
  if (paths.length[index] != 0) {
    output_external(out, paths.text.get() + paths.start[index], paths.length[index]);
    return;
  }

  const bool cut = walk_parents(paths, tables, index);
  if (paths.text == nullptr) {
    print_walked(paths, out, tables, cut);  // no cache
    return;
  }
  std::size_t total = cut ? 3 : 0;
  for (std::uint32_t i = 0; i < paths.chain_length; ++i)
    total += std::strlen(class_name(tables, paths.chain[i])) + 1;
  if (total > paths.text_capacity - paths.text_used) {
    print_walked(paths, out, tables, cut);  // over the cache's budget
    return;
  }
  output_external(out, cache_walked(paths, tables, index, cut, total), total);
}

}  // namespace marvix
