// The compiled installation script as the engine holds it: the 23 items of
// the appended text, the statement table built from them, and the lookup of
// a statement's parameters. Reading and writing live here together so that
// the engine and the builder can never disagree on the format.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

// Item 8: the six publisher lines.
struct PublisherInfo {
  std::wstring publisher, contact, helpLink, updateInfoLink, comments, displayVersion;
};

// One parameter table (item 3): blocks of "identifier, parameter lines",
// indexed by identifier with case ignored.
class ParameterTable {
public:
  ParameterTable() = default;
  explicit ParameterTable(std::vector<std::wstring> lines);

  const std::vector<std::wstring>& lines() const { return lines_; }
  // Line k places after the first line equal to `identifier` (case ignored),
  // or nullptr when no line equals it. Past the end of the table: empty.
  bool Find(std::wstring_view identifier, size_t k, std::wstring& out) const;

private:
  std::vector<std::wstring> lines_;
  std::unordered_map<std::wstring, size_t> index_;  // lower-cased identifier -> first line
};

struct Script {
  // Statement table columns (items 1, 2, 4, 10, 20, 23); item 1 decides the count.
  std::vector<std::wstring> names;           // 1
  std::vector<std::wstring> identifiers;     // 2
  ParameterTable parameters;                 // 3
  std::vector<std::wstring> states;          // 4 ("C" = commented out)
  std::wstring productCode;                  // 5
  std::wstring title;                        // 6
  std::vector<std::wstring> pluginNames;     // 7
  PublisherInfo publisher;                   // 8
  std::vector<std::wstring> mediaPasswords;  // 9 (pairs)
  std::vector<std::wstring> mediaColumn;     // 10
  int32_t buildKind = 0;                     // 11
  std::vector<std::wstring> componentSizes;  // 12 (pairs)
  std::wstring revisionCode;                 // 13
  std::vector<std::wstring> mediaFolders;    // 14
  std::wstring languagePrompt;               // 15
  std::wstring defaultLanguage;              // 16
  std::vector<std::wstring> headers;         // 17 (pairs)
  std::vector<std::wstring> compilerVariables;  // 18 (pairs)
  int64_t codePage = 0;                      // 19
  std::vector<std::wstring> sourceReferences;   // 20 ("path*line")
  int64_t nativeProgressMax = 0;             // 21
  std::vector<std::wstring> fileTable;       // 22 (pairs)
  std::vector<std::wstring> includeMarkers;  // 23 ("x*depth")

  size_t StatementCount() const { return names.size(); }

  // Column value of row i, empty when the column is shorter than the table.
  static const std::wstring& Column(const std::vector<std::wstring>& column, size_t row);
  bool IsCommentedOut(size_t row) const { return Column(states, row) == L"C"; }
  bool IsPassive(size_t row) const { return IsCommentedOut(row) || names[row] == L"Ignore"; }

  // Parameter k of statement `row` (k = 0 is the identifier line itself).
  std::wstring Parameter(size_t row, size_t k) const;
};

// Include marker "x*depth": depth and result variable.
struct IncludeMarker {
  int depth = 0;
  std::wstring resultVariable;
};
IncludeMarker ParseIncludeMarker(std::wstring_view marker);

// Source reference "path*line": file name without folder and extension, and
// the zero-based line.
struct SourceReference {
  std::wstring file;
  int64_t line = 0;
};
SourceReference ParseSourceReference(std::wstring_view reference);

// Reads the appended text (UTF-8, optional byte-order mark). Throws qv::Error
// when the text ends before its last item or a number item is not a number.
Script ReadScript(std::string_view utf8);

// Writes the appended text: UTF-8 with a byte-order mark, CR LF line ends.
// Throws qv::Error for a text that cannot be represented (a line break inside
// a line, or a list line consisting of a single "$" outside the parameters).
std::string WriteScript(const Script& script);

}  // namespace qv
