// Makes debug files for the project:
//   make_dbg demo OUT         the small sample shipped as examples/demo.dbg
//   make_dbg paging OUT       the sample for trying -p, examples/paging.dbg:
//                             69 lines of listing, three pauses
//   make_dbg bench OUT [N]    a large well-formed file for benchmarks, just under
//                             the size limit, or about 1/N of it
//   make_dbg varied OUT       the same size, its labels 5 to 30 classes deep
//   make_dbg corpus DIR       the fuzzing seeds: one file of each section kind,
//                             the damaged shapes the tests cover, and the sample
// Output is deterministic: the same command always writes the same bytes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "dbg_builder.h"
#include "debug_file/image.h"

namespace {

dbg::Bytes demo() {
  using dbg::NO_CLASS;
  return dbg::debug_file(
      {
          {0x00, 120, "boot.asm"},
          {0x42, 35, "defs.inc"},
          {0x43, 12, "macros.inc"},
      },
      {
          {0x00, NO_CLASS, 0x8000, 0x100, 0x1100, "text"},
          {0x01, 0, 0x8010, 0x110, 0x140, "init"},
          {0x01, 0, 0x8040, 0x140, 0x1a0, "irq"},
          {0x02, 2, 0x8080, 0x180, 0x1a0, "vectors"},
          {0x00, NO_CLASS, 0xc000, 0x1100, 0x1300, "data"},
      },
      {
          {1, 1, 0x8010, "entry"},
          {1, 1, 0x8018, "loop"},
          {1, 2, 0x8040, "handler"},
          {4, 3, 0x8080, "reset"},
          {2, 4, 0xc000, "buffer"},
          {4, NO_CLASS, 0, "total"},
          {10, NO_CLASS, 0xfffe, "STACK_TOP"},
      });
}

// A small program's debug file, as an assembler would write it (reserved
// bytes zero): 10 file entries, 15 classes and 35 labels, 69 lines of
// listing, so that -p pauses three times, the last time after the closing
// line. It shows every file kind, and paths cut short by a parent outside
// the class table. Its unknown kinds are the highest codes (0x3F for files
// and labels, 0x7F for classes), so that a kind added as the next free code
// leaves the sample's listing as it is.
dbg::Bytes paging() {
  using dbg::NO_CLASS;
  const std::vector<dbg::File> files = {
      {0x00, 412, "main.asm"},  {0x01, 0, "main.bin"},  {0x42, 88, "hardware.inc"}, {0x42, 40, "macros.inc"},
      {0x43, 16, "print_str"},  {0x44, 2, "DEBUG"},     {0x42, 120, "font.inc"},    {0x00, 230, "sound.asm"},
      {0x00, 175, "video.asm"}, {0x3F, 9, "patch.asm"},
  };
  const std::vector<dbg::Class> classes = {
      {0x00, NO_CLASS, 0x0100, 0x0000, 0x1400, "code"},  // 0
      {0x01, 0, 0x0100, 0x0000, 0x0040, "start"},        // 1
      {0x01, 0, 0x0140, 0x0040, 0x0180, "main_loop"},    // 2
      {0x01, 2, 0x0160, 0x0060, 0x0090, "poll_keys"},    // 3
      {0x01, 0, 0x0280, 0x0180, 0x0300, "print_str"},    // 4
      {0x01, 0, 0x0400, 0x0300, 0x0700, "sound"},        // 5
      {0x02, 5, 0x0600, 0x0500, 0x0580, "notes"},        // 6
      {0x01, 0, 0x0800, 0x0700, 0x0c00, "video"},        // 7
      {0x01, 7, 0x0900, 0x0800, 0x0880, "clear"},        // 8
      {0x02, 7, 0x0a00, 0x0900, 0x0b00, "palette"},      // 9
      {0x00, NO_CLASS, 0x2000, 0x1400, 0x1c00, "data"},  // 10
      {0x02, 10, 0x2000, 0x1400, 0x1800, "font"},        // 11
      {0x02, 10, 0x2400, 0x1800, 0x1840, "messages"},    // 12
      {0x00, NO_CLASS, 0x3000, 0x1c00, 0x2400, "bss"},   // 13
      {0x7F, 20, 0x3800, 0x2400, 0x2410, "overlay"},     // 14: unknown kind, parent outside the table
  };
  const std::vector<dbg::Label> labels = {
      {1, 1, 0x0100, "entry"},
      {1, 1, 0x0110, "init_stack"},
      {1, 2, 0x0140, "loop"},
      {1, 3, 0x0160, "read_port"},
      {1, 3, 0x0178, "no_key"},
      {1, 2, 0x01a0, "next_frame"},
      {1, 4, 0x0280, "next_char"},
      {1, 4, 0x02c0, "done"},
      {1, 5, 0x0400, "play"},
      {1, 5, 0x0450, "stop"},
      {2, 6, 0x0600, "note_c"},
      {2, 6, 0x0608, "note_d"},
      {2, 6, 0x0610, "note_e"},
      {1, 8, 0x0900, "clear_row"},
      {4, 9, 0x0a00, "black"},
      {4, 9, 0x0a02, "white"},
      {2, 11, 0x2000, "glyphs"},
      {2, 12, 0x2400, "msg_hello"},
      {2, 12, 0x2410, "msg_bye"},
      {5, 13, 0x3000, "frame_count"},
      {4, 13, 0x3004, "key_state"},
      {6, 13, 0x3008, "timer"},
      {3, 13, 0x3010, "cursor_x"},
      {3, 13, 0x3011, "cursor_y"},
      {7, NO_CLASS, 0x0100, "ORG"},
      {8, 0, 0x0100, "code_start"},
      {9, NO_CLASS, 0, "SP"},
      {10, NO_CLASS, 40, "COLUMNS"},
      {10, NO_CLASS, 25, "ROWS"},
      {11, NO_CLASS, 1, "__TOLVANE__"},
      {0, NO_CLASS, 0, "missing_ref"},
      {0x3F, 14, 0x3800, "patch_hook"},
      {1, 14, 0x3808, "patch_ret"},
      {1, 30, 0x3900, "stray"},
      {10, NO_CLASS, 0xfffe, "STACK_TOP"},
  };
  return dbg::debug_file(files, classes, labels, 0x00);
}

// A few hundred file entries, 4000 classes in 80 chains of 50, and labels to
// fill the rest up to `limit` bytes, most of them `shallowest` to
// `deepest` classes deep, so that each row carries a long class path. With
// a divisor every part shrinks alike.
dbg::Bytes bench(unsigned divisor, std::size_t limit, std::uint32_t shallowest = 30,
                 std::uint32_t deepest = 49) {
  const std::uint32_t chains = std::max(80u / divisor, 1u);
  const std::uint32_t class_count = chains * 50;
  std::vector<dbg::File> files;
  for (unsigned i = 0; i < 300 / divisor; ++i) {
    files.push_back({static_cast<std::uint8_t>(i % 7 == 0 ? 0x42 : i % 5),
                     static_cast<std::int32_t>(i * 37) - 100, "src/module" + std::to_string(i) + ".asm"});
  }
  std::vector<dbg::Class> classes;
  for (std::uint32_t i = 0; i < class_count; ++i) {
    const std::uint32_t parent = i % 50 == 0 ? dbg::NO_CLASS : i - 1;
    const std::uint64_t base = 0x10000ull * i;
    char name[16];
    std::snprintf(name, sizeof name, "cls%04u", i);
    classes.push_back({static_cast<std::uint8_t>(i % 3), parent, base, base, base + 64 * (i % 97), name});
  }
  dbg::Bytes out;
  dbg::put(out, dbg::kMagic);
  dbg::put_files(out, files);
  dbg::put_classes(out, classes);

  std::vector<dbg::Label> labels;
  std::size_t size = out.size() + 7 + 4 + 5;  // the label tag, its count, "[end]"
  std::uint32_t seed = 12345;
  for (std::uint32_t j = 0;; ++j) {
    seed = seed * 1664525u + 1013904223u;
    std::uint32_t owner = (seed >> 8) % chains * 50 + shallowest + (seed >> 20) % (deepest - shallowest + 1);
    if (j % 10 == 9) owner = j % 20 == 19 ? dbg::NO_CLASS : (seed >> 4) % class_count;
    char name[24];
    std::snprintf(name, sizeof name, "lbl_%08x_%s", j, j % 2 ? "lp" : "end");
    const std::size_t length = std::strlen(name);
    if (size + 48 + length + 1 > limit) break;
    size += 48 + length + 1;
    labels.push_back({static_cast<std::uint8_t>(seed % 13), owner, 0x400000ull + 4ull * j, name});
  }
  dbg::put_labels(out, labels);
  dbg::put(out, "[end]");
  return out;
}

dbg::Bytes text(std::string_view bytes) { return dbg::Bytes(bytes.begin(), bytes.end()); }

dbg::Bytes concat(std::initializer_list<dbg::Bytes> parts) {
  dbg::Bytes out;
  for (const dbg::Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

template <typename Entries, typename Put>
dbg::Bytes section(const Entries& entries, Put put) {
  dbg::Bytes out;
  put(out, entries, dbg::kJunk);
  return out;
}

struct Seed {
  const char* name;
  dbg::Bytes bytes;
};

std::vector<Seed> corpus() {
  using dbg::NO_CLASS;
  const dbg::Bytes magic = text(dbg::kMagic);
  const dbg::Bytes end = text(marvix::kTagEnd);
  const auto files = [](const std::vector<dbg::File>& f) { return section(f, dbg::put_files); };
  const auto classes = [](const std::vector<dbg::Class>& c) { return section(c, dbg::put_classes); };
  const auto labels = [](const std::vector<dbg::Label>& l) { return section(l, dbg::put_labels); };
  // Cut two bytes into its last name.
  const dbg::Bytes whole = concat({magic, labels({{1, NO_CLASS, 0, "abc"}, {1, NO_CLASS, 0, "def"}})});
  const dbg::Bytes cut_name(whole.begin(), whole.end() - 2);
  return {
      {"empty", {}},
      {"magic_only", magic},
      {"magic_end", concat({magic, end})},
      {"files", concat({magic, files({{0, 1, "a.asm"}, {0x42, -1, "b.inc"}, {0x85, 7, ""}}), end})},
      {"classes", concat({magic,
                          classes({{0, NO_CLASS, 0x8000, 0, 0x100, "text"},
                                   {1, 0, 0x8010, 0x10, 0x20, "init"},
                                   {0x83, 5, 0, 16, 8, "odd"}}),
                          end})},
      {"classes_loop",
       concat({magic, classes({{0, 1, 0, 0, 0, "A"}, {0, 0, 0, 0, 0, "B"}}), labels({{1, 0, 1, "L"}}), end})},
      {"labels",
       concat(
           {magic, labels({{1, NO_CLASS, 0, "x"}, {0xC8, 3, 4096, "y"}, {12, NO_CLASS, ~0ull, ""}}), end})},
      {"repeated", concat({magic, labels({{1, NO_CLASS, 0, "x"}}), labels({{1, NO_CLASS, 0, "y"}}), end})},
      {"empty_then_full", concat({magic, files({}), files({{0, 1, "f"}}), end})},
      {"no_end", concat({magic, files({{0, 1, "f"}})})},
      {"cut_name", cut_name},
      {"huge_count", concat({magic, text("[label]\xff\xff\xff\xff"), end})},
      {"wrong_case", concat({magic, text({"[File]\0\0\0\0", 10}), end})},
      {"wrong_version", text("[tolvane|dbg|v1.01]\r\n\x1b[end]")},
      {"demo", demo()},
  };
}

bool write_file(const std::string& path, const dbg::Bytes& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  const bool ok = out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out != nullptr && std::fclose(out) != 0) return false;
  if (!ok) std::perror(path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc >= 2 ? argv[1] : "";
  if (argc == 3 && mode == "corpus") {
    for (const Seed& seed : corpus()) {
      if (!write_file(std::string(argv[2]) + "/" + seed.name + ".dbg", seed.bytes)) return 1;
    }
    return 0;
  }
  const bool is_demo = argc == 3 && mode == "demo";
  if (argc == 3 && mode == "paging") return write_file(argv[2], paging()) ? 0 : 1;
  if (argc == 3 && mode == "varied")
    return write_file(argv[2], bench(1, marvix::kMaxFileSize, 5, 30)) ? 0 : 1;
  const bool is_bench = (argc == 3 || argc == 4) && mode == "bench";
  if (!is_demo && !is_bench) {
    std::fprintf(stderr,
                 "usage: make_dbg demo OUT | make_dbg paging OUT | make_dbg bench OUT [DIVISOR] | "
                 "make_dbg varied OUT | make_dbg corpus DIR\n");
    return 2;
  }
  const unsigned divisor = argc >= 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 1;
  if (divisor == 0) {
    std::fprintf(stderr, "make_dbg: DIVISOR must be a positive number\n");
    return 2;
  }
  return write_file(argv[2], is_demo ? demo() : bench(divisor, marvix::kMaxFileSize / divisor)) ? 0 : 1;
}
