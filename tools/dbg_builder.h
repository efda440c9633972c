// Writes debug-file images in memory: the magic, sections with their records
// and names, and the end tag, little-endian throughout. Used by the tests
// and by make_dbg.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "debug_file/format.h"

namespace dbg {

using marvix::kMagic;
using marvix::NO_CLASS;

struct File {
  std::uint8_t kind = 0;
  std::int32_t lines = 0;
  std::string name;
};

struct Class {
  std::uint8_t kind = 0;
  std::uint32_t parent = NO_CLASS;
  std::uint64_t start = 0;
  std::uint64_t begin = 0;  // extent
  std::uint64_t end = 0;
  std::string name;
};

struct Label {
  std::uint8_t kind = 0;
  std::uint32_t owner = NO_CLASS;
  std::uint64_t value = 0;
  std::string name;
};

using Bytes = std::vector<std::uint8_t>;

inline void put(Bytes& out, std::string_view text) {
  for (const char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

inline void put_le(Bytes& out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// What a record's reserved bytes and name slot hold. The tests fill them
// with junk, which the reader must never show; a sample can have zeros.
inline constexpr std::uint8_t kJunk = 0xA5;

inline std::size_t new_record(Bytes& out, std::size_t size, std::uint8_t reserved) {
  const std::size_t at = out.size();
  out.resize(at + size, reserved);
  return at;
}

inline void set_le(Bytes& out, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

template <typename Entry>
void put_names(Bytes& out, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    put(out, e.name);
    out.push_back(0);
  }
}

inline void put_files(Bytes& out, const std::vector<File>& files, std::uint8_t reserved = kJunk) {
  using marvix::FileEntry;
  put(out, marvix::kTagFile);
  put_le(out, files.size(), 4);
  for (const File& f : files) {
    const std::size_t at = new_record(out, FileEntry::kSize, reserved);
    set_le(out, at + FileEntry::kKind, f.kind, 1);
    set_le(out, at + FileEntry::kLines, static_cast<std::uint32_t>(f.lines), 4);
  }
  put_names(out, files);
}

inline void put_classes(Bytes& out, const std::vector<Class>& classes, std::uint8_t reserved = kJunk) {
  using marvix::ClassEntry;
  put(out, marvix::kTagClass);
  put_le(out, classes.size(), 4);
  for (const Class& c : classes) {
    const std::size_t at = new_record(out, ClassEntry::kSize, reserved);
    set_le(out, at + ClassEntry::kKind, c.kind, 1);
    set_le(out, at + ClassEntry::kParent, c.parent, 4);
    set_le(out, at + ClassEntry::kStart, c.start, 8);
    set_le(out, at + ClassEntry::kExtentBegin, c.begin, 8);
    set_le(out, at + ClassEntry::kExtentEnd, c.end, 8);
  }
  put_names(out, classes);
}

inline void put_labels(Bytes& out, const std::vector<Label>& labels, std::uint8_t reserved = kJunk) {
  using marvix::LabelEntry;
  put(out, marvix::kTagLabel);
  put_le(out, labels.size(), 4);
  for (const Label& l : labels) {
    const std::size_t at = new_record(out, LabelEntry::kSize, reserved);
    set_le(out, at + LabelEntry::kKind, l.kind, 1);
    set_le(out, at + LabelEntry::kClass, l.owner, 4);
    set_le(out, at + LabelEntry::kValue, l.value, 8);
  }
  put_names(out, labels);
}

// A whole file: magic, the non-empty sections, "[end]".
inline Bytes debug_file(const std::vector<File>& files, const std::vector<Class>& classes,
                        const std::vector<Label>& labels, std::uint8_t reserved = kJunk) {
  Bytes out;
  put(out, kMagic);
  if (!files.empty()) put_files(out, files, reserved);
  if (!classes.empty()) put_classes(out, classes, reserved);
  if (!labels.empty()) put_labels(out, labels, reserved);
  put(out, marvix::kTagEnd);
  return out;
}

}  // namespace dbg
