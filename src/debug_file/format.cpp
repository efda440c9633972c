#include "debug_file/format.h"

#include <iterator>

namespace marvix {
namespace {

constexpr std::string_view kFileKindNames[] = {"DEFAULT", "BINOUT", "INCLUDE", "MACRO", "IFELSE"};
constexpr std::string_view kClassKindNames[] = {"SEGMENT", "PROC", "TABLE"};
constexpr std::string_view kLabelKindNames[] = {
    "UNDEFINED", "CODE", "DB", "DH", "DW", "DD", "DQ", "PC", "PC_FOFS", "REGISTER", "DEFINE", "PREDEFINE"};

}  // namespace

const KindTable kFileKinds{kFileKindNames, std::size(kFileKindNames), 0x3F};
const KindTable kClassKinds{kClassKindNames, std::size(kClassKindNames), 0x7F};
const KindTable kLabelKinds{kLabelKindNames, std::size(kLabelKindNames), 0x3F};

std::string_view kind_name(const KindTable& table, std::uint8_t kind_byte) {
  const unsigned code = kind_byte & table.mask;
  return code < table.count ? table.names[code] : std::string_view{"(undefined)"};
}

}  // namespace marvix
