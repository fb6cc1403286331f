#include "native/Queue.h"

#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <utility>

namespace qv::native {

namespace {

// Weights by kind; the bigger a kind's usual effort, the bigger its share.
constexpr std::pair<std::wstring_view, uint64_t> kWeights[] = {
    {L"Write Registry", 512},
    {L"Create Folder", 1024},
    {L"Set Environment", 1024},
    {L"Create File Type", 5120},
    {L"Create ODBC DSN", 5120},
    {L"Configure Service", 10240},
    {L"Create Shortcut", 10240},
    {L"Edit INI File", 10240},
    {L"Configure Service Failure", 25600},
    {L"Delete Files", 102400},
    {L"Control Service", 2097152},
};

uint64_t MatchingBytes(const std::wstring& folder, const std::wstring& mask, bool recurse) {
  uint64_t total = 0;
  WIN32_FIND_DATAW data;
  if (UniqueFind find(FindFirstFileW((folder + mask).c_str(), &data)); find) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        total += (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    } while (FindNextFileW(find.get(), &data));
  }
  if (!recurse) return total;
  if (UniqueFind find(FindFirstFileW((folder + L"*").c_str(), &data)); find) {
    do {
      const std::wstring name = data.cFileName;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          name != L"." && name != L"..")
        total += MatchingBytes(folder + name + L"\\", mask, true);
    } while (FindNextFileW(find.get(), &data));
  }
  return total;
}

}  // namespace

uint64_t KindWeight(std::wstring_view name) {
  for (const auto& [kind, weight] : kWeights)
    if (kind == name) return weight;
  return 0;
}

uint64_t QueueWeight(std::wstring_view name, std::wstring_view record) {
  if (name != L"Copy/Move Local Files") return KindWeight(name);
  const auto fields = FromCommaText(record);
  if (fields.size() < 5) return 0;
  std::wstring folder = fields[0];
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return MatchingBytes(folder, fields[1], IsTrueFlag(fields[4]));
}

void TNativeQueue::Append(QueueEntry entry) {
  weightTotal_ += QueueWeight(entry.name, entry.record);
  entries_.push_back(std::move(entry));
}

std::vector<std::wstring> TNativeQueue::Items() const {
  std::vector<std::wstring> items;
  for (const QueueEntry& e : entries_) {
    items.push_back(e.name);
    items.push_back(std::to_wstring(e.index));
    items.push_back(e.record);
    items.emplace_back(BitnessText(e.bitness));
  }
  return items;
}

}  // namespace qv::native
