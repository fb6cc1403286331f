// Item paths inside archives and file-system paths outside them: the rules
// that keep extraction inside its destination, and the path forms the module
// hands to Win32.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zel {

// True when an archive item path may be written under a destination folder:
// relative, no drive or stream colon, no "." or ".." or empty component, no
// device name (CON, NUL, COM1, LPT1, ... with or without extension), no
// character Windows forbids in names, no component ending in a dot or space.
// Both '/' and '\' separate components.
bool IsSafeItemPath(std::wstring_view path);

// The components of an item path ('/' and '\' separators, empty ones dropped).
std::vector<std::wstring> SplitItemPath(std::wstring_view path);

// The item path with '\' separators and no empty components.
std::wstring NormalizeItemPath(std::wstring_view path);

// Absolute form of a path (GetFullPathNameW), without trailing separator
// except for a drive root. Empty on failure.
std::wstring FullPath(std::wstring_view path);

// The "\\?\" form of an absolute path, so that long paths work in Win32 calls.
std::wstring ExtendedPath(std::wstring_view fullPath);

// True when `child` (absolute) is `folder` (absolute) or lies below it.
bool IsWithin(std::wstring_view child, std::wstring_view folder);

// Invariant upper case, for case-blind keys.
std::wstring FoldCase(std::wstring_view text);

// '*' and '?' matching, case ignored. '*' also matches '\'.
bool WildcardMatch(std::wstring_view pattern, std::wstring_view text);
bool HasWildcard(std::wstring_view text);

// Creates a folder and its missing parents (absolute path).
bool CreateFolderTree(const std::wstring& fullPath);

}  // namespace zel
