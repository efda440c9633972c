#include "listing/listing.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "debug_file/format.h"

namespace marvix {

namespace {

// A column: its head, and the minimum width of its text. Every column but
// the last (the name) is followed by one blank. Declared once, used for the
// header and the rows alike.
struct Column {
  std::string_view head;
  std::size_t width;
};

constexpr Column kItem{"item", 5};
constexpr Column kLines{"lines", 8};
constexpr Column kFileType{"type", 12};
constexpr Column kClassType{"type", 8};
constexpr Column kStart{"start", 12};
constexpr Column kSize{"size", 12};
constexpr Column kLabelType{"type", 12};
constexpr Column kValue{"value", 12};
constexpr Column kFileColumns[] = {kItem, kLines, kFileType};
constexpr Column kClassColumns[] = {kItem, kClassType, kStart, kSize};
constexpr Column kLabelColumns[] = {kItem, kLabelType, kValue};

// Text left-aligned in its column (longer text is not cut), then the blank.
void column(Output& out, std::string_view text, std::size_t width) {
  output_bytes(out, text.data(), text.size());
  constexpr std::string_view kBlanks = "             ";  // the widest column and its blank
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
  const auto end = std::to_chars(value != 0 ? digits + 2 : digits, digits + sizeof digits, value, 16).ptr;
  column(out, {digits, static_cast<std::size_t>(end - digits)}, width);
}

void name(Output& out, const char* text) { output_external(out, text, std::strlen(text)); }

// Every line of a listing ends here, and is counted for the pager.
void line_end(Listing& listing) {
  output_line_end(listing.out);
  pager_line_done(listing.pager, listing.out);
}

template <std::size_t N>
void title_and_header(Listing& listing, std::string_view tag, const Column (&columns)[N]) {
  output_text(listing.out, tag);
  line_end(listing);
  for (const Column& c : columns) column(listing.out, c.head, c.width);
  output_text(listing.out, "name");
  line_end(listing);
}

// Class and label rows end alike: the owning class's path, the entry's own
// name, the end of the line.
void path_and_name(Listing& listing, const DebugTables& tables, std::uint32_t owner,
                   std::uint32_t name_slot) {
  print_class_path(listing.paths, listing.out, tables, owner);
  name(listing.out, tables.name(name_slot));
  line_end(listing);
}

}  // namespace

bool prepare_listing(Listing& listing, const DebugTables& tables, std::size_t buffer_size) {
  Output& out = listing.out;
  out.buffer.reset(static_cast<char*>(std::malloc(buffer_size)));
  if (out.buffer == nullptr) return false;
  out.capacity = buffer_size;
  return prepare_class_paths(listing.paths, tables);
}

void list_files(Listing& listing, const DebugTables& tables) {
  if (tables.files.count == 0) return;
  Output& out = listing.out;
  title_and_header(listing, kTagFile, kFileColumns);
  for (std::uint32_t i = 0; i < tables.files.count && !listing.out.failed(); ++i) {
    const FileEntry entry = tables.file_entry(i);
    decimal_column(out, i, kItem.width);
    decimal_column(out, entry.lines(), kLines.width);
    column(out, kind_name(kFileKinds, entry.kind()), kFileType.width);
    if (entry.parenthesised()) output_text(out, "(");
    name(out, tables.name(entry.name_slot()));
    if (entry.parenthesised()) output_text(out, ")");
    line_end(listing);
  }
  line_end(listing);
}

void list_classes(Listing& listing, const DebugTables& tables) {
  if (tables.classes.count == 0) return;
  Output& out = listing.out;
  title_and_header(listing, kTagClass, kClassColumns);
  for (std::uint32_t i = 0; i < tables.classes.count && !listing.out.failed(); ++i) {
    const ClassEntry entry = tables.class_entry(i);
    decimal_column(out, i, kItem.width);
    column(out, kind_name(kClassKinds, entry.kind()), kClassType.width);
    hex_column(out, entry.start(), kStart.width);
    hex_column(out, entry.size(), kSize.width);
    path_and_name(listing, tables, entry.parent(), entry.name_slot());
  }
  line_end(listing);
}

void list_labels(Listing& listing, const DebugTables& tables) {
  if (tables.labels.count == 0) return;
  Output& out = listing.out;
  title_and_header(listing, kTagLabel, kLabelColumns);
  for (std::uint32_t i = 0; i < tables.labels.count && !listing.out.failed(); ++i) {
    const LabelEntry entry = tables.label_entry(i);
    decimal_column(out, i, kItem.width);
    column(out, kind_name(kLabelKinds, entry.kind()), kLabelType.width);
    hex_column(out, entry.value(), kValue.width);
    path_and_name(listing, tables, entry.class_index(), entry.name_slot());
  }
  line_end(listing);
}

}  // namespace marvix
