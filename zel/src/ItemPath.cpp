// Path rules of the module. The item rules are deliberately stricter than
// Windows itself: a name that only some Windows versions or file systems
// would misread is refused rather than guessed at.
#include "ItemPath.h"

#include <windows.h>

#include <array>

namespace zel {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Reserved DOS device names apply to the part before the first dot, with
// trailing spaces ignored ("NUL.txt", "nul .txt", "COM1.tar.gz").
bool IsDeviceName(std::wstring_view component) {
  std::wstring_view base = component.substr(0, component.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  static constexpr std::array<std::wstring_view, 7> kPlain = {L"CON", L"PRN", L"AUX", L"NUL",
                                                              L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (auto name : kPlain) {
    if (EqualsAsciiNoCase(base, name)) return true;
  }
  if (base.size() == 4 && (EqualsAsciiNoCase(base.substr(0, 3), L"COM") || EqualsAsciiNoCase(base.substr(0, 3), L"LPT"))) {
    const wchar_t d = base[3];
    // Digits, and the superscript digits Windows also treats as device numbers.
    return (d >= L'0' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
  }
  return false;
}

bool IsSafeComponent(std::wstring_view c) {
  if (c.empty() || c == L"." || c == L"..") return false;
  if (c.back() == L'.' || c.back() == L' ') return false;
  for (wchar_t ch : c) {
    if (ch < 32) return false;
    switch (ch) {
      case L'<': case L'>': case L':': case L'"': case L'|': case L'?': case L'*':
        return false;
      default: break;
    }
  }
  return !IsDeviceName(c);
}

}  // namespace

bool IsSafeItemPath(std::wstring_view path) {
  if (path.empty() || IsSeparator(path.front())) return false;
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    // A trailing separator (folder written as "a\") is harmless; any other
    // empty component is not.
    const bool last = end >= path.size() || end + 1 == path.size();
    if (!IsSafeComponent(path.substr(start, end - start))) return false;
    if (last) return true;
    start = end + 1;
  }
}

std::vector<std::wstring> SplitItemPath(std::wstring_view path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::wstring NormalizeItemPath(std::wstring_view path) {
  std::wstring out;
  for (const auto& part : SplitItemPath(path)) {
    if (!out.empty()) out += L'\\';
    out += part;
  }
  return out;
}

std::wstring FullPath(std::wstring_view path) {
  if (path.empty()) return {};
  std::wstring in(path);
  // GetFullPathNameW handles "\\?\" input by returning it unchanged; strip it
  // so that the rest of the module sees one form.
  if (in.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    in = L"\\\\" + in.substr(8);
  } else if (in.rfind(L"\\\\?\\", 0) == 0) {
    in = in.substr(4);
  }
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(in.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
    if (n == 0) return {};
    if (n < out.size()) {
      out.resize(n);
      break;
    }
    out.resize(n);
  }
  while (out.size() > 3 && IsSeparator(out.back())) out.pop_back();
  return out;
}

std::wstring ExtendedPath(std::wstring_view fullPath) {
  if (fullPath.rfind(L"\\\\?\\", 0) == 0) return std::wstring(fullPath);
  if (fullPath.size() >= 2 && IsSeparator(fullPath[0]) && IsSeparator(fullPath[1])) {
    return L"\\\\?\\UNC\\" + std::wstring(fullPath.substr(2));
  }
  return L"\\\\?\\" + std::wstring(fullPath);
}

bool IsWithin(std::wstring_view child, std::wstring_view folder) {
  while (!folder.empty() && IsSeparator(folder.back())) folder.remove_suffix(1);
  if (child.size() < folder.size()) return false;
  if (CompareStringOrdinal(child.data(), static_cast<int>(folder.size()), folder.data(),
                           static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  return child.size() == folder.size() || IsSeparator(child[folder.size()]);
}

std::wstring FoldCase(std::wstring_view text) {
  if (text.empty()) return {};
  std::wstring out(text);
  LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()), out.data(),
                static_cast<int>(out.size()), nullptr, nullptr, 0);
  return out;
}

bool HasWildcard(std::wstring_view text) { return text.find_first_of(L"*?") != std::wstring_view::npos; }

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text) {
  const std::wstring p = FoldCase(pattern);
  const std::wstring t = FoldCase(text);
  // Iterative matcher with one backtrack point: linear in practice.
  size_t pi = 0, ti = 0, star = std::wstring::npos, mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && (p[pi] == L'?' || p[pi] == t[ti] || (IsSeparator(p[pi]) && IsSeparator(t[ti])))) {
      ++pi;
      ++ti;
    } else if (pi < p.size() && p[pi] == L'*') {
      star = pi++;
      mark = ti;
    } else if (star != std::wstring::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == L'*') ++pi;
  return pi == p.size();
}

bool CreateFolderTree(const std::wstring& fullPath) {
  const std::wstring ext = ExtendedPath(fullPath);
  DWORD attributes = GetFileAttributesW(ext.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t slash = fullPath.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 2) {
    if (!CreateFolderTree(fullPath.substr(0, slash))) return false;
  }
  if (CreateDirectoryW(ext.c_str(), nullptr)) return true;
  attributes = GetFileAttributesW(ext.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace zel
