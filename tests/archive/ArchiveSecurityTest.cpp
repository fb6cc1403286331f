// Hostile archives and hostile DLL placement: an item path must never lead
// outside the destination, and 7z.dll must only come from the folder the
// module was told (or its own).
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "ArchiveTestSupport.h"
#include "ItemPath.h"
#include "Update.h"
#include "zel/zel.h"

namespace qvtest {
namespace {

TEST(ItemPathRules, SafeAndUnsafeNames) {
  struct Case {
    const wchar_t* path;
    bool safe;
  };
  const Case cases[] = {
      {L"a.txt", true},
      {L"dir/sub/file.bin", true},
      {L"dir\\sub\\file.bin", true},
      {L"folder\\", true},
      {L"my.con", true},
      {L"CONSOLE.txt", true},
      {L"COM10.txt", true},
      {L"..data", true},
      {L"\u65E5\u672C\\\u00FC.txt", true},
      {L"", false},
      {L"..", false},
      {L".", false},
      {L"../evil.txt", false},
      {L"..\\evil.txt", false},
      {L"a/../../evil.txt", false},
      {L"./a", false},
      {L"a//b", false},
      {L"/x", false},
      {L"\\x", false},
      {L"C:\\x", false},
      {L"C:x", false},
      {L"c:/x", false},
      {L"\\\\?\\C:\\x", false},
      {L"\\\\server\\share\\x", false},
      {L"NUL", false},
      {L"NUL.txt", false},
      {L"nul .txt", false},
      {L"dir/con", false},
      {L"AUX.tar.gz", false},
      {L"PRN", false},
      {L"COM1", false},
      {L"lpt9.log", false},
      {L"COM\u00B9", false},
      {L"CONIN$", false},
      {L"a:stream", false},
      {L"file.txt::$DATA", false},
      {L"trailing.", false},
      {L"trailing ", false},
      {L"dir./x", false},
      {L"bad|name", false},
      {L"what?", false},
      {L"star*", false},
      {L"ctl\x01", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zel::IsSafeItemPath(c.path), c.safe) << "path: " << testing::PrintToString(std::wstring(c.path));
  }
}

TEST(ItemPathRules, SwitchesParseLikeSevenZipsCommandLine) {
  using Kind = zel::Property::Kind;
  struct Expected {
    const wchar_t* name;
    Kind kind;
    uint64_t number;
    const wchar_t* text;
  };
  const auto props = zel::ParseSwitches(L"-ssw -mhe=on  -mmt=2 -m1d=26 -mb0s1:2 -mqs+ -mtm- ");
  const Expected expected[] = {
      {L"he", Kind::Text, 0, L"on"},   {L"mt", Kind::Number, 2, L""}, {L"1d", Kind::Number, 26, L""},
      {L"b0s1:2", Kind::Empty, 0, L""}, {L"qs", Kind::Bool, 0, L""},  {L"tm", Kind::Bool, 0, L""},
  };
  ASSERT_EQ(props.size(), std::size(expected));
  for (size_t i = 0; i < props.size(); ++i) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(expected[i].name)));
    EXPECT_EQ(props[i].name, expected[i].name);
    EXPECT_EQ(props[i].kind, expected[i].kind);
    if (expected[i].kind == Kind::Number) {
      EXPECT_EQ(props[i].number, expected[i].number);
    }
    if (expected[i].kind == Kind::Text) {
      EXPECT_EQ(props[i].text, expected[i].text);
    }
  }
  EXPECT_TRUE(props[4].flag);
  EXPECT_FALSE(props[5].flag);

  for (const wchar_t* bad : {L"-r", L"-m", L"-m=5", L"x", L"-p secret"}) {
    try {
      zel::ParseSwitches(bad);
      ADD_FAILURE() << "accepted: " << testing::PrintToString(std::wstring(bad));
    } catch (const zel::Failure& f) {
      EXPECT_EQ(f.code, ZEL_E_SWITCHES);
    }
  }
}

