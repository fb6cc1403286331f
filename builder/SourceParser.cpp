// Grammar of the script source, one logical line at a time:
//
//   source     := { line }
//   line       := blank | note | directive | statement | "}"
//   note       := "#" any text                       (dropped; not part of the script)
//   directive  := "@" word items                     (@setup, @define, @include, @plugin,
//                                                     @begin-include, @end-include)
//   statement  := [ "//" ] name items                ("//" keeps it, commented out)
//   name       := word { word }                      (the words before the first keyword)
//   items      := { item } [ "{" ]                   (a final "{" continues the items on the
//                                                     following lines up to a line "}")
//   item       := keyword "=" value { string }       (strings after a value are appended to it)
//   keyword    := { letter | digit | "-" | "_" | "." } followed by optional blanks and "="
//   value      := string | bare
//   string     := '"' { char | '""' } '"'            (#NAME# replaced)
//              |  "'" { char | "''" } "'"            (taken literally)
//   bare       := a run of non-blank characters      (#NAME# replaced)
//
// Each rule has its function below, named after it.

#include "builder/SourceParser.h"

#include "builder/SourceFormat.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "script/StatementSchema.h"

#include <windows.h>

#include <algorithm>
#include <map>

namespace qv::build {

namespace {

constexpr std::wstring_view kBlanks = L" \t";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
bool IsKeywordChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_' ||
         c == L'.';
}
bool IsQuote(wchar_t c) { return c == L'"' || c == L'\''; }

std::wstring_view Trim(std::wstring_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Part of a value: a string or bare run, replaced or taken literally.
struct Piece {
  std::wstring text;
  bool literal = false;
};

struct Item {
  std::wstring keyword;
  size_t line = 0;
  std::vector<Piece> pieces;
};

// A statement or directive with its items, after any block is read.
struct Logical {
  size_t line = 0;  // 1-based, of the name
  bool commented = false;
  bool directive = false;
  std::wstring name;
  std::vector<Item> items;
};

class LineScanner {
public:
  explicit LineScanner(std::wstring_view text) : text_(text) {}

  bool AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
  }
  wchar_t Peek() const { return text_[pos_]; }
  size_t Column() const { return pos_ + 1; }

  // True when a lone "{" ends the line here.
  bool AtBlockOpen() {
    SkipBlanks();
    return pos_ < text_.size() && text_[pos_] == L'{' && Trim(text_.substr(pos_ + 1)).empty();
  }
  void Finish() { pos_ = text_.size(); }

  // keyword := keyword characters, optional blanks, "=". Consumes it only when it is one.
  bool keyword(std::wstring& out) {
    SkipBlanks();
    size_t end = pos_;
    while (end < text_.size() && IsKeywordChar(text_[end])) ++end;
    if (end == pos_) return false;
    size_t eq = end;
    while (eq < text_.size() && IsBlank(text_[eq])) ++eq;
    if (eq >= text_.size() || text_[eq] != L'=') return false;
    out.assign(text_.substr(pos_, end - pos_));
    pos_ = eq + 1;
    return true;
  }

  // A run of non-blank characters.
  std::wstring Word() {
    SkipBlanks();
    const size_t start = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
    return std::wstring(text_.substr(start, pos_ - start));
  }

  // string := quote { char | doubled quote } quote. Returns an error message, empty on success.
  std::wstring string(Piece& out) {
    const wchar_t quote = text_[pos_];
    const size_t column = Column();
    out.literal = quote == L'\'';
    out.text.clear();
    for (++pos_; pos_ < text_.size(); ++pos_) {
      if (text_[pos_] != quote) {
        out.text.push_back(text_[pos_]);
      } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == quote) {
        out.text.push_back(quote);
        ++pos_;
      } else {
        ++pos_;
        return {};
      }
    }
    return L"unterminated quoted text starting in column " + std::to_wstring(column) +
           L" (quoted text ends on its own line; join long texts from several quoted pieces)";
  }

  // bare := non-blank characters.
  Piece bare() { return Piece{Word(), false}; }

private:
  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  std::wstring_view text_;
  size_t pos_ = 0;
};

