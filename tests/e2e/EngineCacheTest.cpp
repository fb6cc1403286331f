// The engine cache seen from outside: the bootstrap's view of an installed
// product, the maintenance run from the cache, and the single-instance guard.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace qv::test {
namespace {

// A product code and revision code of this test alone, with their
// registration and cache folder removed at the end.
struct TestProduct {
  std::wstring productCode;
  std::wstring revisionCode;
  explicit TestProduct(int n) {
    wchar_t text[64];
    swprintf(text, 64, L"{C0FFEE00-0000-4000-8000-%012lX}", static_cast<unsigned long>(GetCurrentProcessId() * 100 + n));
    productCode = text;
    swprintf(text, 64, L"{BEEF0000-0000-4000-8000-%012lX}", static_cast<unsigned long>(GetCurrentProcessId() * 100 + n));
    revisionCode = text;
  }
  ~TestProduct() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      RegDeleteTreeW(root, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + productCode).c_str());
    RemoveTree(ShellFolder(CSIDL_COMMON_APPDATA) + revisionCode);
  }
  Script Make(const std::vector<Stmt>& statements) const {
    Script script = MakeScript(statements, L"Cached Product");
    script.productCode = productCode;
    script.revisionCode = revisionCode;
    return script;
  }
};

std::map<std::wstring, std::wstring> ReadPairs(const std::wstring& path) {
  std::map<std::wstring, std::wstring> pairs;
  for (const auto& line : ReadUtf8Lines(path)) pairs[line.substr(0, line.find(L'='))] = line.substr(line.find(L'=') + 1);
  return pairs;
}

std::vector<Stmt> Report(const std::wstring& out, std::initializer_list<const wchar_t*> names) {
  std::vector<Stmt> statements;
  for (const wchar_t* name : names)
    statements.push_back({L"Write to Text File", {out, std::wstring(name) + L"=$" + name + L"$", L"FALSE"}});
  return statements;
}

