// The native engine logs: four line-aligned text files (undo action names,
// their data as comma text, weights, bitness modes) that let the engine undo
// its own changes during the run and in a later uninstall. Every change is
// recorded here before it is made; entries collect in memory and are
// appended to the files by FlushLogs.
#pragma once

#include "native/Bitness.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qv::native {

inline constexpr std::wstring_view kLogSuffixes[4] = {L".native.elements.log", L".native.data.log",
                                                      L".native.weight.log", L".native.bitness.log"};

// One entry of the logs, as the undo pass reads it back.
struct UndoEntry {
  std::wstring action;              // "Delete Registry", "Delete File", ...
  std::vector<std::wstring> data;   // the undo action's fields
  uint64_t weight = 0;
  Bitness bitness = Bitness::Win32;
};

// The undo entry a forward change records: undo action name and weight.
// Returns false for a change that records nothing.
bool UndoFor(std::wstring_view forwardChange, const std::vector<std::wstring>& data, std::wstring& undoAction,
             uint64_t& weight);

// A data line: the fields as comma text, with line breaks inside fields
// carried as "$NEWLINE$" so that every entry stays on one line of each file.
// Any line break (CR LF, a lone CR or a lone LF) is written as the token and
// reads back as CR LF.
std::wstring EncodeDataLine(const std::vector<std::wstring>& fields);
std::vector<std::wstring> DecodeDataLine(std::wstring_view line);

// The four file names of a prefix.
std::wstring LogFile(std::wstring_view prefix, size_t which);

// True when all four files exist. When they do not and `create` is set:
// none of them exists -> all four are created empty (the folder too) and
// the answer is true; only some exist -> false.
bool LogsPresent(std::wstring_view prefix, bool create);

// Reads the four files of a prefix into entries; throws qv::Error when they
// are not line-aligned or a weight is not a number.
std::vector<UndoEntry> ReadLogs(std::wstring_view prefix);

class NativeLogs {
public:
  // Logging switched off (NATIVE_LOGGING = "FALSE") records nothing.
  void SetEnabled(bool enabled);
  bool Enabled() const;

  // Appends the undo entry of a forward change to the pending lists.
  // Returns true when an entry was recorded.
  bool RecordUndo(std::wstring_view forwardChange, const std::vector<std::wstring>& data, Bitness mode);
  // Removes the last pending entry (the change it stood for failed for good).
  void DropLastUndo();

  // Appends the pending lines to the four files of `prefix` (folder and
  // files created when missing) and clears the pending lists. Returns the
  // folder it had to create, or the empty text.
  std::wstring FlushLogs(std::wstring_view prefix);

  size_t PendingCount() const;
  std::vector<UndoEntry> Pending() const;
  // Forgets the pending entries (a new run in the same process).
  void Clear();

private:
  mutable std::mutex lock_;
  bool enabled_ = true;
  std::vector<std::wstring> lines_[4];
};

}  // namespace qv::native
