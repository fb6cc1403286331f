// "Edit INI File": record fields 0 file, 1 section, 2 key, 3 value,
// 4 operation: 0 write, 1 write only when the key has no value yet, 2 delete
// the key, 3 put the value in front of the existing comma list, 4 take it out
// of that list. Writes 0, 1 and 3 record "Remove INI Entry" (with the value
// for 3, so that only the value leaves the list again).
//
// Taking a value out of a list removes a whole ","-bounded element: "App"
// leaves "MyApp, Other" as it is. A list left empty deletes the key.
#include "native/ActionKinds.h"
#include "native/Executor.h"
#include "native/NativeLogs.h"

#include <windows.h>

namespace qv::native {

namespace {

constexpr DWORD kValueBuffer = 266240;

std::wstring ReadKey(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
  std::wstring buffer(kValueBuffer, L'\0');
  const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(), kValueBuffer, file.c_str());
  buffer.resize(length);
  return buffer;
}

DWORD WriteKey(const std::wstring& file, const std::wstring& section, const std::wstring& key, const wchar_t* value) {
  if (WritePrivateProfileStringW(section.c_str(), key.c_str(), value, file.c_str())) return 0;
  const DWORD error = GetLastError();
  return error ? error : ERROR_WRITE_FAULT;
}

// A key that is already gone counts as deleted.
DWORD DeleteKey(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  return WriteKey(file, section, key, nullptr);
}

// The list without `value`, the way operation 4 and the undo take it out;
// nothing when it is not one of the list's elements.
std::optional<std::wstring> WithoutValue(const std::wstring& list, const std::wstring& value) {
  return RemoveListElements(list, value, L',', false);
}

std::wstring Describe(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                      const std::wstring& value) {
  return file + L": [" + section + L"] " + key + L"=" + value;
}

std::wstring ProgressText(const Fields& f) { return Describe(Field(f, 0), Field(f, 1), Field(f, 2), Field(f, 3)); }

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring file = MapPath(Field(fields, 0), thread.bitness());
  const std::wstring& section = Field(fields, 1);
  const std::wstring& key = Field(fields, 2);
  const std::wstring& value = Field(fields, 3);
  const std::wstring& operation = Field(fields, 4);
  const std::wstring object = Describe(file, section, key, value);

  bool recorded = false;
  const auto record = [&](const std::wstring& listValue) {
    if (!recorded) recorded = thread.RecordUndo(L"Edit INI File", {Field(fields, 0), section, key, listValue});
  };
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        const std::wstring current = ReadKey(file, section, key);
        if (operation == L"2") return DeleteKey(file, section, key);
        if (operation == L"4") {
          const std::optional<std::wstring> rest = WithoutValue(current, value);
          if (!rest) return 0;
          return rest->empty() ? DeleteKey(file, section, key) : WriteKey(file, section, key, rest->c_str());
        }
        if (operation == L"3") {
          record(value);
          const std::wstring list = current.empty() ? value : value + L", " + current;
          return WriteKey(file, section, key, list.c_str());
        }
        if (operation == L"1" && !current.empty()) return 0;  // has a value: nothing to do, nothing to undo
        record(L"");
        return WriteKey(file, section, key, value.c_str());
      },
      object);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"        < " + object + L" >");
  return result;
}

}  // namespace

// Data: file, section, key, the value an install put in front of a list (or
// empty: the key goes).
ActionResult RemoveIniEntry(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring file = MapPath(Field(entry.data, 0), entry.bitness);
  const std::wstring& section = Field(entry.data, 1);
  const std::wstring& key = Field(entry.data, 2);
  const std::wstring& value = Field(entry.data, 3);
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        if (value.empty()) return DeleteKey(file, section, key);
        const std::wstring current = ReadKey(file, section, key);
        if (current.empty()) return 0;
        const std::optional<std::wstring> rest = WithoutValue(current, value);
        if (!rest) return 0;
        return rest->empty() ? DeleteKey(file, section, key) : WriteKey(file, section, key, rest->c_str());
      },
      Describe(file, section, key, value));
  if (result == ActionResult::kDone) thread.Log(L"          < " + Describe(file, section, key, value) + L" >");
  return result;
}

const ActionKind kEditIniFileAction = {L"Edit INI File", ProgressText, Perform};

}  // namespace qv::native
