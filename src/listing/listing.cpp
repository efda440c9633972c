#include "listing/listing.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "console/console.h"
#include "debug_file/format.h"

namespace marvix {

namespace {

constexpr std::string_view kPrompt = "\npress a key...";
constexpr std::uint32_t kMaxHeldPrompts = 4096;  // 60 KiB of prompts

void pager_pause(Listing& listing) {
  Pager& pager = listing.pager;
  Output& out = listing.out;
  // On a terminal the page must stand on the screen above the prompt.
  if (out.is_terminal) output_flush(out);
  const bool waits = pager.wait_for_key && console_can_wait();
  ++pager.held_prompts;
  if (waits || out.is_terminal || pager.held_prompts == kMaxHeldPrompts) pager_finish(listing);
  if (waits) console_wait_key();
  output_text(out, "\n\n\n");
  pager.lines = 0;
}

}  // namespace

void pager_line_done(Listing& listing) {
  Pager& pager = listing.pager;
  if (!pager.pause) return;
  if (++pager.lines == PAGE_LINES) pager_pause(listing);
}

void pager_finish(Listing& listing) {
  static const std::string prompts = [] {
    std::string text;
    for (std::uint32_t i = 0; i < kMaxHeldPrompts; ++i) text += kPrompt;
    return text;
  }();
  if (listing.pager.held_prompts > 0)
    console_write(prompts.data(), listing.pager.held_prompts * kPrompt.size());
  listing.pager.held_prompts = 0;
}

namespace {

// A column: its head, and the minimum width of its text. Every column but
// the last (the name) is followed by one blank. Declared once, used for the
// header and the rows alike.
struct Column {
  std::string_view head;
  std::size_t width;
};

constexpr Column kItem{"item", 5};
constexpr Column kFileColumns[] = {kItem, {"lines", 8}, {"type", 12}};
constexpr Column kClassColumns[] = {kItem, {"type", 8}, {"start", 12}, {"size", 12}};
constexpr Column kLabelColumns[] = {kItem, {"type", 12}, {"value", 12}};

// Text left-aligned in its column (longer text is not cut), then the blank.
void column(Output& out, std::string_view text, std::size_t width) {
  output_text(out, text);
  constexpr std::string_view kBlanks = "             ";  // widest column, plus its separator
  const std::size_t pad = text.size() < width ? width - text.size() + 1 : 1;
  output_bytes(out, kBlanks.data(), pad);
}

template <typename Int>
void decimal_column(Output& out, Int value, std::size_t width) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  column(out, {digits, static_cast<std::size_t>(end - digits)}, width);
}

// printf's "%#x": a bare 0, otherwise 0x and lower-case digits.
void hex_column(Output& out, std::uint64_t value, std::size_t width) {
  char digits[24] = {'0', 'x'};
  const bool prefixed = value != 0;
  char* first = prefixed ? digits + 2 : digits;
  const auto end = std::to_chars(first, digits + sizeof digits, value, 16).ptr;
  column(out, {digits, static_cast<std::size_t>(end - digits)}, width);
}

void name(Output& out, const char* text) { output_bytes(out, text, std::strlen(text)); }

template <std::size_t N>
void title_and_header(Listing& listing, std::string_view tag, const Column (&columns)[N]) {
  output_text(listing.out, tag);
  output_text(listing.out, "\n");
  pager_line_done(listing);
  for (const Column& c : columns) column(listing.out, c.head, c.width);
  output_text(listing.out, "name\n");
  pager_line_done(listing);
}

void closing_line(Listing& listing) {
  output_text(listing.out, "\n");
  pager_line_done(listing);
}

bool stopped(const Listing& listing) { return listing.out.error != 0; }

// Class and label rows end alike: the owning class's path, the entry's own
// name, the end of the line.
void path_and_name(Listing& listing, const DebugTables& tables, std::uint32_t owner,
                   std::uint32_t name_slot) {
  print_class_path(listing, tables, owner);
  name(listing.out, tables.name(name_slot));
  output_text(listing.out, "\n");
  pager_line_done(listing);
}

}  // namespace

