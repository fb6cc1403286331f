#include "commands/TextFiles.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

namespace qv {

std::vector<std::wstring> SplitUtf8Lines(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::wstring text = Utf8ToWide(bytes);
  std::vector<std::wstring> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of(L"\r\n", pos);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == L'\r' && pos < text.size() && text[pos] == L'\n') ++pos;
  }
  return lines;
}

namespace {

const std::wstring kReadAllPrefix = L"#READALL\\";

}  // namespace

// Parameters: file (path, optionally "#READALL\" first), line variable,
// end-of-file variable (optional).
void ReadFromTextFile(StatementContext& c) {
  std::wstring path = c.PathParameter(1);
  const bool readAll = StartsWithNoCase(path, kReadAllPrefix);
  if (readAll) path.erase(0, kReadAllPrefix.size());
  const std::wstring lineVariable = ReadVariableName(c.Parameter(2));
  const std::wstring endVariable = ReadVariableName(c.Parameter(3));
  c.CreateResult(lineVariable);
  if (!endVariable.empty()) c.CreateResult(endVariable);

  TextFileReader& reader = c.textReader;
  if (!EqualsNoCase(path, reader.path)) {
    reader.Forget();
    try {
      reader.lines = SplitUtf8Lines(ReadWholeFile(path));
      reader.path = path;
    } catch (const Error&) {
      if (!endVariable.empty()) c.SetResult(endVariable, L"TRUE");
      return;
    }
  }
  if (reader.next < reader.lines.size()) {
    std::wstring text = reader.lines[reader.next++];
    if (readAll)
      for (; reader.next < reader.lines.size(); ++reader.next) text += L"$NEWLINE$" + reader.lines[reader.next];
    c.SetResult(lineVariable, text);
  }
  const bool atEnd = reader.next >= reader.lines.size();
  if (atEnd) reader.Forget();
  if (!endVariable.empty()) c.SetResult(endVariable, atEnd ? L"TRUE" : L"FALSE");
}

// Parameters: file (path), line (value), insert at the top (flag).
void WriteToTextFile(StatementContext& c) {
  const std::wstring path = c.PathParameter(1);
  const std::wstring line = c.ValueParameter(2);
  const bool atTop = IsTrueFlag(c.ValueParameter(3));
  if (EqualsNoCase(path, c.textReader.path)) c.textReader.Forget();

  std::vector<std::wstring> lines;
  if (FileExists(path)) {
    try {
      lines = SplitUtf8Lines(ReadWholeFile(path));
    } catch (const Error& error) {
      // An existing file that cannot be read is never replaced by the new line alone.
      c.variables.Set(L"LASTERROR", error.message(), c.Source());
      return;
    }
  }
  if (atTop)
    lines.insert(lines.begin(), line);
  else
    lines.push_back(line);
  std::wstring text;
  for (const auto& l : lines) text += l + L"\r\n";
  try {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteWholeFile(path, "\xEF\xBB\xBF" + WideToUtf8(text));
  } catch (const Error& error) {
    c.variables.Set(L"LASTERROR", error.message(), c.Source());
  }
}

}  // namespace qv
