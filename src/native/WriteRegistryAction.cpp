// "Write Registry": record fields 0 keep flag, 1 root code and machine
// ("2|SERVER"), 2 key, 3 value name, 4 data, 5 type (STRING, INTEGER,
// EXPANDSTRING, APPEND, PREPEND, BINARY). The registry view follows the
// record's bitness mode. The undo entry names the value and every key on the
// path the write creates, deepest first. With the permission override on,
// an existing key's security is taken over for the write and put back.
#include "native/ActionKinds.h"
#include "native/Executor.h"
#include "native/Security.h"

#include "common/Handles.h"
#include "common/Text.h"

#include <cstdint>
#include <vector>

namespace qv::native {

namespace {

// Data that is not a number for an INTEGER value.
constexpr DWORD kInvalidNumber = 1700;

struct Root {
  HKEY key;
  const wchar_t* name;
};

Root RootOf(std::wstring_view code) {
  if (code == L"0") return {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"};
  if (code == L"2") return {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"};
  if (code == L"3") return {HKEY_USERS, L"HKEY_USERS"};
  return {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"};
}

struct Target {
  Root root;
  std::wstring machine;  // used with HKEY_LOCAL_MACHINE and HKEY_USERS only, "\\" prefixed
  std::wstring rootAndMachine;
};

Target TargetOf(const std::wstring& field) {
  const size_t bar = field.find(L'|');
  Target t{RootOf(field.substr(0, bar)), bar == std::wstring::npos ? L"" : field.substr(bar + 1), L""};
  t.rootAndMachine = std::to_wstring(static_cast<int32_t>(reinterpret_cast<uintptr_t>(t.root.key))) + L"|" + t.machine;
  if (t.root.key != HKEY_LOCAL_MACHINE && t.root.key != HKEY_USERS) t.machine.clear();
  if (!t.machine.empty() && !t.machine.starts_with(L"\\\\")) t.machine = L"\\\\" + t.machine;
  return t;
}

// The root key on the machine of the record; the caller owns a remote one.
DWORD OpenRoot(const Target& t, UniqueKey& remote, HKEY& root) {
  root = t.root.key;
  if (t.machine.empty()) return 0;
  const LONG status = RegConnectRegistryW(t.machine.c_str(), t.root.key, remote.put());
  root = remote.get();
  return static_cast<DWORD>(status);
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view) {
  UniqueKey k;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, k.put()) == ERROR_SUCCESS;
}

// Keys on the path that do not exist yet, deepest first.
Fields MissingKeys(HKEY root, std::wstring key, REGSAM view) {
  Fields missing;
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  while (!key.empty() && !KeyExists(root, key, view)) {
    missing.push_back(key);
    const size_t slash = key.rfind(L'\\');
    if (slash == std::wstring::npos) break;
    std::wstring parent = key.substr(0, slash);
    if (parent == key) break;
    key = std::move(parent);
  }
  return missing;
}

std::vector<wchar_t> MultiString(const std::vector<std::wstring>& items) {
  std::vector<wchar_t> block;
  for (const std::wstring& item : items) {
    block.insert(block.end(), item.begin(), item.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

std::vector<std::wstring> ReadMultiString(HKEY key, const std::wstring& name) {
  DWORD type = 0, bytes = 0;
  std::vector<std::wstring> items;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_MULTI_SZ)
    return items;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) != ERROR_SUCCESS)
    return items;
  for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) items.emplace_back(p);
  return items;
}

bool HexBytes(std::wstring_view text, std::vector<BYTE>& bytes) {
  std::wstring digits;
  for (wchar_t c : text)
    if (c != L' ' && c != L',') digits += c;
  if (digits.size() % 2) return false;
  const auto nibble = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = nibble(digits[i]), low = nibble(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<BYTE>(high * 16 + low));
  }
  return true;
}

DWORD SetValue(HKEY key, const std::wstring& name, DWORD type, const void* data, size_t bytes) {
  return static_cast<DWORD>(
      RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)));
}

