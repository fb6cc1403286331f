// Benchmarks that run inside Windows (under Wine here): start-up of an empty
// setup against a trivial program, payload extraction through the archive
// module, and variable store lookups. Prints figures; asserts nothing.
#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"
#include "media/ArchiveModule.h"
#include "script/Compiler.h"
#include "script/Script.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

DWORD RunProcess(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    qv::ThrowLastError(L"CreateProcess " + exe);
  qv::UniqueHandle process(info.hProcess), thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

double TimeRuns(const std::wstring& exe, const std::wstring& arguments, int runs) {
  RunProcess(exe, arguments);  // warm the file cache
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) RunProcess(exe, arguments);
  return Seconds(Clock::now() - start) / runs;
}

// Lays out an empty setup (no statements, empty payload) in `folder`.
std::wstring BuildEmptySetup(const std::wstring& outFolder, const std::wstring& folder) {
  qv::CreateFolders(folder + L"payload");
  qv::Script script;
  script.title = L"Empty";
  const std::wstring exe = folder + L"empty.exe";
  qv::WriteWholeFile(exe, qv::ReadWholeFile(outFolder + L"quorvane.exe") + qv::WriteScript(script));
  for (const wchar_t* file : {L"zel.lib", L"7z.dll"})
    CopyFileW((outFolder + file).c_str(), (folder + file).c_str(), FALSE);
  auto archives = qv::ArchiveModule::Load(outFolder);
  if (!archives.CreateFromFolder(folder + L"empty.res", folder + L"payload"))
    throw qv::Error(L"cannot create the empty payload");
  return exe;
}

int Startup(const std::wstring& outFolder, const std::wstring& work, int runs) {
  const std::wstring setup = BuildEmptySetup(outFolder, work);
  const double setupTime = TimeRuns(setup, L"/s", runs);
  const double trivialTime = TimeRuns(outFolder + L"trivial.exe", L"", runs);
  std::printf("startup: empty setup %.1f ms, trivial program %.1f ms, ratio %.2f (%d runs)\n", setupTime * 1000,
              trivialTime * 1000, setupTime / trivialTime, runs);
  return 0;
}

int Extract(const std::wstring& outFolder, const std::wstring& archive, const std::wstring& destination) {
  auto archives = qv::ArchiveModule::Load(outFolder);
  qv::RemoveTree(destination);
  const auto start = Clock::now();
  const bool ok = archives.ExtractAll(archive, destination, L"", true);
  const double seconds = Seconds(Clock::now() - start);
  if (!ok) {
    std::printf("extract: failed #%u\n", archives.LastError());
    return 1;
  }
  std::printf("extract-seconds %.3f\n", seconds);
  return 0;
}

// A script in memory: statement name and raw parameters.
qv::Script MakeScript(const std::vector<std::pair<std::wstring, std::vector<std::wstring>>>& statements) {
  qv::Script script;
  std::vector<std::wstring> parameters;
  for (size_t i = 0; i < statements.size(); ++i) {
    wchar_t id[48];
    swprintf(id, 48, L"{%08zX-0000-4000-8000-000000000000}", i);
    script.names.push_back(statements[i].first);
    script.identifiers.push_back(id);
    script.states.emplace_back();
    script.includeMarkers.push_back(L"0*0");
    script.sourceReferences.push_back(L"bench.qvs*" + std::to_wstring(i));
    if (statements[i].second.empty()) continue;
    parameters.push_back(id);
    parameters.insert(parameters.end(), statements[i].second.begin(), statements[i].second.end());
  }
  script.parameters = qv::ParameterTable(std::move(parameters));
  script.title = L"Bench";
  return script;
}

// Runs a setup whose loop executes 5 statements per pass, 20,000 passes.
int Interpreter(const std::wstring& outFolder, const std::wstring& work) {
  const int passes = 20000;
  const auto script = MakeScript({
      {L"Set Variable", {L"I", L"0"}},
      {L"While", {L"I", L"2", std::to_wstring(passes - 1), L"TRUE"}},
      {L"Mathematics", {L"$I$", L"1", L"0", L"I"}},
      {L"Set Variable", {L"TEXT", L"pass $I$"}},
      {L"If", {L"TEXT", L"1", L"never", L"FALSE"}},
      {L"End", {}},
      {L"Wend", {}},
  });
  qv::CreateFolders(work + L"payload");
  const std::wstring exe = work + L"loop.exe";
  qv::WriteWholeFile(exe, qv::ReadWholeFile(outFolder + L"quorvane.exe") + qv::WriteScript(script));
  for (const wchar_t* file : {L"zel.lib", L"7z.dll"}) CopyFileW((outFolder + file).c_str(), (work + file).c_str(), FALSE);
  if (!qv::ArchiveModule::Load(outFolder).CreateFromFolder(work + L"loop.res", work + L"payload"))
    throw qv::Error(L"cannot create the payload");
  const double baseline = TimeRuns(BuildEmptySetup(outFolder, work), L"/s", 3);
  const double seconds = TimeRuns(exe, L"/s", 3) - baseline;
  const double statements = passes * 5.0;
  std::printf("interpreter: %.0f statements per second (%d loop passes, %.2f s beyond an empty run)\n",
              statements / seconds, passes, seconds);
  return 0;
}

