// The three listings: file, class and label entries, as tables on standard
// output.
#pragma once

#include "debug_file/scanner.h"
#include "listing/class_path.h"
#include "listing/output.h"
#include "listing/pager.h"

namespace marvix {

// Run-wide state of the listing: where it goes, the pager and the path cache.
struct Listing {
  Output out;
  Pager pager;
  ClassPaths paths;
};

// Allocates the output buffer, of `buffer_size` bytes, and sets the class
// paths up for the tables. False when the memory cannot be had.
bool prepare_listing(Listing& listing, const DebugTables& tables, std::size_t buffer_size);

void list_files(Listing& listing, const DebugTables& tables);
void list_classes(Listing& listing, const DebugTables& tables);
void list_labels(Listing& listing, const DebugTables& tables);

}  // namespace marvix
