// The delayed-install queue: every install statement run while
// DELAYUNTIL_APPLYCHANGES is true leaves one entry here (statement name,
// statement index, record line, bitness mode), and "Apply Changes" performs
// them in order. Beside the list the queue keeps the weight total that
// becomes the progress maximum of the delayed phase. Entries are never
// removed: each delayed phase walks the whole queue.
#pragma once

#include "native/Bitness.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::native {

struct QueueEntry {
  std::wstring name;
  size_t index = 0;  // zero-based statement row
  std::wstring record;
  Bitness bitness = Bitness::Win32;
};

// The progress weight an action of this kind adds when it is queued (file
// bearing kinds count their bytes while they run and add nothing here).
// "Copy/Move Local Files" is weighed by its files; see QueueWeight.
uint64_t KindWeight(std::wstring_view name);

// The weight of a record at queue time: KindWeight, except for
// "Copy/Move Local Files", which counts the bytes of its matching files now.
uint64_t QueueWeight(std::wstring_view name, std::wstring_view record);

class TNativeQueue {
public:
  void Append(QueueEntry entry);
  const std::vector<QueueEntry>& Entries() const { return entries_; }
  uint64_t WeightTotal() const { return weightTotal_; }

  // The stored list: four texts per entry (name, index, record, mode).
  std::vector<std::wstring> Items() const;

private:
  std::vector<QueueEntry> entries_;
  uint64_t weightTotal_ = 0;
};

}  // namespace qv::native
