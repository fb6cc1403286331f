#include "bootstrap/CommandLine.h"

#include "common/Text.h"

#include <windows.h>
#include <shellapi.h>

namespace qv {

namespace {

// Splits like the C runtime does, and drops the program name.
std::vector<std::wstring> SplitArguments(std::wstring_view commandLine) {
  std::vector<std::wstring> arguments;
  if (commandLine.empty()) return arguments;
  int count = 0;
  const std::wstring text(commandLine);
  LPWSTR* argv = CommandLineToArgvW(text.c_str(), &count);
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

bool IsSwitch(std::wstring_view argument, std::wstring_view name) {
  return argument.size() == name.size() + 1 && (argument[0] == L'/' || argument[0] == L'-') &&
         EqualsNoCase(argument.substr(1), name);
}

bool HasSwitch(const std::vector<std::wstring>& arguments, std::initializer_list<std::wstring_view> names) {
  for (const auto& argument : arguments)
    for (auto name : names)
      if (IsSwitch(argument, name)) return true;
  return false;
}

// The first argument whose lower-case text contains one of the patterns
// gives the value: its lower-case text without the first three characters.
std::wstring PathValue(const std::vector<std::wstring>& arguments, std::initializer_list<std::wstring_view> patterns) {
  for (const auto& argument : arguments) {
    const std::wstring lower = LowerCase(argument);
    for (auto pattern : patterns)
      if (lower.find(pattern) != std::wstring::npos) return lower.size() > 3 ? lower.substr(3) : std::wstring();
  }
  return {};
}

std::vector<std::wstring> Overrides(const std::vector<std::wstring>& arguments, wchar_t separator) {
  std::vector<std::wstring> pairs;
  for (const auto& argument : arguments) {
    if (argument.empty() || argument[0] == L'/' || argument[0] == L'-') continue;
    const size_t at = argument.find(separator);
    if (at == std::wstring::npos) continue;
    pairs.push_back(UpperCase(argument.substr(0, at)));
    pairs.push_back(argument.substr(at + 1));
  }
  return pairs;
}

}  // namespace

std::wstring RawArguments(std::wstring_view line) {
  if (!line.empty() && line[0] == L'"') {
    line.remove_prefix(1);
    const size_t quote = line.find(L'"');
    if (quote == std::wstring_view::npos) return {};
    const size_t start = quote + 2;  // the closing quote and the one character after it
    return start >= line.size() ? std::wstring() : std::wstring(line.substr(start));
  }
  const size_t space = line.find(L' ');
  return space == std::wstring_view::npos ? std::wstring() : std::wstring(line.substr(space + 1));
}

CommandLine ParseCommandLine(std::wstring_view processCommandLine) {
  CommandLine result;
  result.raw = RawArguments(processCommandLine);
  result.arguments = SplitArguments(processCommandLine);
  const auto& args = result.arguments;
  result.outOfProcessExtract = !args.empty() && args[0] == L"OutOfProcessExtract";
  result.silent = HasSwitch(args, {L"s", L"qn"});
  result.noWindow = HasSwitch(args, {L"update", L"updatesetup"});
  result.deploymentPath = PathValue(args, {L"/g="});
  result.wrapperPath = PathValue(args, {L"/m="});
  result.logPath = PathValue(args, {L"/l=", L"-l="});
  result.sourcePath = PathValue(args, {L"/p=", L"-p="});
  result.plainOverrides = Overrides(args, L'=');
  result.strictOverrides = Overrides(args, L':');
  return result;
}

}  // namespace qv
