// Compiles script sources held in memory, so that tests can lay out files
// and includes without touching the disk.
#pragma once

#include "builder/SourceParser.h"

#include <map>
#include <string>

namespace qv::build::test {

// Source files by full path ("C:\src\main.qvs"); the main file is kMain.
inline const std::wstring kMain = L"C:\\src\\main.qvs";

// A complete @setup block, placed last so that statement lines count from 1.
inline const std::wstring kSetup =
    L"@setup product-code={11111111-2222-3333-4444-555555555555} revision-code={AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE} "
    L"title=Test\n";

class SourceFiles {
public:
  SourceFiles& Add(const std::wstring& path, const std::wstring& text);
  CompileResult Compile(const std::wstring& path = kMain,
                        std::vector<std::pair<std::wstring, std::wstring>> defines = {}) const;

private:
  std::map<std::wstring, std::string> files_;  // upper-cased path -> UTF-8
};

// Compiles a main file alone; fails the test on errors.
Script CompileOk(const std::wstring& mainText);

}  // namespace qv::build::test
