// File-system helpers shared by the engine, the builder and the tests: module
// and temporary paths, whole-file reads and writes, and tree removal that
// never follows links.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Full path of a loaded module (nullptr: the running executable).
std::wstring ModulePath(HMODULE module = nullptr);

// Folder part with its trailing backslash ("C:\a\b.exe" -> "C:\a\").
std::wstring FolderOf(std::wstring_view path);
// File name without folder.
std::wstring FileNameOf(std::wstring_view path);
// File name without folder and without its last extension.
std::wstring BaseNameOf(std::wstring_view path);
// Appends a backslash unless the text already ends in one.
std::wstring WithTrailingSlash(std::wstring_view folder);

// "\\?\" form of an absolute path, so that long paths work everywhere.
std::wstring LongPathForm(std::wstring_view path);

// The system temporary folder in its long form with a trailing backslash;
// created when missing.
std::wstring TemporaryFolder();

bool FileExists(std::wstring_view path);
bool FolderExists(std::wstring_view path);
uint64_t FileSize(std::wstring_view path);  // throws when the file cannot be opened

std::string ReadWholeFile(std::wstring_view path);
void WriteWholeFile(std::wstring_view path, std::string_view bytes);

// Deletes everything inside `folder`, `passes` times, leaving the folder
// itself, then removes the folder. Links and junctions are removed, never
// followed. Whatever cannot be deleted stays behind without an error.
void RemoveTree(std::wstring_view folder, int passes = 3);

// Creates a folder and any missing parents. Returns false on failure.
bool CreateFolders(std::wstring_view folder);

}  // namespace qv
