#include "MachineSnapshot.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <windows.h>

#include <cstdio>

namespace qv::test {

namespace {

// Registry keys left out, named as the picture reads them (in both views,
// case ignored), each with its reason.
struct Exclusion {
  const wchar_t* path;
  const char* reason;
};
constexpr Exclusion kExcludedKeys[] = {
    {L"HKLM\\SOFTWARE\\Classes", "it is HKEY_CLASSES_ROOT, recorded as such"},
    {L"HKCU\\Software\\Wine\\MenuFiles",
     "Wine's menu builder mirrors each start-menu shortcut into the host's desktop menus and notes the host files here"},
    {L"HKCR\\Applications",
     "Wine itself adds \"Applications\\<program>.exe\" with \"IsHostApp\" for a program it starts from a new folder; "
     "no setup writes there"},
};

// Folders of the user's profile left out (below C:\users\<user>\).
constexpr const char* kHostFolder = "a link to the host's home folder (Wine maps the user's shell folders there)";
constexpr Exclusion kExcludedProfileFolders[] = {
    {L"Temp", "the test programs' temporary folder: the sandboxes live there and the test itself writes there"},
    {L"Desktop", kHostFolder},
    {L"Documents", kHostFolder},
    {L"Downloads", kHostFolder},
    {L"Music", kHostFolder},
    {L"Pictures", kHostFolder},
    {L"Videos", kHostFolder},
    {L"AppData\\Roaming\\Microsoft\\Windows\\Templates", kHostFolder},
};

std::wstring Hex(const BYTE* bytes, size_t size) {
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// A value's state as text: its type and its data, strings as text.
std::wstring DescribeValue(DWORD type, const std::vector<BYTE>& data) {
  const auto text = [&](size_t units) {
    std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), units);
    return s;
  };
  const size_t units = data.size() / sizeof(wchar_t);
  switch (type) {
    case REG_SZ:
      return L"REG_SZ \"" + std::wstring(text(units).c_str()) + L"\"";
    case REG_EXPAND_SZ:
      return L"REG_EXPAND_SZ \"" + std::wstring(text(units).c_str()) + L"\"";
    case REG_MULTI_SZ: {
      std::wstring s = text(units);
      for (wchar_t& c : s)
        if (c == L'\0') c = L'|';
      return L"REG_MULTI_SZ \"" + s + L"\"";
    }
    case REG_DWORD:
      if (data.size() == 4) return L"REG_DWORD " + std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
      break;
    case REG_QWORD:
      if (data.size() == 8)
        return L"REG_QWORD " + std::to_wstring(*reinterpret_cast<const unsigned long long*>(data.data()));
      break;
    default:
      break;
  }
  return L"type " + std::to_wstring(type) + L" bytes " + Hex(data.data(), data.size());
}

bool ExcludedKey(const std::wstring& path) {
  for (const Exclusion& e : kExcludedKeys)
    if (EqualsNoCase(path, e.path)) return true;
  return false;
}

}  // namespace

class SnapshotWalker {
public:
  SnapshotWalker(MachineSnapshot& snapshot, std::vector<std::wstring> ownFolders)
      : entries_(snapshot.entries_), ownFolders_(std::move(ownFolders)) {
    wchar_t profile[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH))
      for (const Exclusion& e : kExcludedProfileFolders) excludedFolders_.push_back(WithTrailingSlash(profile) + e.path);
  }

  // `name` is how the key reads in the picture ("HKLM\SOFTWARE"); `view` is
  // KEY_WOW64_64KEY or KEY_WOW64_32KEY; a 64-bit walk skips "Wow6432Node".
  void Registry(HKEY root, const std::wstring& rootName, const std::wstring& subkey, REGSAM view) {
    UniqueKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return;
    const std::wstring name = subkey.empty() ? rootName : rootName + L"\\" + subkey;
    Key(key.get(), name, view == KEY_WOW64_32KEY ? L" [32]" : L" [64]", view);
  }

  // HKEY_CLASSES_ROOT's 32-bit view: a predefined root ignores the view
  // flag, so the walk starts at its "Wow6432Node" and names it as the root.
  void Classes32() {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Wow6432Node", 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
      return;
    Key(key.get(), L"HKCR", L" [32]", KEY_WOW64_64KEY);
  }

  void Files(const std::wstring& folder) {
    for (const std::wstring& own : ownFolders_)
      if (EqualsNoCase(WithTrailingSlash(folder), WithTrailingSlash(own))) return;
    for (const std::wstring& excluded : excludedFolders_)
      if (EqualsNoCase(folder, excluded)) return;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileExW((WithTrailingSlash(folder) + L"*").c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) return;
    std::vector<std::wstring> subfolders;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = WithTrailingSlash(folder) + name;
      // Wine reports the archive attribute on every file; it tells nothing.
      const DWORD attributes = data.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        entries_[path + L"\\"] = L"folder, attributes " + std::to_wstring(attributes);
        // Links are recorded, never followed (Wine maps shell folders to host folders through them).
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) subfolders.push_back(path);
      } else {
        const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entries_[path] = L"file, " + std::to_wstring(size) + L" bytes, attributes " + std::to_wstring(attributes);
      }
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    for (const std::wstring& subfolder : subfolders) Files(subfolder);
  }

