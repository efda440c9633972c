// The magic check and the section scanner: the three section tables found in
// a loaded image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "debug_file/format.h"
#include "debug_file/image.h"

namespace marvix {

bool check_magic(const DebugImage& image);

// A section's entries: `records` is the offset of the first record in the
// image; record i lies at records + i * record size.
struct SectionTable {
  std::uint32_t count = 0;
  std::size_t records = 0;
};

// Positions only; the tables must not outlive the image they point into.
struct DebugTables {
  const std::uint8_t* image = nullptr;
  SectionTable files;
  SectionTable classes;
  SectionTable labels;

  FileEntry file_entry(std::uint32_t i) const { return {image + files.records + i * FileEntry::kSize}; }
  ClassEntry class_entry(std::uint32_t i) const { return {image + classes.records + i * ClassEntry::kSize}; }
  LabelEntry label_entry(std::uint32_t i) const { return {image + labels.records + i * LabelEntry::kSize}; }
  // The NUL-terminated name whose offset a name slot holds.
  const char* name(std::uint32_t slot) const { return reinterpret_cast<const char*>(image + slot); }
};

enum class ScanStatus { ok, undefined_entry, unexpected_end };

struct ScanResult {
  ScanStatus status = ScanStatus::ok;
  std::size_t cursor = 0;  // where no tag matched, for undefined_entry
};

// Walks the sections from just past the magic to "[end]", fills the tables
// and writes each record's name offset into its name slot. Counts, records
// and names are taken only from the file's own bytes, never from the zero
// tail of the last block.
ScanResult scan_sections(DebugImage& image, DebugTables& tables);

// The text shown for an undefined entry: the bytes at `cursor` up to the next
// NUL, which the zero tail guarantees.
const char* text_at(const DebugImage& image, std::size_t cursor);

}  // namespace marvix
