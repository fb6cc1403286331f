// The path-shaped string commands: "Convert Path", "Extract Path" and
// "Get Temporary File".
#include "commands/StringCommands.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

#include <windows.h>

namespace qv {

namespace {

// For getters that return the length written, or the size needed (with the
// terminator) when the buffer is too small, or 0 on failure.
template <typename Call>
std::wstring FillPathBuffer(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
  return {};
}

// %NAME% references expanded by the system; empty when that fails.
std::wstring ExpandEnvironment(const std::wstring& text) {
  const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring result(size, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), result.data(), size);
  if (written == 0 || written > size) return {};
  result.resize(written - 1);
  return result;
}

bool HasDrive(std::wstring_view path) {
  return (path.size() >= 2 && path[1] == L':') || path.starts_with(L"\\\\");
}

std::wstring FullPath(const std::wstring& path) {
  return FillPathBuffer([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
}

// The long or the 8.3 spelling the file system reports; the path itself when
// it reports none (short names can be switched off per volume).
std::wstring FileSystemForm(const std::wstring& path, bool longForm) {
  std::wstring form = FillPathBuffer([&](wchar_t* buffer, DWORD size) {
    return longForm ? GetLongPathNameW(path.c_str(), buffer, size) : GetShortPathNameW(path.c_str(), buffer, size);
  });
  return form.empty() ? path : form;
}

// The parts "Extract Path" offers. Folders end at the last backslash or
// drive colon, as the system's own path parsing does.
size_t LastSeparator(std::wstring_view path) { return path.find_last_of(L"\\:"); }

std::wstring FolderPart(std::wstring_view path) {
  const size_t at = LastSeparator(path);
  return at == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, at + 1));
}

std::wstring NamePart(std::wstring_view path) {
  const size_t at = LastSeparator(path);
  return std::wstring(at == std::wstring_view::npos ? path : path.substr(at + 1));
}

std::wstring ExtensionPart(std::wstring_view path) {
  const std::wstring name = NamePart(path);
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot + 1);
}

std::wstring BaseNamePart(std::wstring_view path) {
  std::wstring name = NamePart(path);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name;
}

// "C:" or "\\server\share"; empty for a relative path.
std::wstring DrivePart(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':') return std::wstring(path.substr(0, 2));
  if (!path.starts_with(L"\\\\")) return {};
  const size_t server = path.find(L'\\', 2);
  if (server == std::wstring_view::npos) return std::wstring(path);
  const size_t share = path.find(L'\\', server + 1);
  return std::wstring(share == std::wstring_view::npos ? path : path.substr(0, share));
}

// A trailing backslash for a folder that has one to carry: a relative file
// name has no folder, and "\" alone would name the root of the current drive.
std::wstring AsFolder(std::wstring_view folder) { return folder.empty() ? std::wstring() : WithTrailingSlash(folder); }

std::wstring ParentPart(std::wstring_view path) {
  std::wstring folder = FolderPart(path);
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return AsFolder(FolderPart(folder));
}

std::wstring PathPart(const std::wstring& path, int32_t part) {
  switch (part) {
    case 0: return NamePart(path);
    case 1: return BaseNamePart(path);
    case 2: return ExtensionPart(path);
    case 3: return AsFolder(FolderPart(path));
    case 4: return ParentPart(path);
    case 5: return AsFolder(DrivePart(path));
    case 6: return CollapseBackslashes(path);
    default: return path;
  }
}

}  // namespace

void ConvertPathStatement(StatementContext& c) {
  const std::wstring name = c.Parameter(1);
  const bool longForm = IsTrueFlag(c.Parameter(2));
  std::wstring path = ExpandPath(c.variables, c.variables.Get(name));
  // An empty path names no file; resolving it would name the setup folder.
  if (path.empty()) {
    c.SetResult(name, L"");
    return;
  }
  if (std::wstring expanded = ExpandEnvironment(path); !expanded.empty()) path = std::move(expanded);
  if (!HasDrive(path)) {
    const std::wstring base = ExpandPath(c.variables, c.variables.Get(L"SETUPPATH"));
    if (!base.empty()) path = WithTrailingSlash(base) + path;
  }
  if (std::wstring full = FullPath(path); !full.empty()) path = std::move(full);
  const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  c.SetResult(name, exists ? FileSystemForm(path, longForm) : std::wstring());
}

void ExtractPathStatement(StatementContext& c) {
  const std::wstring name = c.Parameter(1);
  const int32_t part = IntegerParameter(c, 2);
  c.SetResult(name, PathPart(ExpandPath(c.variables, c.variables.Get(name)), part));
}

void GetTemporaryFileStatement(StatementContext& c) {
  const std::wstring name = ReadVariableName(c.Parameter(1));
  std::wstring folder = ExpandPath(c.variables, c.variables.Get(L"TEMPDIR"));
  // Without TEMPDIR the system would create the file in the current folder.
  if (folder.empty()) folder = c.session.paths.tempFolder;
  std::wstring path;
  wchar_t buffer[MAX_PATH + 1] = {};
  if (!folder.empty() && GetTempFileNameW(folder.c_str(), L"zel", 0, buffer) != 0) path = buffer;
  c.variables.Set(UpperCase(name), path, c.Source());
}

}  // namespace qv
