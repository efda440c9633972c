// Writes debug-file images in memory: the magic, sections with their records
// and names, and the end tag, little-endian throughout. Used by the tests
// and by make_dbg.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbg {

inline constexpr std::string_view kMagic{"[tolvane|dbg|v1.00]\r\n\x1b", 22};
inline constexpr std::uint32_t kNoClass = 0xFFFFFFFFu;

struct File {
  std::uint8_t kind = 0;
  std::int32_t lines = 0;
  std::string name;
};

struct Class {
  std::uint8_t kind = 0;
  std::uint32_t parent = kNoClass;
  std::uint64_t start = 0;
  std::uint64_t begin = 0;  // extent
  std::uint64_t end = 0;
  std::string name;
};

struct Label {
  std::uint8_t kind = 0;
  std::uint32_t owner = kNoClass;
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

// Fills a record's reserved bytes and name slot with junk: the reader must
// never show them.
inline void pad_to(Bytes& out, std::size_t record_start, std::size_t offset) {
  while (out.size() < record_start + offset) out.push_back(0xA5);
}

template <typename Entry>
void put_names(Bytes& out, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    put(out, e.name);
    out.push_back(0);
  }
}

inline void put_files(Bytes& out, const std::vector<File>& files) {
  put(out, "[file]");
  put_le(out, files.size(), 4);
  for (const File& f : files) {
    const std::size_t at = out.size();
    out.push_back(f.kind);
    pad_to(out, at, 8);
    put_le(out, static_cast<std::uint32_t>(f.lines), 4);
    pad_to(out, at, 48);
  }
  put_names(out, files);
}

inline void put_classes(Bytes& out, const std::vector<Class>& classes) {
  put(out, "[class]");
  put_le(out, classes.size(), 4);
  for (const Class& c : classes) {
    const std::size_t at = out.size();
    out.push_back(c.kind);
    pad_to(out, at, 4);
    put_le(out, c.parent, 4);
    put_le(out, c.start, 8);
    put_le(out, c.begin, 8);
    pad_to(out, at, 32);
    put_le(out, c.end, 8);
    pad_to(out, at, 64);
  }
  put_names(out, classes);
}

inline void put_labels(Bytes& out, const std::vector<Label>& labels) {
  put(out, "[label]");
  put_le(out, labels.size(), 4);
  for (const Label& l : labels) {
    const std::size_t at = out.size();
    out.push_back(l.kind);
    pad_to(out, at, 4);
    put_le(out, l.owner, 4);
    pad_to(out, at, 24);
    put_le(out, l.value, 8);
    pad_to(out, at, 48);
  }
  put_names(out, labels);
}

// A whole file: magic, the non-empty sections, "[end]".
inline Bytes debug_file(const std::vector<File>& files, const std::vector<Class>& classes,
                        const std::vector<Label>& labels) {
  Bytes out;
  put(out, kMagic);
  if (!files.empty()) put_files(out, files);
  if (!classes.empty()) put_classes(out, classes);
  if (!labels.empty()) put_labels(out, labels);
  put(out, "[end]");
  return out;
}

}  // namespace dbg
