#include "builder/SetupBuilder.h"

#include "builder/InstallData.h"
#include "builder/Payload.h"
#include "common/Error.h"
#include "common/Files.h"
#include "script/StubSize.h"

#include <windows.h>

namespace qv::build {

namespace {

std::span<const uint8_t> Bytes(std::string_view data) {
  return {reinterpret_cast<const uint8_t*>(data.data()), data.size()};
}

uint64_t CheckedStubSize(std::string_view file, const wchar_t* what) {
  const uint64_t size = StubSize(Bytes(file));
  if (size > file.size())
    throw Error(std::wstring(what) + L" is shorter than its own section table says; it is damaged or truncated");
  return size;
}

std::wstring FullPathOf(const std::wstring& path) {
  wchar_t buffer[32768];
  const DWORD size = GetFullPathNameW(path.c_str(), 32768, buffer, nullptr);
  return size == 0 || size >= 32768 ? path : std::wstring(buffer, size);
}

void CopyTool(const std::wstring& toolFolder, const wchar_t* name, const std::wstring& outputFolder) {
  const std::wstring from = toolFolder + name;
  if (!FileExists(from)) throw Error(L"Cannot find " + std::wstring(name) + L" in " + toolFolder);
  CheckWin32(CopyFileW(from.c_str(), (outputFolder + name).c_str(), FALSE), L"Copying " + from);
}

}  // namespace

std::string AppendScript(std::string_view stubFile, const Script& script) {
  const uint64_t size = CheckedStubSize(stubFile, L"The engine stub");
  std::string setup(stubFile.substr(0, size));
  setup += WriteScript(script);
  return setup;
}

Script ReadAppendedScript(std::string_view setupFile) {
  const uint64_t size = CheckedStubSize(setupFile, L"The setup executable");
  if (size == setupFile.size()) throw Error(L"The setup executable carries no script");
  return ReadScript(setupFile.substr(size));
}

BuildOutcome BuildSetup(BuildOptions options) {
  options.source = FullPathOf(options.source);
  const std::wstring sourceFolder = FolderOf(options.source);
  if (options.toolFolder.empty()) options.toolFolder = FolderOf(ModulePath());
  options.toolFolder = WithTrailingSlash(options.toolFolder);
  if (options.name.empty()) options.name = BaseNameOf(options.source);
  if (options.outputFolder.empty()) options.outputFolder = sourceFolder + options.name + L"-setup";
  options.outputFolder = WithTrailingSlash(FullPathOf(options.outputFolder));
  if (options.stub.empty()) options.stub = options.toolFolder + L"quorvane.exe";
  if (options.payloadFolder.empty() && FolderExists(sourceFolder + L"payload"))
    options.payloadFolder = sourceFolder + L"payload";

  if (!FileExists(options.source)) throw Error(L"Cannot find the script source " + options.source);

  BuildOutcome outcome;
  CompileOptions compile;
  compile.defines = options.defines;
  CompileResult compiled = CompileSource(options.source, compile);
  if (!compiled.errors.empty()) {
    outcome.errors = std::move(compiled.errors);
    return outcome;
  }
  const InstallData installData = PlanInstallData(compiled.script, sourceFolder, compiled.errors);
  if (!compiled.errors.empty()) {
    outcome.errors = std::move(compiled.errors);
    return outcome;
  }
  if (!options.payloadFolder.empty() && !FolderExists(options.payloadFolder))
    throw Error(L"The payload folder " + options.payloadFolder + L" does not exist");

  const std::string setup = AppendScript(ReadWholeFile(options.stub), compiled.script);
  if (!CreateFolders(options.outputFolder)) ThrowLastError(L"Creating the setup folder " + options.outputFolder);
  outcome.setupPath = options.outputFolder + options.name + L".exe";
  WriteWholeFile(outcome.setupPath, setup);
  CopyTool(options.toolFolder, L"zel.lib", options.outputFolder);
  CopyTool(options.toolFolder, L"7z.dll", options.outputFolder);
  WriteInstallData(installData, options.outputFolder);

  const std::wstring archive = options.outputFolder + options.name + L".res";
  DeleteFileW(archive.c_str());  // packing adds to an existing archive; start afresh
  if (!options.payloadFolder.empty()) {
    PackPayload(options.toolFolder, WithTrailingSlash(FullPathOf(options.payloadFolder)), archive);
  } else {
    // An empty payload: pack an empty folder, so the engine finds an archive it can extract.
    const std::wstring empty = TemporaryFolder() + L"qvbuild-empty-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateFolders(empty);
    try {
      PackPayload(options.toolFolder, empty, archive);
    } catch (...) {
      RemoveDirectoryW(empty.c_str());
      throw;
    }
    RemoveDirectoryW(empty.c_str());
  }
  return outcome;
}

}  // namespace qv::build
