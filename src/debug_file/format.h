// The tolvane debug file (".dbg"), as far as marvix reads it.
//
//   offset 0   magic, 22 bytes: "[tolvane|dbg|v1.00]" CR LF ESC (no NUL after it)
//   then       sections, in any order, each:
//                tag     "[file]" (6 bytes), "[class]" (7) or "[label]" (7), no terminator
//                count   u32
//                records count x fixed size: file 48, class 64, label 48 bytes
//                names   count NUL-terminated strings; the i-th belongs to record i
//              the next tag follows the last name's NUL directly
//   last       "[end]" (5 bytes); anything after it is never read
//
// All integers are little-endian and nothing is aligned: a section starts
// wherever the names before it happen to end. Every field is therefore read
// byte-wise from an arbitrary offset by the readers below, never through a
// pointer cast into the buffer.
//
// Record layouts (offsets in bytes; unlisted bytes are reserved):
//
//   FileEntry  (48)  0 kind  u8   bits 0-5 FileKind, bit 6 = name shown in parentheses
//                    8 lines i32
//                   24 name  u32  name slot
//   ClassEntry (64)  0 kind  u8   bits 0-6 ClassKind
//                    4 parent u32 index in the class section, NO_CLASS for none
//                    8 start u64
//                   16 extent begin u64
//                   32 extent end u64  (size = end - begin, modulo 2^64)
//                   48 name  u32  name slot
//   LabelEntry (48)  0 kind  u8   bits 0-5 LabelKind
//                    4 class u32  owning class index, NO_CLASS for none
//                    8 name  u32  name slot
//                   24 value u64
//
// The name slot's contents in the file mean nothing. The scanner overwrites it
// with the offset of the record's name inside the loaded image, so a record
// finds its name without any table of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace marvix {

inline constexpr std::string_view kMagic{"[tolvane|dbg|v1.00]\r\n\x1b", 22};
inline constexpr std::string_view kTagFile{"[file]"};
inline constexpr std::string_view kTagClass{"[class]"};
inline constexpr std::string_view kTagLabel{"[label]"};
inline constexpr std::string_view kTagEnd{"[end]"};

inline constexpr std::uint32_t NO_CLASS = 0xFFFFFFFFu;

// Little-endian access to unaligned bytes.
inline std::uint32_t read_u32le(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline std::uint64_t read_u64le(const std::uint8_t* p) {
  return std::uint64_t{read_u32le(p)} | std::uint64_t{read_u32le(p + 4)} << 32;
}
inline void write_u32le(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Views over one record's first byte. They hold no data; the image owns it.
// The offsets are the record layouts above, declared once: the readers here
// and the test builder both use them.
struct FileEntry {
  static constexpr std::size_t kSize = 48;
  static constexpr std::size_t kKind = 0;       // u8
  static constexpr std::size_t kLines = 8;      // i32
  static constexpr std::size_t kNameSlot = 24;  // u32

  const std::uint8_t* p;
  std::uint8_t kind() const { return p[kKind]; }
  bool parenthesised() const { return (p[kKind] & 0x40) != 0; }
  std::int32_t lines() const { return static_cast<std::int32_t>(read_u32le(p + kLines)); }
  std::uint32_t name_slot() const { return read_u32le(p + kNameSlot); }
};

struct ClassEntry {
  static constexpr std::size_t kSize = 64;
  static constexpr std::size_t kKind = 0;          // u8
  static constexpr std::size_t kParent = 4;        // u32
  static constexpr std::size_t kStart = 8;         // u64
  static constexpr std::size_t kExtentBegin = 16;  // u64
  static constexpr std::size_t kExtentEnd = 32;    // u64
  static constexpr std::size_t kNameSlot = 48;     // u32

  const std::uint8_t* p;
  std::uint8_t kind() const { return p[kKind]; }
  std::uint32_t parent() const { return read_u32le(p + kParent); }
  std::uint64_t start() const { return read_u64le(p + kStart); }
  std::uint64_t extent_begin() const { return read_u64le(p + kExtentBegin); }
  std::uint64_t extent_end() const { return read_u64le(p + kExtentEnd); }
  std::uint64_t size() const { return extent_end() - extent_begin(); }
  std::uint32_t name_slot() const { return read_u32le(p + kNameSlot); }
};

struct LabelEntry {
  static constexpr std::size_t kSize = 48;
  static constexpr std::size_t kKind = 0;      // u8
  static constexpr std::size_t kClass = 4;     // u32
  static constexpr std::size_t kNameSlot = 8;  // u32
  static constexpr std::size_t kValue = 24;    // u64

  const std::uint8_t* p;
  std::uint8_t kind() const { return p[kKind]; }
  std::uint32_t class_index() const { return read_u32le(p + kClass); }
  std::uint32_t name_slot() const { return read_u32le(p + kNameSlot); }
  std::uint64_t value() const { return read_u64le(p + kValue); }
};

// The last field of each record lies inside it.
static_assert(FileEntry::kNameSlot + 4 <= FileEntry::kSize && ClassEntry::kNameSlot + 4 <= ClassEntry::kSize);
static_assert(LabelEntry::kValue + 8 <= LabelEntry::kSize);

// A kind table: the kind byte is masked, and any code past the table's end
// shows as "(undefined)" (distinct from the label kind "UNDEFINED").
struct KindTable {
  const std::string_view* names;
  std::size_t count;
  std::uint8_t mask;
};

extern const KindTable kFileKinds;
extern const KindTable kClassKinds;
extern const KindTable kLabelKinds;

std::string_view kind_name(const KindTable& table, std::uint8_t kind_byte);

}  // namespace marvix
