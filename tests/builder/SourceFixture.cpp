#include "SourceFixture.h"

#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv::build::test {

SourceFiles& SourceFiles::Add(const std::wstring& path, const std::wstring& text) {
  files_[UpperCase(path)] = WideToUtf8(text);
  return *this;
}

CompileResult SourceFiles::Compile(const std::wstring& path,
                                   std::vector<std::pair<std::wstring, std::wstring>> defines) const {
  CompileOptions options;
  options.defines = std::move(defines);
  options.loader = [this](const std::wstring& full, std::wstring& error) -> std::optional<std::string> {
    const auto hit = files_.find(UpperCase(full));
    if (hit != files_.end()) return hit->second;
    error = L"file not found";
    return std::nullopt;
  };
  return CompileSource(path, options);
}

Script CompileOk(const std::wstring& mainText) {
  CompileResult result = SourceFiles().Add(kMain, mainText).Compile();
  for (const auto& error : result.errors) ADD_FAILURE() << WideToUtf8(error.ToString());
  return std::move(result.script);
}

}  // namespace qv::build::test
