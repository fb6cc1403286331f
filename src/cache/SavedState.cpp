#include "cache/SavedState.h"

#include "commands/TextFiles.h"
#include "common/Text.h"

#include <array>

namespace qv {

namespace {

constexpr std::wstring_view kListEnd = L"$";
constexpr std::wstring_view kBitnessName = L"QIVA64WOW";
constexpr std::wstring_view kOverrideName = L"OVERRIDECACHE";
constexpr std::wstring_view kNativeEngineName = L"NATIVE_ENGINE";

std::wstring EncodeLine(std::wstring_view value) {
  std::wstring result;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == L'\r' && i + 1 < value.size() && value[i + 1] == L'\n') {
      result += L"$NEWLINE$";
      ++i;
    } else if (value[i] == L'\r' || value[i] == L'\n') {
      result += L"$NEWLINE$";
    } else {
      result += value[i];
    }
  }
  return result;
}

std::wstring DecodeLine(std::wstring_view line) { return ReplaceAllNoCase(line, L"$NEWLINE$", L"\r\n"); }

// The component lists in the order the file keeps them.
template <typename Lists>
auto InFileOrder(Lists& lists) {
  return std::array{&lists.names, &lists.selection, &lists.deleted, &lists.hidden, &lists.fixed, &lists.sizes};
}

}  // namespace

std::string FormatSavedState(const SavedState& state) {
  std::wstring text;
  const auto line = [&](std::wstring_view value) {
    text += EncodeLine(value);
    text += L"\r\n";
  };
  for (const auto* list : InFileOrder(state.components)) {
    for (const auto& entry : *list) line(entry);
    line(kListEnd);
  }
  line(state.targetDir);
  line(state.allUsers);
  line(state.startMenu);
  line(state.dataFolder);
  for (const auto& [name, value] : state.remembered) {
    line(name);
    line(value);
  }
  line(kBitnessName);
  line(state.bitness.value_or(L"Win32"));
  line(kOverrideName);
  line(state.overrideCache.value_or(L""));
  line(kNativeEngineName);
  line(state.nativeEngine.value_or(L""));
  return "\xEF\xBB\xBF" + WideToUtf8(text);
}

std::optional<SavedState> ParseSavedState(std::string_view bytes) {
  const std::vector<std::wstring> lines = SplitUtf8Lines(bytes);
  SavedState state;
  size_t i = 0;
  for (auto* list : InFileOrder(state.components)) {
    while (i < lines.size() && lines[i] != kListEnd) list->push_back(DecodeLine(lines[i++]));
    if (i == lines.size()) return std::nullopt;  // a list without its end: not a saved state
    ++i;
  }
  if (i + 4 > lines.size()) return state;
  state.hasSettings = true;
  state.targetDir = DecodeLine(lines[i++]);
  state.allUsers = DecodeLine(lines[i++]);
  state.startMenu = DecodeLine(lines[i++]);
  state.dataFolder = DecodeLine(lines[i++]);
  for (; i + 1 < lines.size(); i += 2) {
    const std::wstring& name = lines[i];
    std::wstring value = DecodeLine(lines[i + 1]);
    if (name == kBitnessName)
      state.bitness = std::move(value);
    else if (name == kOverrideName)
      state.overrideCache = std::move(value);
    else if (name == kNativeEngineName)
      state.nativeEngine = std::move(value);
    else if (!name.empty())
      state.remembered.emplace_back(name, std::move(value));
  }
  return state;
}

}  // namespace qv
