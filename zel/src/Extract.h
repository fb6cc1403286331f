// Extraction and testing of 7z archives.
#pragma once

#include "Operation.h"

#include <unordered_map>
#include <vector>

namespace zel {

struct ExtractRequest {
  std::wstring archive;             // absolute
  std::wstring destination;         // absolute; unused when testing
  std::vector<std::wstring> items;  // item paths or patterns to extract; empty: all
  bool flat = false;                // drop folders (ZEL_EXTRACT_FLAT)
  bool test = false;                // decode and check only, write nothing
  ZEL_OVERWRITE_CALLBACK overwrite = nullptr;
};

// Extracts (or tests) the archive; throws Failure.
//
// Before anything is written, every item path of the archive is checked with
// IsSafeItemPath; one unsafe path refuses the whole archive
// (ZEL_E_UNSAFE_PATH). Files are written through "\\?\" paths. A file whose
// data turns out bad is deleted and the extraction stops at that item.
void Extract(const ExtractRequest& request, PasswordSource& password, Reporter& reporter);

// Which archive items a set of item paths or patterns names: an item is
// selected by an equal path (case ignored), by a folder above it, or by a
// '*'/'?' pattern matching its whole path. An empty set selects everything.
class ItemSelection {
public:
  explicit ItemSelection(const std::vector<std::wstring>& patterns);
  bool all() const { return all_; }
  bool Select(const std::wstring& normalizedPath);
  // False when some pattern selected nothing so far.
  bool AllPatternsUsed() const;

private:
  bool all_;
  std::unordered_map<std::wstring, bool> exact_;  // folded path -> used
  std::vector<std::pair<std::wstring, bool>> wildcard_;
};

}  // namespace zel
