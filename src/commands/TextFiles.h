// "Read from Text File" and "Write to Text File": line-wise reading with a
// reader that remembers its file between executions, and line writing.
#pragma once

#include <string>
#include <vector>

namespace qv {

struct StatementContext;

// The run's one text-file reader: the file being read and its next line.
// The whole file is read when it is opened, so no handle stays open between
// statements and a writer never finds the file locked by the reader.
struct TextFileReader {
  std::wstring path;
  std::vector<std::wstring> lines;
  size_t next = 0;
  void Forget() {
    path.clear();
    lines.clear();
    next = 0;
  }
};

// Splits UTF-8 text (byte-order mark skipped) into lines ended by CR LF, LF or CR.
std::vector<std::wstring> SplitUtf8Lines(std::string_view bytes);

void ReadFromTextFile(StatementContext& c);
void WriteToTextFile(StatementContext& c);

}  // namespace qv