// The compilation pass over a 20,000-statement script of nested blocks.
int Compile() {
  std::vector<std::pair<std::wstring, std::vector<std::wstring>>> statements;
  statements.push_back({L"Set Variable", {L"A", L"1"}});
  while (statements.size() < 20000) {
    statements.push_back({L"If", {L"A", L"0", L"1", L"FALSE"}});
    statements.push_back({L"While", {L"A", L"0", L"2", L"FALSE"}});
    statements.push_back({L"Set Variable", {L"B", L"$A$"}});
    statements.push_back({L"Evaluate Expression", {L"$A$ = \"1\" and ($B$ <> \"2\")", L"R"}});
    statements.push_back({L"Wend", {}});
    statements.push_back({L"End", {}});
  }
  const auto script = MakeScript(statements);
  qv::Variables symbols;
  const auto start = Clock::now();
  const auto result = qv::CompileScript(script, symbols);
  const double seconds = Seconds(Clock::now() - start);
  std::printf("compile: %zu statements in %.1f ms (%ls)\n", statements.size(), seconds * 1000,
              result.message.c_str());
  return result.Passed() ? 0 : 1;
}

// Copies a tree file by file: the baseline for an installation.
void PlainCopy(const std::wstring& from, const std::wstring& to) {
  qv::CreateFolders(to);
  WIN32_FIND_DATAW data;
  qv::UniqueFind find(FindFirstFileW((from + L"*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      PlainCopy(from + name + L"\\", to + name + L"\\");
    else
      CopyFileW((from + name).c_str(), (to + name).c_str(), FALSE);
  } while (FindNextFileW(find.get(), &data));
}

// Installs 10,000 small files and 200 MB in four large files with logging
// on, against a plain copy of the same tree, then uninstalls the product.
int Install(const std::wstring& outFolder, const std::wstring& work) {
  qv::RemoveTree(work);
  const std::wstring setup = work + L"setup\\";
  const std::wstring data = setup + L"data\\";
  qv::CreateFolders(data + L"F3\\small");
  qv::CreateFolders(data + L"F4\\big");
  std::vector<std::wstring> table = {L"F3", L"NEWHEADER"};
  const std::string smallContent(100, 's');
  for (int i = 0; i < 10000; ++i) {
    const std::wstring name = L"small\\f" + std::to_wstring(i) + L".txt";
    qv::WriteWholeFile(data + L"F3\\" + name, smallContent);
    table.push_back(L"F3\\" + name);
    table.push_back(L"small");
  }
  table.insert(table.end(), {L"F4", L"NEWHEADER"});
  std::string bigContent(50u << 20, '\0');
  for (size_t i = 0; i < bigContent.size(); ++i) bigContent[i] = static_cast<char>((i * 2654435761u) >> 13);
  for (int i = 0; i < 4; ++i) {
    const std::wstring name = L"big\\b" + std::to_wstring(i) + L".bin";
    qv::WriteWholeFile(data + L"F4\\" + name, bigContent);
    table.push_back(L"F4\\" + name);
    table.push_back(L"big");
  }
  const std::wstring target = work + L"target\\";
  const auto files = [&](const wchar_t* source) {
    return std::pair<std::wstring, std::vector<std::wstring>>{
        L"Install Files", {source, L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"FALSE", L"", L"FALSE", L"FALSE",
                           L"FALSE", L"FALSE"}};
  };
  auto script = MakeScript({
      {L"Set Variable", {L"NATIVE_ENGINE", L"TRUE"}},
      {L"Set 64 Bit Mode", {L"FALSE", L"FALSE", L"TRUE"}},
      {L"If", {L"REMOVE", L"4", L"TRUE", L"TRUE"}},
      files(L"small"),
      files(L"big"),
      {L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}},
      {L"Else", {}},
      {L"Apply Changes", {L"", L"RESULT", L"FALSE", L"TRUE"}},
      {L"End", {}},
  });
  script.productCode = L"{BE0C0000-0000-4000-8000-000000000001}";
  script.revisionCode = L"{BE0C0000-0000-4000-8000-000000000002}";
  script.title = L"Quorvane Bench Product";
  script.headers = {L"3", L"F3", L"4", L"F4"};
  script.fileTable = table;
  const std::wstring exe = setup + L"bench.exe";
  qv::WriteWholeFile(exe, qv::ReadWholeFile(outFolder + L"quorvane.exe") + qv::WriteScript(script));
  for (const wchar_t* file : {L"zel.lib", L"7z.dll"}) CopyFileW((outFolder + file).c_str(), (setup + file).c_str(), FALSE);
  qv::CreateFolders(work + L"payload");
  if (!qv::ArchiveModule::Load(outFolder).CreateFromFolder(setup + L"bench.res", work + L"payload"))
    throw qv::Error(L"cannot create the payload");

  const auto copyStart = Clock::now();
  PlainCopy(data, work + L"copy\\");
  const double copySeconds = Seconds(Clock::now() - copyStart);
  const auto installStart = Clock::now();
  const DWORD installed = RunProcess(exe, L"/s");
  const double installSeconds = Seconds(Clock::now() - installStart);
  std::printf("install: 10,000 small files + 200 MB in %.2f s, plain copy %.2f s, ratio %.2f (exit %lu)\n",
              installSeconds, copySeconds, installSeconds / copySeconds, installed);

  wchar_t instance[1024] = {};
  DWORD size = sizeof(instance);
  RegGetValueW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + script.productCode).c_str(), nullptr,
               RRF_RT_REG_SZ, nullptr, instance, &size);
  const auto uninstallStart = Clock::now();
  const DWORD removed = RunProcess(std::wstring(instance) + L"bench.exe", L"/s REMOVE=TRUE MODIFY=FALSE");
  const double uninstallSeconds = Seconds(Clock::now() - uninstallStart);
  std::printf("uninstall: %.2f s, %.2f of the install time (exit %lu, %s left)\n", uninstallSeconds,
              uninstallSeconds / installSeconds, removed, qv::FolderExists(target + L"small") ? "files" : "nothing");
  qv::RemoveTree(work);
  return 0;
}