std::vector<std::wstring> SplitLines(std::wstring_view text) {
  std::vector<std::wstring> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of(L"\r\n", pos);
    if (end == std::wstring_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == L'\r' && pos < text.size() && text[pos] == L'\n') ++pos;
  }
  return lines;
}

bool IsAbsolutePath(std::wstring_view path) {
  return (path.size() >= 2 && path[1] == L':') || (!path.empty() && path[0] == L'\\');
}

std::wstring JoinPath(const std::wstring& baseFile, std::wstring relative) {
  std::replace(relative.begin(), relative.end(), L'/', L'\\');
  return IsAbsolutePath(relative) ? relative : FolderOf(baseFile) + relative;
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring result(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetFullPathNameW(path.c_str(), static_cast<DWORD>(result.size()), result.data(), nullptr);
    if (size == 0) return path;
    if (size < result.size()) {
      result.resize(size);
      return result;
    }
    result.resize(size);
  }
}

// Canonical statement name: blanks collapsed.
std::wstring CollapseBlanks(std::wstring_view text) {
  std::wstring result;
  for (const wchar_t c : text) {
    if (IsBlank(c)) {
      if (!result.empty() && result.back() != L' ') result.push_back(L' ');
    } else {
      result.push_back(c);
    }
  }
  if (!result.empty() && result.back() == L' ') result.pop_back();
  return result;
}

std::wstring KnownParameters(const StatementSpec& spec) {
  std::wstring list;
  for (const auto& p : spec.parameters()) list += (list.empty() ? L"" : L", ") + std::wstring(p.name);
  return list.empty() ? L"none" : list;
}

class Parser {
public:
  explicit Parser(const CompileOptions& options) : options_(options) {}

  CompileResult Run(const std::wstring& path) {
    for (const auto& [name, value] : options_.defines) {
      fixedDefines_.push_back(name);
      defines_.push_back(name);
      defines_.push_back(value);
    }
    mainDisplay_ = path;
    ParseFileAt(File{path, FullPath(path), 0, L"0"}, 0);
    Finish();
    CompileResult result;
    result.script = std::move(script_);
    result.errors = std::move(errors_);
    return result;
  }

private:
  struct File {
    std::wstring display;  // for messages
    std::wstring full;     // for the source references and the cycle test
    int depth = 0;
    std::wstring resultVariable;
  };
  struct Scope {
    int depth;
    std::wstring resultVariable;
    size_t line;  // of @begin-include, 0 for the file itself
  };
  struct Row {
    std::wstring pinnedId;
    std::wstring display;
    size_t line;
    std::vector<std::wstring> block;
  };

  void Fail(const std::wstring& file, size_t line, std::wstring message) {
    errors_.push_back(SourceError{file, line, std::move(message)});
  }

