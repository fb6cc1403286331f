#include "builder/SourceWriter.h"

#include "builder/SourceFormat.h"
#include "common/Error.h"
#include "common/Text.h"
#include "script/StatementSchema.h"

#include <algorithm>
#include <cwchar>
#include <unordered_map>

namespace qv::build {

namespace {

bool IsKeyword(std::wstring_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
           c == L'_' || c == L'.';
  });
}

void RequireEmpty(const std::vector<std::wstring>& list, const wchar_t* what) {
  if (!list.empty())
    throw Error(L"The script holds " + std::wstring(what) + L", which script source cannot express yet");
}

// Parameter blocks by upper-cased identifier: the lines after each
// identifier up to the next statement's identifier.
std::unordered_map<std::wstring, std::vector<std::wstring>> SplitBlocks(const Script& script) {
  std::unordered_map<std::wstring, std::vector<std::wstring>> blocks;
  for (const auto& id : script.identifiers) blocks.try_emplace(UpperCase(id));
  std::vector<std::wstring>* current = nullptr;
  for (const auto& line : script.parameters.lines()) {
    const auto hit = blocks.find(UpperCase(line));
    if (hit != blocks.end() && hit->second.empty() && (!current || current != &hit->second)) {
      current = &hit->second;
      continue;
    }
    if (current) current->push_back(line);
  }
  return blocks;
}

int NestingChange(const std::wstring& name, int& printShift) {
  printShift = 0;
  if (name == L"If" || name == L"While" || name == L"Repeat" || name == L"For Each" || name == L"Wizard Loop") return 1;
  if (name == L"End" || name == L"Wend" || name == L"Until" || name == L"Next") return -1;
  if (name == L"Else" || name == L"Else If") printShift = -1;
  return 0;
}

class Writer {
public:
  explicit Writer(const Script& script) : s_(script) {}

  std::wstring Run() {
    RequireEmpty(s_.mediaPasswords, L"web media passwords");
    RequireEmpty(s_.componentSizes, L"component sizes");
    RequireEmpty(s_.mediaFolders, L"a media folder list");
    RequireEmpty(s_.headers, L"a header list");
    RequireEmpty(s_.fileTable, L"a file table");
    Line(0, L"# Written by qvbuild dump.");
    for (size_t i = 0; i + 1 < s_.compilerVariables.size(); i += 2) {
      if (!IsKeyword(s_.compilerVariables[i]))
        throw Error(L"The compiler variable name '" + s_.compilerVariables[i] + L"' cannot be written as script source");
      Line(0, L"@define " + s_.compilerVariables[i] + L"=" + QuoteValue(s_.compilerVariables[i + 1]));
    }
    for (const auto& plugin : s_.pluginNames) Line(0, L"@plugin name=" + QuoteValue(plugin));
    Line(0, L"@setup {");
    for (const auto& field : HeaderFields()) {
      const std::wstring value = field.get(s_);
      if (field.defaultText && value == field.defaultText) continue;
      std::wstring key = field.key;
      key.resize(std::max<size_t>(key.size(), 16), L' ');
      Line(1, key + L"= " + QuoteValue(value));
    }
    Line(0, L"}");
    Line(0, L"");
    Statements();
    return out_;
  }

private:
  void Line(int indent, const std::wstring& text) {
    if (!text.empty()) out_.append(static_cast<size_t>(std::max(indent, 0)) * 4, L' ');
    out_ += text;
    out_ += L"\r\n";
  }

  const StatementSpec& Spec(size_t row) const {
    const std::wstring& name = s_.names[row];
    if (std::find(s_.pluginNames.begin(), s_.pluginNames.end(), name) != s_.pluginNames.end())
      return PluginStatementSpec();
    if (const auto* spec = FindStatement(name)) return *spec;
    throw Error(L"Statement " + std::to_wstring(row + 1) + L" is named '" + name +
                L"', which the statement schema does not know");
  }

