// "Edit INI File": record fields 0 file, 1 section, 2 key, 3 value,
// 4 operation: 0 write, 1 write only when the key has no value yet, 2 delete
// the key, 3 put the value in front of the existing comma list, 4 take it out
// of that list. Writes 0, 1 and 3 record "Remove INI Entry" (with the value
// for 3, so that only the value leaves the list again).
//
// Taking a value out of a list removes a whole ","-bounded element: "App"
// leaves "MyApp, Other" as it is. A list left empty deletes the key.
//
// A write that brings the INI file into being records "Create INI File"
// first, so the undo can take away the file it made. The undo never takes
// more than the setup made: after "Remove INI Entry" deletes a key, the
// section goes only when nothing at all is left in it (not even a comment),
// and "Delete INI File" deletes the file only when it holds nothing but
// blanks.
#include "native/ActionKinds.h"
#include "native/Executor.h"
#include "native/NativeLogs.h"

#include "common/Files.h"
#include "common/Text.h"

#include <windows.h>

#include <cstring>
#include <cwctype>

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

// The file's text: UTF-16 with its byte-order mark, else the ANSI code page
// (the profile calls' two encodings). Empty when the file cannot be read.
std::wstring FileText(const std::wstring& file) {
  std::string bytes;
  try {
    bytes = ReadWholeFile(file);
  } catch (const std::exception&) {
    return {};
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    return text;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) return Utf8ToWide(std::string_view(bytes).substr(3));
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
  return text;
}

// The profile calls keep the file in a cache; this writes it out.
void FlushProfile(const std::wstring& file) { WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str()); }

// After the undo took the key away: the section goes when nothing is left in it.
DWORD RemoveSectionWhenEmpty(const std::wstring& file, const std::wstring& section) {
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  FlushProfile(file);
  if (!IniSectionIsEmpty(FileText(file), section)) return 0;
  if (WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, file.c_str())) return 0;
  const DWORD error = GetLastError();
  return error ? error : ERROR_WRITE_FAULT;
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

  bool createRecorded = false;
  bool recorded = false;
  const auto record = [&](const std::wstring& listValue) {
    if (!createRecorded && !recorded && GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
      createRecorded = thread.RecordUndo(L"Create INI File", {Field(fields, 0)});
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
    if (createRecorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"        < " + object + L" >");
  return result;
}

}  // namespace

bool IniSectionIsEmpty(std::wstring_view text, std::wstring_view section) {
  bool inSection = false, found = false;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find_first_of(L"\r\n", start);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && iswspace(line.front())) line.remove_prefix(1);
    while (!line.empty() && iswspace(line.back())) line.remove_suffix(1);
    if (line.starts_with(L'[')) {
      const size_t close = line.find(L']');
      std::wstring_view name = line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
      while (!name.empty() && iswspace(name.front())) name.remove_prefix(1);
      while (!name.empty() && iswspace(name.back())) name.remove_suffix(1);
      inSection = EqualsNoCase(name, section);
      found = found || inSection;
      continue;
    }
    if (inSection && !line.empty()) return false;
  }
  return found;
}

bool IniTextIsBlank(std::wstring_view text) {
  for (wchar_t c : text)
    if (!iswspace(c) && c != 0xFEFF) return false;
  return true;
}

// Data: file, section, key, the value an install put in front of a list (or
// empty: the key goes).
ActionResult RemoveIniEntry(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring file = MapPath(Field(entry.data, 0), entry.bitness);
  const std::wstring& section = Field(entry.data, 1);
  const std::wstring& key = Field(entry.data, 2);
  const std::wstring& value = Field(entry.data, 3);
  bool keyGone = false;
  ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        keyGone = false;
        if (value.empty()) {
          keyGone = true;
          return DeleteKey(file, section, key);
        }
        const std::wstring current = ReadKey(file, section, key);
        if (current.empty()) return 0;
        const std::optional<std::wstring> rest = WithoutValue(current, value);
        if (!rest) return 0;
        keyGone = rest->empty();
        return rest->empty() ? DeleteKey(file, section, key) : WriteKey(file, section, key, rest->c_str());
      },
      Describe(file, section, key, value));
  if (result != ActionResult::kDone) return result;
  thread.Log(L"          < " + Describe(file, section, key, value) + L" >");
  if (keyGone) {
    result = thread.Attempt([&] { return RemoveSectionWhenEmpty(file, section); }, file + L": [" + section + L"]");
  }
  return result;
}

// Data: the INI file a write brought into being. It goes only when nothing
// but blanks is left in it; anything else written there since stays.
ActionResult DeleteIniFile(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring file = MapPath(Field(entry.data, 0), entry.bitness);
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return ActionResult::kDone;
  FlushProfile(file);
  if (!IniTextIsBlank(FileText(file))) return ActionResult::kDone;
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(file.c_str()) || GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
        const DWORD error = GetLastError();
        return error ? error : ERROR_ACCESS_DENIED;
      },
      file);
  if (result == ActionResult::kDone) thread.Log(L"          < " + file + L" >");
  return result;
}

const ActionKind kEditIniFileAction = {L"Edit INI File", ProgressText, Perform};

}  // namespace qv::native
