// "Set Environment": record fields 0 name, 1 value, 2 operation (0 set,
// 1 set only when missing, 2 delete), 3 position (0 before the existing
// value, 1 after it, 2 replacing it; joined without a separator), 4 remove
// at uninstall, 5 system-wide (HKEY_LOCAL_MACHINE's session environment,
// else HKEY_CURRENT_USER "Environment"). An expandable value stays
// expandable. Every change is broadcast to the top-level windows.
//
// Its undo, "Delete Environment", takes the recorded text back out as whole
// ";"-bounded elements, so a longer element that merely contains the text
// ("C:\App2" for "C:\App") survives the uninstall.
#include "native/ActionKinds.h"
#include "native/Executor.h"
#include "native/NativeLogs.h"

#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <cstdint>

namespace qv::native {

namespace {

constexpr wchar_t kMachineKey[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kUserKey[] = L"Environment";

struct Variable {
  bool exists = false;
  DWORD type = REG_SZ;
  std::wstring value;
};

Variable ReadVariable(HKEY key, const std::wstring& name) {
  Variable v;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return v;
  std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
      ERROR_SUCCESS)
    return v;
  v.exists = true;
  v.type = type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ;
  v.value = buffer.c_str();
  return v;
}

DWORD WriteVariable(HKEY key, const std::wstring& name, const std::wstring& value, DWORD type) {
  return static_cast<DWORD>(RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

DWORD DeleteVariable(HKEY key, const std::wstring& name) {
  const LONG status = RegDeleteValueW(key, name.c_str());
  return status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(status);
}

// Running programs (Explorer first) reread the environment; a hung window
// must not hold up the installation.
void BroadcastChange() {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 200, &ignored);
}

std::wstring ProgressText(const Fields& fields) { return Field(fields, 0) + L"=" + Field(fields, 1); }

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring& name = Field(fields, 0);
  const std::wstring& text = Field(fields, 1);
  const std::wstring& operation = Field(fields, 2);
  const std::wstring& position = Field(fields, 3);
  const bool system = IsTrueFlag(Field(fields, 5));
  const HKEY root = system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::wstring keyPath = system ? kMachineKey : kUserKey;
  const std::wstring object = (system ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\") + keyPath + L"\\" + name;

  UniqueKey key;
  bool recorded = false, changed = false;
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        if (!key)
          if (LONG status = RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0,
                                            KEY_QUERY_VALUE | KEY_SET_VALUE | RegistryView(thread.bitness()), nullptr,
                                            key.put(), nullptr))
            return static_cast<DWORD>(status);
        const Variable old = ReadVariable(key.get(), name);
        if (operation == L"2") {
          changed = old.exists;
          return DeleteVariable(key.get(), name);
        }
        if (operation == L"1" && old.exists) return 0;  // already set: nothing to do, nothing to undo
        std::wstring value = text;
        if (position == L"0") value = text + old.value;
        if (position == L"1") value = old.value + text;
        const bool replaced = position != L"0" && position != L"1";
        if (IsTrueFlag(Field(fields, 4)) && !recorded) {
          const int32_t rootCode = static_cast<int32_t>(reinterpret_cast<uintptr_t>(root));
          recorded = thread.RecordUndo(L"Set Environment", {std::to_wstring(rootCode), keyPath, name, text,
                                                             old.type == REG_EXPAND_SZ ? L"2" : L"1",
                                                             replaced ? L"TRUE" : L"FALSE"});
        }
        changed = true;
        return WriteVariable(key.get(), name, value, old.type);
      },
      object);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  if (changed) BroadcastChange();
  thread.Log(L"        < " + name + L"=" + text + L" >");
  return result;
}