DWORD WriteValue(HKEY key, const std::wstring& name, const std::wstring& data, const std::wstring& type) {
  const size_t textBytes = (data.size() + 1) * sizeof(wchar_t);
  if (EqualsNoCase(type, L"STRING")) return SetValue(key, name, REG_SZ, data.c_str(), textBytes);
  if (EqualsNoCase(type, L"EXPANDSTRING")) return SetValue(key, name, REG_EXPAND_SZ, data.c_str(), textBytes);
  if (EqualsNoCase(type, L"INTEGER")) {
    const auto number = ParseInt64(data);
    if (!number || *number < INT32_MIN || *number > UINT32_MAX) return kInvalidNumber;
    const DWORD value = static_cast<DWORD>(*number);
    return SetValue(key, name, REG_DWORD, &value, sizeof(value));
  }
  if (EqualsNoCase(type, L"APPEND") || EqualsNoCase(type, L"PREPEND")) {
    std::vector<std::wstring> items = ReadMultiString(key, name);
    if (!items.empty() && items.back().empty()) items.pop_back();
    if (EqualsNoCase(type, L"APPEND"))
      items.push_back(data);
    else
      items.insert(items.begin(), data);
    const std::vector<wchar_t> block = MultiString(items);
    return SetValue(key, name, REG_MULTI_SZ, block.data(), block.size() * sizeof(wchar_t));
  }
  if (EqualsNoCase(type, L"BINARY")) {
    std::vector<BYTE> bytes;
    if (!HexBytes(data, bytes)) return ERROR_INVALID_DATA;
    return SetValue(key, name, REG_BINARY, bytes.data(), bytes.size());
  }
  return ERROR_INVALID_PARAMETER;
}

std::wstring ProgressText(const Fields& f) {
  return std::wstring(TargetOf(Field(f, 1)).root.name) + L"\\" + Field(f, 2) + L"\\" + Field(f, 3) + L"\\" + Field(f, 4);
}

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const bool keep = IsTrueFlag(Field(fields, 0));
  const Target target = TargetOf(Field(fields, 1));
  const std::wstring& keyPath = Field(fields, 2);
  const std::wstring& name = Field(fields, 3);
  const std::wstring& data = Field(fields, 4);
  const std::wstring& type = Field(fields, 5);
  const REGSAM view = RegistryView(thread.bitness());
  const std::wstring object = std::wstring(target.root.name) + L"\\" + keyPath + L"\\" + name;

  UniqueKey remote;
  HKEY root = nullptr;
  bool recorded = false;
  // An existing key's security is opened up for the write (once, on the
  // first attempt that reaches the machine) and put back after it.
  const SecurityPolicy security = SecurityPolicy::From(thread.variables());
  SavedSecurity saved;
  bool overrideTried = false;
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        if (!root)
          if (DWORD status = OpenRoot(target, remote, root)) return status;
        if (security.on && !overrideTried) {
          overrideTried = true;
          saved = OverrideSecurity(security, root, keyPath, view);
        }
        if (!keep && !recorded) {
          // The undo entry goes down before the first change.
          Fields undo = {target.rootAndMachine, keyPath, name};
          const Fields missing = MissingKeys(root, keyPath, view);
          undo.insert(undo.end(), missing.begin(), missing.end());
          recorded = thread.RecordUndo(L"Write Registry", undo);
        }
        UniqueKey key;
        if (LONG status = RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                                          nullptr, key.put(), nullptr))
          return static_cast<DWORD>(status);
        return WriteValue(key.get(), name, data, type);
      },
      object);
  RestoreSecurity(saved);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"        < " + std::wstring(target.root.name) + L"\\" + keyPath + L"\\ " + name + L" " + data + L" >");
  return result;
}

}  // namespace

const ActionKind kWriteRegistryAction = {L"Write Registry", ProgressText, Perform};

}  // namespace qv::native