void list_files(Listing& listing, const DebugTables& tables) {
  if (tables.files.count == 0) return;
  Output& out = listing.out;
  title_and_header(listing, kTagFile, kFileColumns);
  for (std::uint32_t i = 0; i < tables.files.count && !stopped(listing); ++i) {
    const FileEntry entry{tables.file_record(i)};
    decimal_column(out, i, kFileColumns[0].width);
    decimal_column(out, entry.lines(), kFileColumns[1].width);
    column(out, kind_name(kFileKinds, entry.kind()), kFileColumns[2].width);
    if (entry.parenthesised()) output_text(out, "(");
    name(out, tables.name(entry.name_slot()));
    output_text(out, entry.parenthesised() ? ")\n" : "\n");
    pager_line_done(listing);
  }
  closing_line(listing);
}

void list_classes(Listing& listing, const DebugTables& tables) {
  if (tables.classes.count == 0) return;
  Output& out = listing.out;
  title_and_header(listing, kTagClass, kClassColumns);
  for (std::uint32_t i = 0; i < tables.classes.count && !stopped(listing); ++i) {
    const ClassEntry entry{tables.class_record(i)};
    decimal_column(out, i, kClassColumns[0].width);
    column(out, kind_name(kClassKinds, entry.kind()), kClassColumns[1].width);
    hex_column(out, entry.start(), kClassColumns[2].width);
    hex_column(out, entry.size(), kClassColumns[3].width);
    path_and_name(listing, tables, entry.parent(), entry.name_slot());
  }
  closing_line(listing);
}

void list_labels(Listing& listing, const DebugTables& tables) {
  if (tables.labels.count == 0) return;
  Output& out = listing.out;
  title_and_header(listing, kTagLabel, kLabelColumns);
  for (std::uint32_t i = 0; i < tables.labels.count && !stopped(listing); ++i) {
    const LabelEntry entry{tables.label_record(i)};
    decimal_column(out, i, kLabelColumns[0].width);
    column(out, kind_name(kLabelKinds, entry.kind()), kLabelColumns[1].width);
    hex_column(out, entry.value(), kLabelColumns[2].width);
    path_and_name(listing, tables, entry.class_index(), entry.name_slot());
  }
  closing_line(listing);
}

namespace {

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

const char* class_name(const DebugTables& tables, std::uint32_t index) {
  return tables.name(ClassEntry{tables.class_record(index)}.name_slot());
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
  if (paths.begin.size() != tables.classes.count) {
    paths = ClassPaths{};
    paths.begin.assign(tables.classes.count, ClassPaths::kUnknown);
    paths.length.assign(tables.classes.count, 0);
    paths.seen.assign(tables.classes.count, 0);
    const std::size_t budget = std::clamp(std::size_t{tables.classes.count} * ClassPaths::kBudgetPerClass,
                                          std::size_t{4096}, ClassPaths::kBudget);
    allocate_block(paths.text, budget);  // without it, every path is walked
  }
  if (paths.begin[index] != ClassPaths::kUnknown) {
    output_bytes(out, reinterpret_cast<const char*>(paths.text.data) + paths.begin[index],
                 paths.length[index]);
    return;
  }

  const bool cut = walk_parents(paths, tables, index);
  std::size_t total = cut ? 3 : 0;
  for (const std::uint32_t c : paths.chain) total += std::strlen(class_name(tables, c)) + 1;

  if (total > paths.text.size - paths.text_used) {
    // Over the cache's budget: print this one piece by piece.
    if (cut) output_text(out, "...");
    for (auto c = paths.chain.rbegin(); c != paths.chain.rend(); ++c) {
      name(out, class_name(tables, *c));
      output_text(out, ".");
    }
    return;
  }
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
  output_bytes(out, begin, total);
}

}  // namespace marvix
