#include "native/NativeLogs.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <utility>

namespace qv::native {

namespace {

constexpr std::wstring_view kNewline = L"$NEWLINE$";

struct UndoRow {
  std::wstring_view forward;
  std::wstring_view undo;
  uint64_t weight;
};

// Forward change -> the undo action recorded for it and its weight.
constexpr UndoRow kUndoRows[] = {
    {L"Write Registry", L"Delete Registry", 512},  // + 512 per key it adds
    {L"Create File", L"Delete File", 1024},
    {L"Register File", L"Unregister File", 102400},
    {L"Share File", L"Unshare File", 512},
    {L"Share Self Registering File", L"Unshare Self Registering File", 102912},
    {L"Install Assembly", L"Remove Assembly", 102400},
    {L"Create Service", L"Delete Service", 5120},
    {L"Install ODBC Driver", L"Delete ODBC Driver", 10240},
    {L"Set Environment", L"Delete Environment", 1024},
    {L"Edit INI File", L"Remove INI Entry", 10240},
    {L"Create INI File", L"Delete INI File", 1024},  // recorded before the "Edit INI File" that makes the file
    {L"Create ODBC DSN", L"Remove ODBC DSN", 5120},
    {L"Create Folder", L"Delete Folder", 1024},  // per folder
};

std::string Utf8Line(std::wstring_view line) { return WideToUtf8(line) + "\r\n"; }

void AppendToFile(const std::wstring& path, const std::vector<std::wstring>& lines) {
  UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError(L"Cannot open the native log " + path);
  std::string bytes;
  for (const std::wstring& line : lines) bytes += Utf8Line(line);
  DWORD written = 0;
  CheckWin32(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                 written == bytes.size(),
             L"Cannot write the native log " + path);
}

std::vector<std::wstring> FileLines(const std::wstring& path) {
  std::string bytes = ReadWholeFile(path);
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(Utf8ToWide(std::string_view(bytes).substr(start, end - start)));
  if (start < bytes.size()) lines.push_back(Utf8ToWide(std::string_view(bytes).substr(start)));
  return lines;
}

}  // namespace

bool UndoFor(std::wstring_view forwardChange, const std::vector<std::wstring>& data, std::wstring& undoAction,
             uint64_t& weight) {
  for (const UndoRow& row : kUndoRows) {
    if (row.forward != forwardChange) continue;
    undoAction = row.undo;
    weight = row.weight;
    if (forwardChange == L"Write Registry" && data.size() > 3) weight += 512 * (data.size() - 3);
    if (forwardChange == L"Create Folder") weight = 1024 * data.size();
    return true;
  }
  return false;
}

std::wstring EncodeDataLine(const std::vector<std::wstring>& fields) {
  const std::wstring text = ToCommaText(fields);
  std::wstring line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') {
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      line += kNewline;
    } else if (text[i] == L'\n') {
      line += kNewline;
    } else {
      line += text[i];
    }
  }
  return line;
}

std::vector<std::wstring> DecodeDataLine(std::wstring_view line) {
  std::vector<std::wstring> fields = FromCommaText(line);
  for (std::wstring& field : fields) field = ReplaceAllNoCase(field, kNewline, L"\r\n");
  return fields;
}

std::wstring LogFile(std::wstring_view prefix, size_t which) { return std::wstring(prefix) + std::wstring(kLogSuffixes[which]); }

bool LogsPresent(std::wstring_view prefix, bool create) {
  size_t present = 0;
  for (size_t i = 0; i < 4; ++i) present += FileExists(LogFile(prefix, i));
  if (present == 4) return true;
  if (!create || present != 0) return false;
  if (!CreateFolders(FolderOf(prefix))) return false;
  for (size_t i = 0; i < 4; ++i) {
    UniqueFile file(CreateFileW(LogFile(prefix, i).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
  }
  return true;
}

std::vector<UndoEntry> ReadLogs(std::wstring_view prefix) {
  std::vector<std::wstring> files[4];
  for (size_t i = 0; i < 4; ++i) files[i] = FileLines(LogFile(prefix, i));
  std::vector<UndoEntry> entries;
  for (size_t n = 0; n < files[0].size(); ++n) {
    for (size_t i = 1; i < 4; ++i)
      if (n >= files[i].size())
        throw Error(L"The native log " + LogFile(prefix, i) + L" ends before entry " + std::to_wstring(n + 1));
    const auto weight = ParseInt64(files[2][n]);
    if (!weight || *weight < 0) throw Error(L"The native log weight \"" + files[2][n] + L"\" is not a number");
    entries.push_back({files[0][n], DecodeDataLine(files[1][n]), static_cast<uint64_t>(*weight),
                       ParseBitness(files[3][n])});
  }
  return entries;
}

void NativeLogs::SetEnabled(bool enabled) {
  std::lock_guard guard(lock_);
  enabled_ = enabled;
}

bool NativeLogs::Enabled() const {
  std::lock_guard guard(lock_);
  return enabled_;
}

bool NativeLogs::RecordUndo(std::wstring_view forwardChange, const std::vector<std::wstring>& data, Bitness mode) {
  std::wstring undo;
  uint64_t weight = 0;
  std::lock_guard guard(lock_);
  if (!enabled_ || !UndoFor(forwardChange, data, undo, weight)) return false;
  lines_[0].push_back(std::move(undo));
  lines_[1].push_back(EncodeDataLine(data));
  lines_[2].push_back(std::to_wstring(weight));
  lines_[3].emplace_back(BitnessText(mode));
  return true;
}

void NativeLogs::DropLastUndo() {
  std::lock_guard guard(lock_);
  if (!enabled_ || lines_[0].empty()) return;
  for (auto& list : lines_) list.pop_back();
}

std::wstring NativeLogs::FlushLogs(std::wstring_view prefix) {
  std::lock_guard guard(lock_);
  std::wstring created;
  if (lines_[0].empty()) return created;
  const std::wstring folder = FolderOf(prefix);
  if (!folder.empty() && !FolderExists(folder)) {
    if (!CreateFolders(folder)) ThrowLastError(L"Cannot create the native log folder " + folder);
    created = folder;
  }
  // All four files are appended before any list is cleared, so a failure
  // leaves the entries pending rather than half-written in memory.
  for (size_t i = 0; i < 4; ++i) AppendToFile(LogFile(prefix, i), lines_[i]);
  for (auto& list : lines_) list.clear();
  return created;
}

size_t NativeLogs::PendingCount() const {
  std::lock_guard guard(lock_);
  return lines_[0].size();
}

std::vector<UndoEntry> NativeLogs::Pending() const {
  std::lock_guard guard(lock_);
  std::vector<UndoEntry> entries;
  for (size_t n = 0; n < lines_[0].size(); ++n)
    entries.push_back({lines_[0][n], DecodeDataLine(lines_[1][n]), static_cast<uint64_t>(*ParseInt64(lines_[2][n])),
                       ParseBitness(lines_[3][n])});
  return entries;
}

void NativeLogs::Clear() {
  std::lock_guard guard(lock_);
  for (auto& list : lines_) list.clear();
}

}  // namespace qv::native