  void ParseFileAt(const File& file, size_t includeLine) {
    std::wstring error;
    const auto bytes = options_.loader(file.full, error);
    if (!bytes) {
      if (includeLine == 0)
        Fail(file.display, 0, L"cannot read the script source: " + error);
      else
        Fail(includeFrom_.back(), includeLine, L"cannot read the included file '" + file.display + L"': " + error);
      return;
    }
    if (includeLine == 0) mainLoaded_ = true;
    std::string_view utf8 = *bytes;
    if (utf8.size() >= 3 && utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    const auto lines = SplitLines(Utf8ToWide(utf8));

    includeStack_.push_back(file.full);
    std::vector<Scope> scopes{{file.depth, file.resultVariable, 0}};
    for (size_t i = 0; i < lines.size(); ++i) {
      Logical logical;
      if (!line(file, lines, i, logical)) continue;
      if (logical.directive)
        Directive(file, logical, scopes);
      else
        Statement(file, logical, scopes.back());
    }
    for (size_t s = 1; s < scopes.size(); ++s)
      Fail(file.display, scopes[s].line, L"@begin-include is not closed by @end-include in this file");
    includeStack_.pop_back();
  }

  // line := blank | note | directive | statement. Reads a block when the line
  // opens one, leaving `i` on its last line. False when nothing is to be done.
  bool line(const File& file, const std::vector<std::wstring>& lines, size_t& i, Logical& out) {
    std::wstring_view text = Trim(lines[i]);
    if (text.empty() || text[0] == L'#') return false;
    if (text == L"}") {
      Fail(file.display, i + 1, L"'}' without a statement opened with '{'");
      return false;
    }
    out.line = i + 1;
    if (text.substr(0, 2) == L"//") {
      out.commented = true;
      text = Trim(text.substr(2));
    }
    LineScanner scan(text);
    if (!text.empty() && text[0] == L'@') {
      out.directive = true;
      out.name = scan.Word().substr(1);
      if (out.commented) {
        Fail(file.display, out.line, L"a directive cannot be commented out; use a # note instead");
        return false;
      }
    } else {
      out.name = name(scan);
      if (out.name.empty()) {
        Fail(file.display, out.line, L"a statement name is missing before the first parameter");
        return false;
      }
    }
    bool ok = true;
    bool opened = false;
    items(file, scan, out.line, out.items, true, opened, ok);
    if (!opened) return ok;
    const size_t openLine = i + 1;
    for (++i; i < lines.size(); ++i) {
      const std::wstring_view inner = Trim(lines[i]);
      if (inner == L"}") return ok;
      if (inner.empty() || inner[0] == L'#') continue;
      LineScanner blockScan(inner);
      bool nested = false;
      items(file, blockScan, i + 1, out.items, false, nested, ok);
    }
    Fail(file.display, openLine, L"'{' is not closed by a line holding '}'");
    return false;
  }

  // name := word { word }, up to the first keyword, string or block opener.
  std::wstring name(LineScanner& scan) {
    std::wstring result;
    for (;;) {
      if (scan.AtEnd() || IsQuote(scan.Peek()) || scan.AtBlockOpen()) break;
      LineScanner probe = scan;
      std::wstring keyword;
      if (probe.keyword(keyword)) break;
      if (!result.empty()) result.push_back(L' ');
      result += scan.Word();
    }
    return result;
  }

  // items := { item } [ "{" ]
  void items(const File& file, LineScanner& scan, size_t lineNo, std::vector<Item>& out, bool allowBlock,
             bool& opened, bool& ok) {
    while (!scan.AtEnd()) {
      if (allowBlock && scan.AtBlockOpen()) {
        opened = true;
        scan.Finish();
        return;
      }
      if (IsQuote(scan.Peek())) {
        Piece piece;
        if (const auto error = scan.string(piece); !error.empty()) return Bad(file, lineNo, error, ok);
        if (out.empty()) return Bad(file, lineNo, L"quoted text must follow a parameter, as in name=\"text\"", ok);
        out.back().pieces.push_back(std::move(piece));
        continue;
      }
      Item item;
      item.line = lineNo;
      if (!scan.keyword(item.keyword))
        return Bad(file, lineNo, L"expected name=value, found '" + scan.Word() + L"'", ok);
      if (scan.AtEnd())
        return Bad(file, lineNo, L"'" + item.keyword + L"=' has no value; write " + item.keyword + L"=\"\" for an empty one",
                   ok);
      Piece piece;
      if (!value(scan, piece, file, lineNo, ok)) return;
      item.pieces.push_back(std::move(piece));
      out.push_back(std::move(item));
    }
  }

  // value := string | bare
  bool value(LineScanner& scan, Piece& piece, const File& file, size_t lineNo, bool& ok) {
    if (!IsQuote(scan.Peek())) {
      piece = scan.bare();
      return true;
    }
    if (const auto error = scan.string(piece); !error.empty()) {
      Bad(file, lineNo, error, ok);
      return false;
    }
    return true;
  }

  void Bad(const File& file, size_t lineNo, const std::wstring& message, bool& ok) {
    Fail(file.display, lineNo, message);
    ok = false;
  }

  std::wstring Resolve(const Item& item) const {
    std::wstring text;
    for (const auto& piece : item.pieces)
      text += piece.literal ? piece.text : ReplaceCompilerVariables(piece.text, defines_);
    return text;
  }

  // Collects the items of a directive by keyword; reports unknown and repeated ones.
  bool DirectiveItems(const File& file, const Logical& d, std::initializer_list<std::wstring_view> known,
                      std::map<std::wstring, std::wstring, std::less<>>& values) {
    bool ok = true;
    for (const auto& item : d.items) {
      if (std::find(known.begin(), known.end(), item.keyword) == known.end()) {
        std::wstring list;
        for (const auto k : known) list += (list.empty() ? L"" : L", ") + std::wstring(k);
        Fail(file.display, item.line,
             L"unknown parameter '" + item.keyword + L"' for @" + d.name + L" (parameters: " + list + L")");
        ok = false;
      } else if (!values.emplace(item.keyword, Resolve(item)).second) {
        Fail(file.display, item.line, L"parameter '" + item.keyword + L"' is given twice");
        ok = false;
      }
    }
    return ok;
  }

  void Directive(const File& file, const Logical& d, std::vector<Scope>& scopes) {
    std::map<std::wstring, std::wstring, std::less<>> values;
    if (d.name == L"setup") return Setup(file, d);
    if (d.name == L"define") return Define(file, d);
    if (d.name == L"include") {
      if (!DirectiveItems(file, d, {L"file", L"result"}, values)) return;
      if (!values.count(L"file")) return Fail(file.display, d.line, L"@include needs file=");
      return Include(file, d.line, values[L"file"], values[L"result"], scopes.back().depth);
    }
    if (d.name == L"begin-include") {
      if (!DirectiveItems(file, d, {L"result"}, values)) return;
      scopes.push_back(Scope{scopes.back().depth + 1, values[L"result"], d.line});
      return;
    }
    if (d.name == L"end-include") {
      if (!DirectiveItems(file, d, {}, values)) return;
      if (scopes.size() == 1) return Fail(file.display, d.line, L"@end-include without @begin-include");
      scopes.pop_back();
      return;
    }
    if (d.name == L"plugin") {
      if (!DirectiveItems(file, d, {L"name"}, values)) return;
      const std::wstring pluginName = CollapseBlanks(values[L"name"]);
      if (pluginName.empty()) return Fail(file.display, d.line, L"@plugin needs a name=");
      if (std::find(script_.pluginNames.begin(), script_.pluginNames.end(), pluginName) == script_.pluginNames.end())
        script_.pluginNames.push_back(pluginName);
      return;
    }
    Fail(file.display, d.line,
         L"unknown directive '@" + d.name + L"' (directives: @setup, @define, @include, @plugin, @begin-include, "
                                            L"@end-include)");
  }

  void Setup(const File& file, const Logical& d) {
    if (file.depth != 0 || includeStack_.size() != 1)
      return Fail(file.display, d.line, L"@setup belongs in the main script, not in an included one");
    if (haveSetup_) return Fail(file.display, d.line, L"@setup is given twice");
    haveSetup_ = true;
    std::map<std::wstring, std::wstring, std::less<>> given;
    for (const auto& item : d.items) {
      const auto fields = HeaderFields();
      const auto field = std::find_if(fields.begin(), fields.end(), [&](const HeaderField& f) { return item.keyword == f.key; });
      if (field == fields.end()) {
        std::wstring list;
        for (const auto& f : fields) list += (list.empty() ? L"" : L", ") + std::wstring(f.key);
        Fail(file.display, item.line, L"unknown @setup key '" + item.keyword + L"' (keys: " + list + L")");
        continue;
      }
      if (!given.emplace(item.keyword, L"").second) {
        Fail(file.display, item.line, L"@setup key '" + item.keyword + L"' is given twice");
        continue;
      }
      if (const auto error = field->set(script_, Resolve(item)); !error.empty())
        Fail(file.display, item.line, item.keyword + L": " + error);
    }
    for (const auto& field : HeaderFields()) {
      if (given.count(field.key)) continue;
      if (!field.defaultText)
        Fail(file.display, d.line, L"@setup needs " + std::wstring(field.key) + L"=");
      else
        field.set(script_, field.defaultText);
    }
  }

  void Define(const File& file, const Logical& d) {
    if (d.items.empty()) return Fail(file.display, d.line, L"@define needs NAME=value");
    for (const auto& item : d.items) {
      const auto same = [&](const std::wstring& n) { return EqualsNoCase(n, item.keyword); };
      if (std::any_of(fixedDefines_.begin(), fixedDefines_.end(), same)) continue;  // the caller's value wins
      bool known = false;
      for (size_t i = 0; i < defines_.size(); i += 2) known = known || same(defines_[i]);
      if (known) {
        Fail(file.display, item.line, L"compiler variable '" + item.keyword + L"' is already defined");
        continue;
      }
      const std::wstring value = Resolve(item);
      defines_.push_back(item.keyword);
      defines_.push_back(value);
    }
  }

  void Include(const File& file, size_t lineNo, const std::wstring& path, const std::wstring& result, int depth) {
    File included{JoinPath(file.display, path), FullPath(JoinPath(file.full, path)), depth + 1, result};
    for (size_t i = 0; i < includeStack_.size(); ++i) {
      if (!EqualsNoCase(includeStack_[i], included.full)) continue;
      std::wstring chain;
      for (size_t j = i; j < includeStack_.size(); ++j) chain += FileNameOf(includeStack_[j]) + L" -> ";
      return Fail(file.display, lineNo, L"include cycle: " + chain + FileNameOf(included.full));
    }
    includeFrom_.push_back(file.display);
    ParseFileAt(included, lineNo);
    includeFrom_.pop_back();
  }

  // Finds the statement's row in the schema (or the plug-in list), ignoring case.
  const StatementSpec* Lookup(const std::wstring& name, std::wstring& canonical) const {
    for (const auto& plugin : script_.pluginNames)
      if (EqualsNoCase(plugin, name)) {
        canonical = plugin;
        return &PluginStatementSpec();
      }
    if (const auto* exact = FindStatement(name)) {
      canonical = exact->name;
      return exact;
    }
    for (const auto& spec : AllStatements())
      if (EqualsNoCase(spec.name, name)) {
        canonical = spec.name;
        return &spec;
      }
    return nullptr;
  }

  void Statement(const File& file, const Logical& st, const Scope& scope) {
    std::wstring canonical;
    const StatementSpec* spec = Lookup(CollapseBlanks(st.name), canonical);
    if (!spec) return Fail(file.display, st.line, L"unknown statement '" + st.name + L"'");
    const auto params = spec->parameters();
    std::vector<std::vector<std::wstring>> values(params.size());
    std::vector<std::wstring> extras;
    std::wstring pinnedId, media;
    bool haveId = false, haveMedia = false;
    const size_t errorsBefore = errors_.size();
    for (const auto& item : st.items) {
      const std::wstring text = Resolve(item);
      if (item.keyword == kIdKeyword || item.keyword == kMediaKeyword) {
        const bool isId = item.keyword == kIdKeyword;
        bool& have = isId ? haveId : haveMedia;
        if (have) {
          Fail(file.display, item.line, L"parameter '" + item.keyword + L"' is given twice");
          continue;
        }
        have = true;
        if (!isId) {
          media = text;
        } else if (const auto guid = NormalizeGuid(text)) {
          pinnedId = *guid;
        } else {
          Fail(file.display, item.line, L"id: '" + text + L"' is not a GUID in braces");
        }
        continue;
      }
      if (item.keyword == kExtraKeyword) {
        extras.push_back(text);
        continue;
      }
      const int index = spec->FindParameter(item.keyword);
      if (index < 0) {
        Fail(file.display, item.line,
             L"unknown parameter '" + item.keyword + L"' for " + canonical + L" (parameters: " + KnownParameters(*spec) +
                 L")");
        continue;
      }
      const bool repeatable = spec->repeatLast && static_cast<size_t>(index) + 1 == params.size();
      if (!values[index].empty() && !repeatable) {
        Fail(file.display, item.line, L"parameter '" + item.keyword + L"' is given twice");
        continue;
      }
      if (params[index].kind == ParameterKind::Number && !ParseInt64(text)) {
        Fail(file.display, item.line,
             L"parameter '" + item.keyword + L"' of " + canonical + L" must be a decimal number, not '" + text + L"'");
        continue;
      }
      values[index].push_back(text);
    }

    std::vector<std::wstring> block;
    for (size_t i = 0; i < params.size(); ++i) {
      const ParameterSpec& p = params[i];
      if (values[i].empty()) {
        if (p.required())
          Fail(file.display, st.line, canonical + L" needs parameter '" + std::wstring(p.name) + L"'");
        else if (!p.joinSeparator)
          block.emplace_back(p.defaultText);
        continue;
      }
      if (p.joinSeparator) {
        if (!block.empty()) block.back() += p.joinSeparator + values[i].front();
        continue;
      }
      block.insert(block.end(), values[i].begin(), values[i].end());
    }
    block.insert(block.end(), extras.begin(), extras.end());
    if (errors_.size() != errorsBefore) return;

    script_.names.push_back(canonical);
    script_.states.push_back(st.commented ? L"C" : L"");
    script_.mediaColumn.push_back(media);
    script_.sourceReferences.push_back(file.full + L"*" + std::to_wstring(st.line - 1));
    script_.includeMarkers.push_back(scope.depth == 0 ? L"0*0"
                                                      : scope.resultVariable + L"*" + std::to_wstring(scope.depth));
    rows_.push_back(Row{pinnedId, file.display, st.line, std::move(block)});
  }

  void Finish() {
    if (!haveSetup_) {
      if (mainLoaded_)
        Fail(mainDisplay_, 0, L"the script has no @setup block (product-code, revision-code, title)");
      return;
    }
    std::map<std::wstring, size_t> seen;  // identifier -> row
    std::vector<std::wstring> parameterLines;
    for (size_t row = 0; row < rows_.size(); ++row) {
      const Row& r = rows_[row];
      std::wstring id = r.pinnedId.empty() ? DeriveStatementId(script_.productCode, row) : r.pinnedId;
      if (const auto [at, fresh] = seen.emplace(id, row); !fresh)
        Fail(r.display, r.line, L"statement identifier " + id + L" is already used by the statement at " +
                                    rows_[at->second].display + L":" + std::to_wstring(rows_[at->second].line));
      if (!r.block.empty()) {
        parameterLines.push_back(id);
        parameterLines.insert(parameterLines.end(), r.block.begin(), r.block.end());
      }
      script_.identifiers.push_back(std::move(id));
    }
    script_.parameters = ParameterTable(std::move(parameterLines));
    script_.compilerVariables = defines_;
  }

  const CompileOptions& options_;
  Script script_;
  std::vector<SourceError> errors_;
  std::vector<Row> rows_;
  std::vector<std::wstring> includeStack_;  // full paths of the files being read
  std::vector<std::wstring> includeFrom_;   // display paths of the including files
  std::vector<std::wstring> defines_;       // pairs, item 18
  std::vector<std::wstring> fixedDefines_;  // names given by the caller
  std::wstring mainDisplay_;
  bool haveSetup_ = false;
  bool mainLoaded_ = false;
};

}  // namespace

std::wstring SourceError::ToString() const {
  return line == 0 ? file + L": " + message : file + L":" + std::to_wstring(line) + L": " + message;
}

SourceLoader DiskLoader() {
  return [](const std::wstring& fullPath, std::wstring& error) -> std::optional<std::string> {
    try {
      return ReadWholeFile(fullPath);
    } catch (const Error& e) {
      error = e.message();
      return std::nullopt;
    }
  };
}

std::wstring ReplaceCompilerVariables(std::wstring text, const std::vector<std::wstring>& variables) {
  // Bounded, so that a variable whose value names itself cannot loop forever.
  for (int round = 0; round < 32 && text.find(L'#') != std::wstring::npos; ++round) {
    std::wstring next = text;
    for (size_t i = 0; i + 1 < variables.size(); i += 2)
      next = ReplaceAllNoCase(next, L"#" + variables[i] + L"#", variables[i + 1]);
    if (next == text) break;
    text = std::move(next);
  }
  return text;
}

CompileResult CompileSource(const std::wstring& path, const CompileOptions& options) {
  return Parser(options).Run(path);
}

}  // namespace qv::build