int Lookups() {
  qv::TVariableManager store;
  std::vector<std::wstring> names;
  for (int i = 0; i < 200; ++i) {
    names.push_back(L"VARIABLE_NAME_" + std::to_wstring(i));
    store.SetValue(names.back(), L"value " + std::to_wstring(i));
  }
  const int rounds = 10000;
  size_t total = 0;
  const auto start = Clock::now();
  for (int r = 0; r < rounds; ++r)
    for (const auto& name : names) total += store.GetValue(name).size();
  const double seconds = Seconds(Clock::now() - start);
  const double lookups = static_cast<double>(rounds) * static_cast<double>(names.size());
  std::printf("variables: %.2f million lookups per second (checksum %zu)\n", lookups / seconds / 1e6, total);
  const auto expandStart = Clock::now();
  for (int r = 0; r < rounds * 10; ++r) total += store.Expand(L"$VARIABLE_NAME_7$\\sub\\$VARIABLE_NAME_150$").size();
  std::printf("variables: %.2f million two-reference expansions per second\n",
              rounds * 10 / Seconds(Clock::now() - expandStart) / 1e6);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    const std::wstring outFolder = qv::FolderOf(qv::ModulePath());
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"startup" && argc > 2) return Startup(outFolder, qv::WithTrailingSlash(argv[2]), argc > 3 ? _wtoi(argv[3]) : 20);
    if (command == L"extract" && argc > 3) return Extract(outFolder, argv[2], argv[3]);
    if (command == L"lookups") return Lookups();
    if (command == L"interpreter" && argc > 2) return Interpreter(outFolder, qv::WithTrailingSlash(argv[2]));
    if (command == L"compile") return Compile();
    if (command == L"install" && argc > 2) return Install(outFolder, qv::WithTrailingSlash(argv[2]));
    std::fprintf(stderr, "usage: qvbench startup <work folder> [runs] | extract <archive> <folder> | lookups |"
                 " interpreter <work folder> | compile | install <work folder>\n");
    return 2;
  } catch (const qv::Error& error) {
    std::fprintf(stderr, "qvbench: %s\n", error.what());
    return 1;
  }
}
