#include "script/Script.h"

#include "common/Error.h"
#include "common/Text.h"

namespace qv {

namespace {

const std::wstring kEmpty;
constexpr std::wstring_view kTerminator = L"$";

// Splits the text into lines the way a stream reader does: CR LF, LF or a
// lone CR ends a line; a last line without a line end still counts.
class LineReader {
public:
  explicit LineReader(std::wstring_view text) : text_(text) {}

  bool Next(std::wstring& line) {
    if (pos_ >= text_.size()) return false;
    const size_t end = text_.find_first_of(L"\r\n", pos_);
    if (end == std::wstring_view::npos) {
      line.assign(text_.substr(pos_));
      pos_ = text_.size();
      return true;
    }
    line.assign(text_.substr(pos_, end - pos_));
    pos_ = end + 1;
    if (text_[end] == L'\r' && pos_ < text_.size() && text_[pos_] == L'\n') ++pos_;
    return true;
  }

private:
  std::wstring_view text_;
  size_t pos_ = 0;
};

class ItemReader {
public:
  explicit ItemReader(std::wstring_view text) : lines_(text) {}

  std::wstring Line(const wchar_t* item) {
    std::wstring line;
    if (!lines_.Next(line)) Truncated(item);
    return line;
  }

  std::vector<std::wstring> List(const wchar_t* item) {
    std::vector<std::wstring> list;
    for (std::wstring line = Line(item); line != kTerminator; line = Line(item)) list.push_back(std::move(line));
    return list;
  }

  template <typename Int>
  Int Number(const wchar_t* item) {
    const std::wstring line = Line(item);
    const auto value = ParseInt64(line);
    if (!value || (sizeof(Int) == 4 && !ParseInt32(line)))
      throw Error(L"The setup script is damaged: the " + std::wstring(item) + L" is not a number");
    return static_cast<Int>(*value);
  }

private:
  [[noreturn]] static void Truncated(const wchar_t* item) {
    throw Error(L"The setup script is damaged: it ends before the " + std::wstring(item));
  }
  LineReader lines_;
};

void WriteLine(std::wstring& out, std::wstring_view line, const wchar_t* item) {
  if (line.find_first_of(L"\r\n") != std::wstring_view::npos)
    throw Error(L"A line break cannot be written inside the " + std::wstring(item));
  out.append(line);
  out.append(L"\r\n");
}

void WriteList(std::wstring& out, const std::vector<std::wstring>& list, const wchar_t* item) {
  for (const auto& line : list) {
    if (line == kTerminator) throw Error(L"A line holding a single \"$\" cannot be written inside the " + std::wstring(item));
    WriteLine(out, line, item);
  }
  out.append(L"$\r\n");
}

}  // namespace

ParameterTable::ParameterTable(std::vector<std::wstring> lines) : lines_(std::move(lines)) {
  index_.reserve(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) index_.try_emplace(LowerCase(lines_[i]), i);
}

bool ParameterTable::Find(std::wstring_view identifier, size_t k, std::wstring& out) const {
  const auto hit = index_.find(LowerCase(identifier));
  if (hit == index_.end()) return false;
  const size_t at = hit->second + k;
  out = at < lines_.size() ? lines_[at] : std::wstring();
  return true;
}

const std::wstring& Script::Column(const std::vector<std::wstring>& column, size_t row) {
  return row < column.size() ? column[row] : kEmpty;
}

std::wstring Script::Parameter(size_t row, size_t k) const {
  std::wstring value;
  if (row < identifiers.size()) parameters.Find(identifiers[row], k, value);
  return value;
}

IncludeMarker ParseIncludeMarker(std::wstring_view marker) {
  IncludeMarker result;
  const size_t star = marker.find(L'*');
  if (star == std::wstring_view::npos) return result;
  result.resultVariable.assign(marker.substr(0, star));
  result.depth = ParseInt32(marker.substr(star + 1)).value_or(0);
  return result;
}

SourceReference ParseSourceReference(std::wstring_view reference) {
  SourceReference result;
  const size_t star = reference.rfind(L'*');
  std::wstring_view path = reference.substr(0, star);
  if (star != std::wstring_view::npos) result.line = ParseInt64(reference.substr(star + 1)).value_or(0);
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring_view::npos) path.remove_prefix(slash + 1);
  const size_t dot = path.rfind(L'.');
  if (dot != std::wstring_view::npos && dot > 0) path = path.substr(0, dot);
  result.file.assign(path);
  return result;
}