// The engine retries on 1018 only: every way 7-Zip or Windows says "out of
// memory" must arrive as that code.
TEST(ErrorCodes, HresultsMapToModuleCodes) {
  struct Case {
    const char* name;
    HRESULT hr;
    uint32_t expected;
  };
  const Case cases[] = {
      {"E_OUTOFMEMORY", E_OUTOFMEMORY, ZEL_E_OUT_OF_MEMORY},
      {"Win32 not enough memory", HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), ZEL_E_OUT_OF_MEMORY},
      {"Win32 out of memory", HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY), ZEL_E_OUT_OF_MEMORY},
      {"E_ABORT", E_ABORT, ZEL_E_CANCELLED},
      {"E_NOTIMPL", E_NOTIMPL, ZEL_E_UNSUPPORTED_METHOD},
      {"disk full", HRESULT_FROM_WIN32(ERROR_DISK_FULL), ZEL_E_WRITE_FILE},
      {"anything else", E_FAIL, ZEL_E_DATA},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zel::CodeFromHresult(c.hr, ZEL_E_DATA), c.expected) << c.name;
  }
}

// Every hostile name is packed next to a harmless file; extracting must
// refuse the archive before writing either of them.
TEST(HostileArchive, UnsafeItemPathRefusesTheWholeArchive) {
  const wchar_t* hostile[] = {
      L"../evil.txt",       L"..\\evil.txt",  L"sub/../../evil.txt", L"C:\\evil.txt", L"C:evil.txt",
      L"\\\\?\\C:\\evil.txt", L"/evil.txt",     L"\\evil.txt",         L"NUL.txt",      L"con",
      L"dir/COM1.log",      L"a:stream",      L"ok.txt:hidden",      L"sub/..",       L"evil. ",
  };
  auto& m = Module();
  for (const wchar_t* name : hostile) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    Sandbox box;
    const std::wstring archive = box.Path(L"hostile.7z");
    zel::WriteRawArchive(archive, {{L"ok.txt", "fine", false}, {name, "evil", false}}, L"");
    const Tree before = Snapshot(box.root());

    EXPECT_FALSE(m.ExtractAll(archive, box.Path(L"dest\\inner")));
    EXPECT_EQ(m.LastError(), ZEL_E_UNSAFE_PATH);
    // Nothing at all was written: not the harmless file, not the destination.
    EXPECT_TRUE(Snapshot(box.root()) == before);
    EXPECT_FALSE(Exists(L"C:\\evil.txt"));

    // Flat extraction would drop the folders, but the archive is still refused.
    EXPECT_FALSE(m.Extract(archive, box.Path(L"flat"), {}, L"", true, true));
    EXPECT_EQ(m.LastError(), ZEL_E_UNSAFE_PATH);

    // Listing and testing do not write, so they still work.
    auto listing = m.List(archive);
    ASSERT_TRUE(listing.has_value()) << m.LastError();
    EXPECT_EQ(listing->size(), 2u);
    EXPECT_TRUE(m.Test(archive)) << m.LastError();
  }
}

std::vector<std::wstring> LoadedModulesNamed(const wchar_t* name) {
  std::vector<std::wstring> paths;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snap == INVALID_HANDLE_VALUE) return paths;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Module32FirstW(snap, &entry); ok; ok = Module32NextW(snap, &entry)) {
    if (lstrcmpiW(entry.szModule, name) == 0) paths.push_back(entry.szExePath);
  }
  CloseHandle(snap);
  return paths;
}

bool AnyUnder(const std::vector<std::wstring>& paths, const std::wstring& folder) {
  for (const auto& p : paths) {
    if (CompareStringOrdinal(p.c_str(), static_cast<int>(folder.size()), folder.c_str(), static_cast<int>(folder.size()),
                             TRUE) == CSTR_EQUAL) {
      return true;
    }
  }
  return false;
}

