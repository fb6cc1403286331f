// The compilation pass: checks block structure and the parameters that
// statements cannot do without, before the first statement runs.
#pragma once

#include "script/Script.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

class Variables;

struct CompileResult {
  static constexpr int64_t kPassed = -1;
  static constexpr int64_t kNoRow = 2147483644;  // an unbalanced count
  int64_t result = kPassed;                      // the offending zero-based row
  std::wstring message = L"Script compiled successfully";
  // One per statement, read when install statements queue their actions:
  // "FALSE" for an install statement, "SKIP" for every other.
  std::vector<std::wstring> installFlags;
  bool Passed() const { return result == kPassed; }
};

// Uses `symbols` as its symbol table (emptied first); the caller empties it again.
CompileResult CompileScript(const Script& script, Variables& symbols);

}  // namespace qv