Script ReadScript(std::string_view utf8) {
  if (utf8.size() >= 3 && static_cast<unsigned char>(utf8[0]) == 0xEF && static_cast<unsigned char>(utf8[1]) == 0xBB &&
      static_cast<unsigned char>(utf8[2]) == 0xBF)
    utf8.remove_prefix(3);
  const std::wstring text = Utf8ToWide(utf8);
  ItemReader in(text);
  Script s;
  s.names = in.List(L"statement names");
  s.identifiers = in.List(L"statement identifiers");
  std::vector<std::wstring> parameters = in.List(L"parameter table");
  for (auto& line : parameters)
    if (EqualsNoCase(line, L"$WILD_DOLLAR$") || EqualsNoCase(line, L"$DOLLAR$")) line = kTerminator;
  s.parameters = ParameterTable(std::move(parameters));
  s.states = in.List(L"state column");
  s.productCode = in.Line(L"product code");
  s.title = in.Line(L"product title");
  s.pluginNames = in.List(L"plug-in list");
  s.publisher.publisher = in.Line(L"publisher");
  s.publisher.contact = in.Line(L"contact");
  s.publisher.helpLink = in.Line(L"help link");
  s.publisher.updateInfoLink = in.Line(L"update information link");
  s.publisher.comments = in.Line(L"comments");
  s.publisher.displayVersion = in.Line(L"display version");
  s.mediaPasswords = in.List(L"web media passwords");
  s.mediaColumn = in.List(L"media column");
  s.buildKind = in.Number<int32_t>(L"build kind");
  s.componentSizes = in.List(L"component sizes");
  s.revisionCode = in.Line(L"revision code");
  s.mediaFolders = in.List(L"media folder list");
  s.languagePrompt = in.Line(L"language prompt flag");
  s.defaultLanguage = in.Line(L"default language");
  s.headers = in.List(L"header list");
  s.compilerVariables = in.List(L"compiler variables");
  s.codePage = in.Number<int64_t>(L"code page");
  s.sourceReferences = in.List(L"source references");
  s.nativeProgressMax = in.Number<int64_t>(L"progress maximum");
  s.fileTable = in.List(L"file table");
  s.includeMarkers = in.List(L"include markers");
  return s;
}

std::string WriteScript(const Script& s) {
  std::wstring out;
  WriteList(out, s.names, L"statement names");
  WriteList(out, s.identifiers, L"statement identifiers");
  std::vector<std::wstring> parameters = s.parameters.lines();
  for (auto& line : parameters)
    if (line == kTerminator) line = L"$WILD_DOLLAR$";
  WriteList(out, parameters, L"parameter table");
  WriteList(out, s.states, L"state column");
  WriteLine(out, s.productCode, L"product code");
  WriteLine(out, s.title, L"product title");
  WriteList(out, s.pluginNames, L"plug-in list");
  for (const auto* line : {&s.publisher.publisher, &s.publisher.contact, &s.publisher.helpLink,
                           &s.publisher.updateInfoLink, &s.publisher.comments, &s.publisher.displayVersion})
    WriteLine(out, *line, L"publisher information");
  WriteList(out, s.mediaPasswords, L"web media passwords");
  WriteList(out, s.mediaColumn, L"media column");
  WriteLine(out, std::to_wstring(s.buildKind), L"build kind");
  WriteList(out, s.componentSizes, L"component sizes");
  WriteLine(out, s.revisionCode, L"revision code");
  WriteList(out, s.mediaFolders, L"media folder list");
  WriteLine(out, s.languagePrompt, L"language prompt flag");
  WriteLine(out, s.defaultLanguage, L"default language");
  WriteList(out, s.headers, L"header list");
  WriteList(out, s.compilerVariables, L"compiler variables");
  WriteLine(out, std::to_wstring(s.codePage), L"code page");
  WriteList(out, s.sourceReferences, L"source references");
  WriteLine(out, std::to_wstring(s.nativeProgressMax), L"progress maximum");
  WriteList(out, s.fileTable, L"file table");
  WriteList(out, s.includeMarkers, L"include markers");
  return "\xEF\xBB\xBF" + WideToUtf8(out);
}

}  // namespace qv