struct Span {
  size_t begin, end;  // the element's text between its separators, blanks included
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<Span> Elements(std::wstring_view list, wchar_t separator) {
  std::vector<Span> spans;
  size_t begin = 0;
  for (size_t i = 0; i <= list.size(); ++i)
    if (i == list.size() || list[i] == separator) {
      spans.push_back({begin, i});
      begin = i + 1;
    }
  return spans;
}

// Where the element's own text starts, after its leading blanks.
size_t TextStart(std::wstring_view list, const Span& span) {
  size_t at = span.begin;
  while (at < span.end && IsBlank(list[at])) ++at;
  return at;
}

}  // namespace

std::optional<std::wstring> RemoveListElements(std::wstring_view list, std::wstring_view recorded, wchar_t separator,
                                               bool fromEnd) {
  while (!recorded.empty() && (recorded.front() == separator || IsBlank(recorded.front()))) recorded.remove_prefix(1);
  while (!recorded.empty() && (recorded.back() == separator || IsBlank(recorded.back()))) recorded.remove_suffix(1);
  if (recorded.empty()) return std::nullopt;
  const std::vector<Span> wanted = Elements(recorded, separator);
  const std::vector<Span> have = Elements(list, separator);
  if (wanted.size() > have.size()) return std::nullopt;
  const auto matchesAt = [&](size_t first) {
    for (size_t k = 0; k < wanted.size(); ++k) {
      const Span& h = have[first + k];
      const Span& w = wanted[k];
      if (!EqualsNoCase(Trim(list.substr(h.begin, h.end - h.begin)), Trim(recorded.substr(w.begin, w.end - w.begin))))
        return false;
    }
    return true;
  };
  const size_t runs = have.size() - wanted.size() + 1;
  for (size_t n = 0; n < runs; ++n) {
    const size_t first = fromEnd ? runs - 1 - n : n;
    if (!matchesAt(first)) continue;
    const size_t last = first + wanted.size() - 1;
    std::wstring rest(list);
    if (last + 1 < have.size())  // up to the next element's text, taking the separator after the run
      rest.erase(TextStart(list, have[first]), TextStart(list, have[last + 1]) - TextStart(list, have[first]));
    else if (first > 0)  // the run ends the list: the separator before it goes
      rest.erase(have[first].begin - 1);
    else
      rest.clear();
    return rest;
  }
  return std::nullopt;
}

// Data: root key handle, key, name, the text the install added, type (1 plain,
// 2 expandable), "TRUE" when it replaced the whole variable.
ActionResult DeleteEnvironment(TNativeThread& thread, const UndoEntry& entry) {
  const HKEY root = reinterpret_cast<HKEY>(static_cast<intptr_t>(ParseInt32(Field(entry.data, 0)).value_or(0)));
  const std::wstring& keyPath = Field(entry.data, 1);
  const std::wstring& name = Field(entry.data, 2);
  const std::wstring& text = Field(entry.data, 3);
  const DWORD type = Field(entry.data, 4) == L"2" ? REG_EXPAND_SZ : REG_SZ;
  const bool replaced = IsTrueFlag(Field(entry.data, 5));
  bool changed = false;
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        UniqueKey key;
        const LONG opened =
            RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | RegistryView(entry.bitness), key.put());
        if (opened == ERROR_FILE_NOT_FOUND) return 0;  // nothing left to remove
        if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
        const Variable current = ReadVariable(key.get(), name);
        if (!current.exists) return 0;
        if (replaced) {
          changed = true;
          return DeleteVariable(key.get(), name);
        }
        // Appended text starts with its separator, prepended text ends with
        // it: the copy the install made is the last or the first one.
        const bool appended = !text.empty() && text.front() == L';';
        const std::optional<std::wstring> rest = RemoveListElements(current.value, text, L';', appended);
        if (!rest) return 0;
        changed = true;
        return rest->empty() ? DeleteVariable(key.get(), name) : WriteVariable(key.get(), name, *rest, type);
      },
      name);
  if (result == ActionResult::kDone && changed) {
    BroadcastChange();
    thread.Log(L"          < " + name + L" >");
  }
  return result;
}

const ActionKind kSetEnvironmentAction = {L"Set Environment", ProgressText, Perform};

}  // namespace qv::native