// A copy of the module in a folder of its own; 7z.dll is planted in the
// current folder, in PATH and in the DLL directory, where the search path
// would find it.
TEST(SevenZipLoading, OnlyTheConfiguredFolderIsUsed) {
  struct Case {
    const char* name;
    bool dllBesideModule;     // 7z.dll copied next to the module copy
    bool callSetDirectory;    // Set7zipDllDirectory(module folder) first
    bool expectSuccess;
  };
  const Case cases[] = {
      {"no 7z.dll where told, planted elsewhere", false, true, false},
      {"no 7z.dll beside the module, default folder", false, false, false},
      {"7z.dll beside the module, default folder", true, false, true},
      {"7z.dll where told", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    const std::wstring moduleDir = box.Path(L"module");
    const std::wstring planted = box.Path(L"planted");
    MakeFolders(moduleDir);
    MakeFolders(planted);
    ASSERT_TRUE(CopyFileW((OutputFolder() + L"\\zel.lib").c_str(), (moduleDir + L"\\zel.lib").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((OutputFolder() + L"\\7z.dll").c_str(), (planted + L"\\7z.dll").c_str(), FALSE));
    if (c.dllBesideModule) {
      ASSERT_TRUE(CopyFileW((OutputFolder() + L"\\7z.dll").c_str(), (moduleDir + L"\\7z.dll").c_str(), FALSE));
    }
    WriteBytes(box.Path(L"src\\f.txt"), "f");
    const std::wstring archive = box.Path(L"a.7z");
    ASSERT_TRUE(Module().CreateFromFolder(archive, box.Path(L"src"))) << Module().LastError();

    wchar_t oldDir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, oldDir);
    SetCurrentDirectoryW(planted.c_str());
    SetDllDirectoryW(planted.c_str());
    const DWORD pathSize = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring oldPath(pathSize, L'\0');
    GetEnvironmentVariableW(L"PATH", oldPath.data(), pathSize);
    oldPath.resize(pathSize ? pathSize - 1 : 0);
    SetEnvironmentVariableW(L"PATH", (planted + L";" + oldPath).c_str());

    HMODULE zel = LoadLibraryExW((moduleDir + L"\\zel.lib").c_str(), nullptr,
                                 LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(zel, nullptr);
    auto setDir = reinterpret_cast<ZEL_SET_7ZIP_DLL_DIRECTORY>(GetProcAddress(zel, "Set7zipDllDirectory"));
    auto test = reinterpret_cast<ZEL_TEST_ARCHIVE>(GetProcAddress(zel, "TestArchive"));
    auto lastError = reinterpret_cast<ZEL_GET_LAST_ARCHIVE_ERROR>(GetProcAddress(zel, "GetLastArchiveError"));
    ASSERT_TRUE(setDir && test && lastError);
    if (c.callSetDirectory) {
      EXPECT_TRUE(setDir(moduleDir.c_str()));
    }
    const BOOL ok = test(archive.c_str(), 0, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    const uint32_t code = lastError();
    const auto loaded = LoadedModulesNamed(L"7z.dll");

    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    SetDllDirectoryW(nullptr);
    SetCurrentDirectoryW(oldDir);

    EXPECT_EQ(ok != FALSE, c.expectSuccess) << code;
    if (!c.expectSuccess) {
      EXPECT_EQ(code, ZEL_E_NO_7ZIP);
    }
    EXPECT_FALSE(AnyUnder(loaded, planted)) << "the planted 7z.dll was loaded";
    EXPECT_EQ(AnyUnder(loaded, moduleDir), c.expectSuccess);
    // Unloading the module copy unloads its 7z.dll, so the sandbox can go.
    FreeLibrary(zel);
    EXPECT_TRUE(LoadedModulesNamed(L"7z.dll").size() < loaded.size() || !c.expectSuccess);
  }
}

TEST(SevenZipLoading, RelativeFolderIsRefused) {
  HMODULE zel = GetModuleHandleW((OutputFolder() + L"\\zel.lib").c_str());
  if (!zel) {
    Module();
    zel = GetModuleHandleW((OutputFolder() + L"\\zel.lib").c_str());
  }
  ASSERT_NE(zel, nullptr);
  auto setDir = reinterpret_cast<ZEL_SET_7ZIP_DLL_DIRECTORY>(GetProcAddress(zel, "Set7zipDllDirectory"));
  auto lastError = reinterpret_cast<ZEL_GET_LAST_ARCHIVE_ERROR>(GetProcAddress(zel, "GetLastArchiveError"));
  for (const wchar_t* folder : {L".", L"bin", L"", L"\\rooted-without-drive"}) {
    EXPECT_FALSE(setDir(folder)) << testing::PrintToString(std::wstring(folder));
    EXPECT_EQ(lastError(), ZEL_E_INVALID_ARGUMENT);
  }
}

}  // namespace
}  // namespace qvtest