  void Statements() {
    const auto blocks = SplitBlocks(s_);
    struct Scope {
      int depth;
      std::wstring result;
    };
    std::vector<Scope> scopes{{0, L"0"}};
    int nesting = 0;
    for (size_t row = 0; row < s_.names.size(); ++row) {
      const IncludeMarker marker = ParseIncludeMarker(Script::Column(s_.includeMarkers, row));
      while (scopes.back().depth > marker.depth ||
             (scopes.back().depth == marker.depth && marker.depth > 0 && scopes.back().result != marker.resultVariable)) {
        scopes.pop_back();
        Line(static_cast<int>(scopes.size()) - 1 + nesting, L"@end-include");
      }
      while (scopes.back().depth < marker.depth) {
        const bool last = scopes.back().depth + 1 == marker.depth;
        const std::wstring result = last ? marker.resultVariable : L"";
        Line(static_cast<int>(scopes.size()) - 1 + nesting,
             result.empty() ? L"@begin-include" : L"@begin-include result=" + QuoteValue(result));
        scopes.push_back(Scope{scopes.back().depth + 1, result});
      }
      const bool commented = s_.IsCommentedOut(row);
      int shift = 0;
      const int change = commented ? 0 : NestingChange(s_.names[row], shift);
      if (change < 0) nesting = std::max(nesting - 1, 0);
      const auto block = blocks.find(UpperCase(s_.identifiers[row]));
      Line(static_cast<int>(scopes.size()) - 1 + nesting + shift,
           StatementLine(row, block == blocks.end() ? std::vector<std::wstring>{} : block->second, commented));
      if (change > 0) ++nesting;
    }
    while (scopes.size() > 1) {
      scopes.pop_back();
      Line(static_cast<int>(scopes.size()) - 1 + nesting, L"@end-include");
    }
  }

  std::wstring StatementLine(size_t row, const std::vector<std::wstring>& lines, bool commented) const {
    const StatementSpec& spec = Spec(row);
    const auto params = spec.parameters();
    std::vector<std::vector<std::wstring>> values(params.size());
    size_t next = 0;
    for (size_t i = 0; i < params.size(); ++i) {
      if (params[i].joinSeparator) {
        if (i == 0 || values[i - 1].empty()) continue;
        std::wstring& previous = values[i - 1].front();
        const size_t at = previous.find(params[i].joinSeparator);
        if (at == std::wstring::npos) continue;
        std::wstring tail = previous.substr(at + std::wcslen(params[i].joinSeparator));
        if (tail.empty()) continue;  // the whole text stays in the previous parameter
        previous.resize(at);
        values[i].push_back(std::move(tail));
        continue;
      }
      const bool takesRest = spec.repeatLast && i + 1 == params.size();
      for (; next < lines.size(); ++next) {
        values[i].push_back(lines[next]);
        if (!takesRest) {
          ++next;
          break;
        }
      }
    }
    std::wstring text = commented ? L"// " : L"";
    text += s_.names[row];
    for (size_t i = 0; i < params.size(); ++i) {
      const auto& p = params[i];
      if (values[i].size() == 1 && p.defaultText && values[i].front() == p.defaultText) continue;
      for (const auto& value : values[i]) text += L" " + std::wstring(p.name) + L"=" + QuoteValue(value);
    }
    for (; next < lines.size(); ++next) text += L" extra=" + QuoteValue(lines[next]);
    if (s_.identifiers[row] != DeriveStatementId(s_.productCode, row))
      text += L" id=" + QuoteValue(s_.identifiers[row]);
    if (const auto& media = Script::Column(s_.mediaColumn, row); !media.empty()) text += L" media=" + QuoteValue(media);
    return text;
  }

  const Script& s_;
  std::wstring out_;
};

}  // namespace

std::wstring QuoteValue(std::wstring_view value) {
  const bool bare = !value.empty() && value != L"{" &&
                    value.find_first_of(L" \t\"'#") == std::wstring_view::npos;
  if (bare) return std::wstring(value);
  const wchar_t quote = value.find(L'#') == std::wstring_view::npos ? L'"' : L'\'';
  std::wstring text(1, quote);
  for (const wchar_t c : value) {
    text.push_back(c);
    if (c == quote) text.push_back(quote);
  }
  text.push_back(quote);
  return text;
}

std::wstring WriteSource(const Script& script) { return Writer(script).Run(); }

}  // namespace qv::build
