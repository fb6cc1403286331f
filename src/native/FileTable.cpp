#include "native/FileTable.h"

#include "common/Text.h"

namespace qv::native {

std::wstring HeaderOf(const std::vector<std::wstring>& headers, size_t index) {
  const std::wstring key = std::to_wstring(index);
  for (size_t i = 0; i + 1 < headers.size(); i += 2)
    if (headers[i] == key) return headers[i + 1];
  return {};
}

std::vector<DataFile> FilesOf(const std::vector<std::wstring>& fileTable, std::wstring_view header) {
  std::vector<DataFile> files;
  bool inside = false;
  for (size_t i = 0; i + 1 < fileTable.size(); i += 2) {
    if (fileTable[i + 1] == kNewHeader) {
      if (inside) break;
      inside = EqualsNoCase(fileTable[i], header);
      continue;
    }
    if (inside) files.push_back({fileTable[i], fileTable[i + 1]});
  }
  return files;
}

}  // namespace qv::native
