#include "debug_file/scanner.h"

#include <algorithm>
#include <cstring>

#include "debug_file/cursor.h"
#include "debug_file/format.h"

namespace marvix {

bool check_magic(const DebugImage& image) {
  // The image is never shorter than one block, and its zero tail cannot
  // match the magic, which holds no NUL.
  return image.size() >= kMagic.size() && std::memcmp(image.data(), kMagic.data(), kMagic.size()) == 0;
}

namespace {

struct SectionKind {
  std::string_view tag;
  std::size_t record_size;
  std::size_t name_slot;
};

constexpr SectionKind kFileSection{kTagFile, FileEntry::kSize, FileEntry::kNameSlot};
constexpr SectionKind kClassSection{kTagClass, ClassEntry::kSize, ClassEntry::kNameSlot};
constexpr SectionKind kLabelSection{kTagLabel, LabelEntry::kSize, LabelEntry::kNameSlot};

// Reads the section whose tag is at the cursor and leaves the cursor on the
// byte after its last name; on failure the cursor stays on the tag.
bool read_section(DebugImage& image, Cursor& cursor, const SectionKind& kind, SectionTable& table) {
  Cursor at = cursor;
  std::uint32_t count = 0;
  if (!at.skip(kind.tag.size()) || !at.u32(count)) return false;
  const std::size_t records = at.pos;
  if (!at.skip(std::uint64_t{count} * kind.record_size)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::size_t name = 0;
    if (!at.cstr(name)) return false;
    // Offsets fit 32 bits: the image is at most 65535 blocks.
    write_u32le(image.data() + records + std::size_t{i} * kind.record_size + kind.name_slot,
                static_cast<std::uint32_t>(name));
  }
  table.count = count;
  table.records = records;
  cursor = at;
  return true;
}

}  // namespace

ScanResult scan_sections(DebugImage& image, DebugTables& tables) {
  tables = DebugTables{};
  tables.image = image.data();
  // Tags are matched against the file's own bytes. The image's zero tail
  // could never match one (no tag holds a NUL), so this is the same as
  // matching against the whole image, and the byte after the file's end,
  // which the cursor may reach but never pass, matches nothing: the walk
  // always ends at "[end]" or at an undefined entry.
  Cursor cursor{image.data(), image.file_size, std::min(kMagic.size(), image.file_size)};
  for (;;) {
    // A section is read only while its table is still empty: a second
    // non-empty "[label]" is an undefined entry, but an empty section may be
    // followed by one of the same kind that replaces it.
    SectionTable* table = nullptr;
    const SectionKind* kind = nullptr;
    if (tables.files.count == 0 && cursor.at(kTagFile)) {
      table = &tables.files;
      kind = &kFileSection;
    } else if (tables.classes.count == 0 && cursor.at(kTagClass)) {
      table = &tables.classes;
      kind = &kClassSection;
    } else if (tables.labels.count == 0 && cursor.at(kTagLabel)) {
      table = &tables.labels;
      kind = &kLabelSection;
    } else if (cursor.at(kTagEnd)) {
      return {ScanStatus::ok, cursor.pos};
    } else {
      return {ScanStatus::undefined_entry, cursor.pos};
    }
    if (!read_section(image, cursor, *kind, *table)) return {ScanStatus::unexpected_end, cursor.pos};
  }
}

const char* text_at(const DebugImage& image, std::size_t cursor) {
  return reinterpret_cast<const char*>(image.data() + cursor);
}

}  // namespace marvix
