// Action records: the flat list of already expanded texts that describes the
// change one install statement asks for, built when the statement runs and
// performed later (or at once) by the executor. Building a record touches
// nothing on the machine, so records can be checked as plain data.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::native {

// What a record is built from: the statement's parameters as stored, the two
// expansions, and the run state read at statement time.
struct RecordSource {
  std::function<std::wstring(size_t k)> raw;                   // parameter k as stored (k >= 1)
  std::function<std::wstring(std::wstring_view)> expand;       // variable expansion
  std::function<std::wstring(std::wstring_view)> expandPath;   // expansion, doubled backslashes collapsed
  std::function<std::wstring(std::wstring_view)> translate;    // statement texts in the active language
  bool allUsers = false;  // ALLUSERS when the statement runs: resolves registry root code 4
  std::wstring header;    // the statement's key in the file table ("Install ..." kinds)
};

// The three commands that travel the same channel as install statements and
// carry an empty record.
bool IsPhaseCommand(std::wstring_view name);

// True for the statements that become action records in native mode.
bool IsInstallStatement(std::wstring_view name);

// True for the statements whose files come from the installation data.
bool IsFileBearing(std::wstring_view name);

// The record fields, in the fixed order of the statement kind. Phase
// commands and statements without a record give no fields.
std::vector<std::wstring> BuildRecordFields(std::wstring_view name, const RecordSource& source);

// The record as one comma-text line.
std::wstring BuildRecord(std::wstring_view name, const RecordSource& source);

// Registry root codes of "Write Registry": 0 classes root, 1 current user,
// 2 local machine, 3 users; code 4 is "per scope" and is resolved here.
std::wstring ResolveRootCode(std::wstring_view rootAndMachine, bool allUsers);

}  // namespace qv::native