private:
  // `view` opens the subkeys; a walk in the 64-bit view skips "Wow6432Node".
  void Key(HKEY key, const std::wstring& name, const wchar_t* viewTag, REGSAM view) {
    const bool skipWow = view == KEY_WOW64_64KEY;
    entries_[name + viewTag] = L"key";
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxValueName,
                         &maxData, nullptr, nullptr) != ERROR_SUCCESS)
      return;
    std::vector<wchar_t> valueName(maxValueName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0; i < values; ++i) {
      DWORD nameLength = static_cast<DWORD>(valueName.size()), size = static_cast<DWORD>(data.size()), type = 0;
      if (RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        continue;
      const std::wstring valueText = nameLength ? std::wstring(valueName.data(), nameLength) : L"(default)";
      entries_[name + viewTag + L" @ " + valueText] =
          DescribeValue(type, std::vector<BYTE>(data.begin(), data.begin() + size));
    }
    std::vector<std::wstring> children;
    std::vector<wchar_t> childName(maxSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
      DWORD length = static_cast<DWORD>(childName.size());
      if (RegEnumKeyExW(key, i, childName.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        continue;
      children.emplace_back(childName.data(), length);
    }
    for (const std::wstring& child : children) {
      if (skipWow && EqualsNoCase(child, L"Wow6432Node")) continue;
      const std::wstring childPath = name + L"\\" + child;
      if (ExcludedKey(childPath)) continue;
      UniqueKey sub;
      if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | view, sub.put()) != ERROR_SUCCESS) continue;
      Key(sub.get(), childPath, viewTag, view);
    }
  }

  std::map<std::wstring, std::wstring>& entries_;
  std::vector<std::wstring> ownFolders_;
  std::vector<std::wstring> excludedFolders_;
};

MachineSnapshot MachineSnapshot::Take(const std::vector<std::wstring>& ownFolders) {
  MachineSnapshot snapshot;
  SnapshotWalker walker(snapshot, ownFolders);
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    walker.Registry(HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE", view);
    walker.Registry(HKEY_CURRENT_USER, L"HKCU", L"Software", view);
  }
  walker.Registry(HKEY_CLASSES_ROOT, L"HKCR", L"", KEY_WOW64_64KEY);
  walker.Classes32();
  walker.Registry(HKEY_LOCAL_MACHINE, L"HKLM", L"SYSTEM\\CurrentControlSet\\Services", KEY_WOW64_64KEY);
  walker.Registry(HKEY_LOCAL_MACHINE, L"HKLM", L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                  KEY_WOW64_64KEY);
  walker.Registry(HKEY_CURRENT_USER, L"HKCU", L"Environment", KEY_WOW64_64KEY);
  walker.Files(L"C:");
  return snapshot;
}

std::string MachineSnapshot::Diff(const MachineSnapshot& before, const MachineSnapshot& after,
                                  const std::vector<std::wstring>& kept) {
  const auto isKept = [&](const std::wstring& path) {
    for (const std::wstring& k : kept)
      if (k.ends_with(L'*') ? StartsWithNoCase(path, std::wstring_view(k).substr(0, k.size() - 1)) : EqualsNoCase(path, k))
        return true;
    return false;
  };
  std::wstring text;
  auto b = before.entries_.begin(), a = after.entries_.begin();
  while (b != before.entries_.end() || a != after.entries_.end()) {
    if (a == after.entries_.end() || (b != before.entries_.end() && b->first < a->first)) {
      if (!isKept(b->first)) text += L"- " + b->first + L" (" + b->second + L")\n";
      ++b;
    } else if (b == before.entries_.end() || a->first < b->first) {
      if (!isKept(a->first)) text += L"+ " + a->first + L" (" + a->second + L")\n";
      ++a;
    } else {
      if (a->second != b->second && !isKept(a->first))
        text += L"~ " + a->first + L" (" + b->second + L" -> " + a->second + L")\n";
      ++a;
      ++b;
    }
  }
  return WideToUtf8(text);
}

}  // namespace qv::test