TEST(EngineCache, BootstrapTellsANewInstallFromAnInstalledProduct) {
  SetupSandbox sandbox;
  TestProduct product(1);
  const std::wstring out = sandbox.Root() + L"first.txt";
  const std::wstring exe =
      sandbox.Build(product.Make(Report(out, {L"ENGINECACHE", L"UNINSTALLLINK", L"MAINTENANCE", L"NEWINSTANCE",
                                              L"PRODUCTCODE", L"REVISIONCODE", L"NATIVE_OLDLOG"})),
                    {{L"a.txt", "a"}}, L"product");
  ASSERT_EQ(sandbox.Run(exe, L"/s").exitCode, 0u);
  auto seen = ReadPairs(out);
  const std::wstring instance = ShellFolder(CSIDL_COMMON_APPDATA) + product.revisionCode + L"\\";
  EXPECT_EQ(seen[L"ENGINECACHE"], instance);
  EXPECT_EQ(seen[L"UNINSTALLLINK"], instance + L"product.exe");
  EXPECT_EQ(seen[L"MAINTENANCE"], L"FALSE");
  EXPECT_EQ(seen[L"NEWINSTANCE"], L"FALSE");
  EXPECT_EQ(seen[L"PRODUCTCODE"], product.productCode);

  // Make the product installed: a valid engine cache, registered.
  CreateFolders(instance);
  for (const wchar_t* file : {L"zel.lib", L"product.exe", L"product.res", L"product.par"})
    CopyFileW((FolderOf(exe) + (std::wstring(file) == L"product.par" ? L"zel.lib" : file)).c_str(),
              (instance + file).c_str(), FALSE);
  WriteWholeFile(instance + L"product.dat", "\xEF\xBB\xBF$\r\n$\r\n$\r\n$\r\n$\r\n$\r\nD:\\Kept\r\nTRUE\r\nKept Menu\r\n\r\nCOLOR\r\nblue$NEWLINE$green\r\n");
  WriteWholeFile(instance + L"instance.dat",
                 WideToUtf8(product.productCode + L"\r\n" + product.revisionCode + L"\r\nCached Product\r\n"));
  UniqueKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + product.productCode).c_str(),
                            0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(instance.c_str()),
                 static_cast<DWORD>((instance.size() + 1) * 2));

  // The original setup run again: a new instance of an installed product.
  const std::wstring again = sandbox.Root() + L"again.txt";
  const std::wstring exe2 = sandbox.Build(
      product.Make(Report(again, {L"MAINTENANCE", L"NEWINSTANCE", L"TARGETDIR", L"STARTMENU"})), {{L"a.txt", "a"}},
      L"product");
  ASSERT_EQ(sandbox.Run(exe2, L"/s").exitCode, 0u);
  seen = ReadPairs(again);
  EXPECT_EQ(seen[L"MAINTENANCE"], L"TRUE");
  EXPECT_EQ(seen[L"NEWINSTANCE"], L"TRUE");
  EXPECT_EQ(seen[L"TARGETDIR"], L"D:\\Kept") << "the saved state is loaded";
  EXPECT_EQ(seen[L"STARTMENU"], L"Kept Menu");

  // The maintenance run from the cache itself.
  const std::wstring fromCache = sandbox.Root() + L"cache.txt";
  const std::wstring cachedExe = instance + L"product.exe";
  {
    std::string image = ReadWholeFile(FolderOf(exe2) + L"product.exe");
    const Script script = product.Make(Report(fromCache, {L"MAINTENANCE", L"NEWINSTANCE", L"COLOR"}));
    const std::string withScript = ReadWholeFile(std::wstring(QV_OUTPUT_DIR) + L"quorvane.exe") + WriteScript(script);
    WriteWholeFile(cachedExe, withScript);
    CopyFileW((FolderOf(exe2) + L"product.res").c_str(), (instance + L"product.res").c_str(), FALSE);
    CopyFileW((FolderOf(exe2) + L"7z.dll").c_str(), (instance + L"7z.dll").c_str(), FALSE);
  }
  ASSERT_EQ(sandbox.Run(cachedExe, L"/s REMOVE=TRUE MODIFY=FALSE").exitCode, 0u);
  seen = ReadPairs(fromCache);
  EXPECT_EQ(seen[L"MAINTENANCE"], L"TRUE");
  EXPECT_EQ(seen[L"NEWINSTANCE"], L"FALSE");
  // A remembered value with a line break comes back whole: written out, it spans two lines.
  const auto lines = ReadUtf8Lines(fromCache);
  const auto color = std::find(lines.begin(), lines.end(), L"COLOR=blue");
  ASSERT_NE(color, lines.end());
  ASSERT_NE(color + 1, lines.end());
  EXPECT_EQ(*(color + 1), L"green");
}

TEST(EngineCache, SingleInstanceGuardDiesWithItsProcess) {
  SetupSandbox sandbox;
  TestProduct product(2);
  const std::wstring go = sandbox.Root() + L"go.txt";
  const std::wstring started = sandbox.Root() + L"started.txt";
  Script script = product.Make({
      {L"Write to Text File", {started, L"$SUPPORTDIR$", L"FALSE"}},
      {L"Label", {L"wait"}},
      {L"Read from Text File", {go, L"LINE", L"EOF"}},
      {L"If", {L"LINE", L"0", L"go", L"TRUE"}},
      {L"GoTo Label", {L"wait"}},
      {L"End", {}},
  });
  script.compilerVariables = {L"SINGLEINSTANCE", L"true"};
  const std::wstring exe = sandbox.Build(script, {{L"a.txt", "a"}});

  const auto waitStarted = [&](size_t lines) {
    for (int i = 0; i < 600; ++i) {
      if (FileExists(started) && ReadUtf8Lines(started).size() >= lines) return true;
      Sleep(100);
    }
    return false;
  };
  HANDLE first = sandbox.Start(exe, L"/s");
  ASSERT_TRUE(waitStarted(1));
  const RunResult second = sandbox.Run(exe, L"/s", 30000);
  EXPECT_FALSE(second.timedOut);
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_EQ(ReadUtf8Lines(started).size(), 1u) << "the second instance never reached its first statement";

  // A killed run leaves nothing that blocks the next one.
  TerminateProcess(first, 9);
  WaitForSingleObject(first, 10000);
  CloseHandle(first);
  HANDLE third = sandbox.Start(exe, L"/s");
  EXPECT_TRUE(waitStarted(2));
  WriteWholeFile(go, "go\r\n");
  EXPECT_EQ(SetupSandbox::Wait(third, 30000).exitCode, 0u);
}

}  // namespace
}  // namespace qv::test
