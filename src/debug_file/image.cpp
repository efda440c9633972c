#include "debug_file/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "debug_file/format.h"

namespace marvix {

namespace {

// Room for a file of `file_size` bytes plus its zero tail: whole blocks, one
// more than the file fills.
std::size_t image_size_for(std::size_t file_size) { return (file_size / kBlockSize + 1) * kBlockSize; }

// Moves the bytes read so far into a mapping of the largest image, for a
// regular file that grows while it is read.
bool grow_to_max(DebugImage& image, std::size_t used) {
  DebugImage bigger;
  if (!allocate_block(bigger.memory, kMaxImageSize)) return false;
  std::memcpy(bigger.data(), image.data(), used);
  image = std::move(bigger);
  return true;
}

LoadStatus finish(DebugImage& image, std::size_t file_size) {
  // A file that fills the 65535th block would need a 65536th: the block
  // count cannot hold it.
  if (file_size > kMaxFileSize) return LoadStatus::out_of_memory;
  image.file_size = file_size;
  image.blocks = static_cast<std::uint16_t>(file_size / kBlockSize + 1);
  return LoadStatus::ok;
}

}  // namespace

LoadStatus load_image(int fd, DebugImage& image) {
  image = DebugImage{};
  // A regular file is sized once from fstat; anything else (a pipe, a
  // device, or a file that grows while it is read) may need the largest
  // image.
  std::size_t capacity = kMaxImageSize;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<std::uint64_t>(st.st_size) <= kMaxFileSize) {
    capacity = image_size_for(static_cast<std::size_t>(st.st_size));
  }
  if (!allocate_block(image.memory, capacity)) return LoadStatus::out_of_memory;
#ifdef F_SETPIPE_SZ
  // A pipe holds 64 KiB: a million-row file would take a thousand reads,
  // each a switch to the writer and back. Ask for a larger one; refusal is
  // harmless.
  if (S_ISFIFO(st.st_mode)) fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#endif

  // Read until end of file. Filling the largest image means the file has at
  // least 65535 blocks of bytes and cannot load: stop there rather than read
  // an endless device to its end.
  std::size_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (capacity == kMaxImageSize) return LoadStatus::out_of_memory;
      if (!grow_to_max(image, used)) return LoadStatus::out_of_memory;
      capacity = kMaxImageSize;
    }
    const ssize_t got = read(fd, image.data() + used, capacity - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      return LoadStatus::read_error;
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  return finish(image, used);
}

LoadStatus image_from_bytes(std::span<const std::uint8_t> bytes, DebugImage& image) {
  image = DebugImage{};
  if (bytes.size() > kMaxFileSize) return LoadStatus::out_of_memory;
  if (!allocate_block(image.memory, image_size_for(bytes.size()))) return LoadStatus::out_of_memory;
  if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
  return finish(image, bytes.size());
}

bool check_magic(const DebugImage& image) {
  // The image is never shorter than one block, and its zero tail cannot
  // match the magic, which holds no NUL.
  return image.size() >= kMagic.size() && std::memcmp(image.data(), kMagic.data(), kMagic.size()) == 0;
}

const std::uint8_t* DebugTables::file_record(std::uint32_t i) const {
  return image + files.records + std::size_t{i} * kFileRecordSize;
}
const std::uint8_t* DebugTables::class_record(std::uint32_t i) const {
  return image + classes.records + std::size_t{i} * kClassRecordSize;
}
const std::uint8_t* DebugTables::label_record(std::uint32_t i) const {
  return image + labels.records + std::size_t{i} * kLabelRecordSize;
}

namespace {

struct SectionKind {
  std::string_view tag;
  std::size_t record_size;
  std::size_t name_slot;
};

constexpr SectionKind kFileSection{kTagFile, kFileRecordSize, FileEntry::kNameSlot};
constexpr SectionKind kClassSection{kTagClass, kClassRecordSize, ClassEntry::kNameSlot};
constexpr SectionKind kLabelSection{kTagLabel, kLabelRecordSize, LabelEntry::kNameSlot};

// Tags are compared against the whole image; since the tail is zero and no
// tag holds a NUL, a tag can only match on the file's own bytes.
bool tag_at(const DebugImage& image, std::size_t cursor, std::string_view tag) {
  return tag.size() <= image.size() - cursor &&
         std::memcmp(image.data() + cursor, tag.data(), tag.size()) == 0;
}

// Reads one section at `cursor` (on its tag) and leaves the cursor on the
// byte after its last name. Every length is checked against what remains of
// the file by subtraction, so a hostile count cannot overflow the check.
bool read_section(DebugImage& image, std::size_t& cursor, const SectionKind& kind, SectionTable& table) {
  const std::size_t end = image.file_size;
  std::size_t pos = cursor + kind.tag.size();
  if (pos > end || 4 > end - pos) return false;
  const std::uint32_t count = read_u32le(image.data() + pos);
  pos += 4;
  const std::size_t records = pos;
  const std::uint64_t record_bytes = std::uint64_t{count} * kind.record_size;
  if (record_bytes > end - pos) return false;
  pos += static_cast<std::size_t>(record_bytes);

  for (std::uint32_t i = 0; i < count; ++i) {
    const void* nul = std::memchr(image.data() + pos, 0, end - pos);
    if (nul == nullptr) return false;
    // Offsets fit 32 bits: the image is at most 65535 blocks.
    write_u32le(image.data() + records + std::size_t{i} * kind.record_size + kind.name_slot,
                static_cast<std::uint32_t>(pos));
    pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - image.data()) + 1;
  }
  table.count = count;
  table.records = records;
  cursor = pos;
  return true;
}

}  // namespace

ScanResult scan_sections(DebugImage& image, DebugTables& tables) {
  tables = DebugTables{};
  tables.image = image.data();
  std::size_t cursor = kMagic.size();
  // A section is read only while its table is still empty: a second
  // non-empty "[label]" is an undefined entry, but an empty section may be
  // followed by one of the same kind that replaces it.
  while (cursor < image.size()) {
    SectionTable* table = nullptr;
    const SectionKind* kind = nullptr;
    if (tables.files.count == 0 && tag_at(image, cursor, kTagFile)) {
      table = &tables.files;
      kind = &kFileSection;
    } else if (tables.classes.count == 0 && tag_at(image, cursor, kTagClass)) {
      table = &tables.classes;
      kind = &kClassSection;
    } else if (tables.labels.count == 0 && tag_at(image, cursor, kTagLabel)) {
      table = &tables.labels;
      kind = &kLabelSection;
    } else if (tag_at(image, cursor, kTagEnd)) {
      return {ScanStatus::ok, cursor};
    } else {
      return {ScanStatus::undefined_entry, cursor};
    }
    if (!read_section(image, cursor, *kind, *table)) return {ScanStatus::unexpected_end, cursor};
  }
  // Not reached: the cursor never leaves the file's own bytes, and the byte
  // after them (in the zero tail) matches no tag.
  return {ScanStatus::undefined_entry, image.file_size};
}

const char* text_at(const DebugImage& image, std::size_t cursor) {
  return reinterpret_cast<const char*>(image.data() + cursor);
}

}  // namespace marvix
