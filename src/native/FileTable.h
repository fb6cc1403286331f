// The installation data index the builder writes into the script: the header
// list (statement index -> header, in pairs) and the file table (pairs; a
// pair "header, NEWHEADER" opens a header's block, the following pairs are
// "source path below the data folder, target subfolder").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv::native {

inline constexpr std::wstring_view kNewHeader = L"NEWHEADER";

struct DataFile {
  std::wstring source;     // relative to the data folder
  std::wstring companion;  // target subfolder (or the driver's setup library)
};

// The header of the statement at `index` (zero-based row), or empty.
std::wstring HeaderOf(const std::vector<std::wstring>& headers, size_t index);

// The files of a header's block, in table order.
std::vector<DataFile> FilesOf(const std::vector<std::wstring>& fileTable, std::wstring_view header);

}  // namespace qv::native
