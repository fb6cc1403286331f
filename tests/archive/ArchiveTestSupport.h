// Shared fixtures of the archive tests: a throw-away folder per test, small
// file helpers, a snapshot of a folder tree for exact comparisons, and the
// archive module loaded from the build's output folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/ArchiveModule.h"

namespace qvtest {

// A temporary folder, removed with everything in it when the test ends.
class Sandbox {
public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::wstring& root() const { return root_; }
  // root + '\' + relative
  std::wstring Path(const std::wstring& relative) const;

private:
  std::wstring root_;
};

void RemoveTree(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& data);  // creates parent folders
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
void MakeFolders(const std::wstring& path);

// Pseudo-random bytes (deterministic per seed), poorly compressible.
std::string RandomBytes(size_t size, uint32_t seed);

// Relative path (as found on disk) -> content; folders map to "<dir>".
using Tree = std::map<std::wstring, std::string>;
Tree Snapshot(const std::wstring& folder);

// The archive module from the output folder (loaded once per process).
qv::ArchiveModule& Module();
// The output folder holding zel.lib and 7z.dll, without trailing backslash.
std::wstring OutputFolder();

}  // namespace qvtest
