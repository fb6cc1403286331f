// Archive operations through zel.lib, as the engine uses them: create,
// extract, test, list, delete, with and without passwords.
#include <windows.h>

#include <gtest/gtest.h>

#include "ArchiveTestSupport.h"
#include "zel/zel.h"

namespace qvtest {
namespace {

// A tree with what tends to break archivers: nested and empty folders, an
// empty file, a file larger than the writer's buffer, a non-ASCII name and a
// path longer than MAX_PATH.
Tree MakeSampleTree(const std::wstring& root) {
  const std::wstring deep = std::wstring(60, L'd') + L"\\" + std::wstring(60, L'e') + L"\\" + std::wstring(60, L'f') +
                            L"\\" + std::wstring(60, L'g') + L"\\" + std::wstring(40, L'h') + L".txt";
  WriteBytes(root + L"\\readme.txt", "hello archive\r\n");
  WriteBytes(root + L"\\empty.bin", "");
  WriteBytes(root + L"\\bin\\big.dat", RandomBytes(3 * 1024 * 1024 + 17, 1));
  WriteBytes(root + L"\\bin\\sub\\small.dat", RandomBytes(4096, 2));
  WriteBytes(root + L"\\\u00DCbersetzung \u65E5\u672C.txt", "unicode");
  WriteBytes(root + L"\\" + deep, "deep");
  MakeFolders(root + L"\\empty folder");
  return Snapshot(root);
}

TEST(ArchiveRoundTrip, PasswordProtectsDataAndOptionallyNames) {
  struct Case {
    const char* name;
    bool encryptHeaders;
  };
  const Case cases[] = {{"headers encrypted", true}, {"headers in clear", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    const Tree original = MakeSampleTree(box.Path(L"src"));
    const std::wstring archive = box.Path(L"out\\payload.7z");
    auto& m = Module();
    ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"), L"s3cret", c.encryptHeaders)) << m.LastError();

    // Without the password the names are hidden only with header encryption.
    auto blind = m.List(archive);
    if (c.encryptHeaders) {
      EXPECT_FALSE(blind.has_value());
      EXPECT_EQ(m.LastError(), ZEL_E_PASSWORD);
    } else {
      ASSERT_TRUE(blind.has_value()) << m.LastError();
      EXPECT_EQ(blind->size(), original.size());
    }

    // A wrong password leaves no wrongly decoded file behind (folders and
    // empty files hold no encrypted data).
    EXPECT_FALSE(m.ExtractAll(archive, box.Path(L"wrong"), L"guess"));
    EXPECT_EQ(m.LastError(), ZEL_E_PASSWORD);
    for (const auto& [path, content] : Snapshot(box.Path(L"wrong"))) {
      EXPECT_TRUE(content == "<dir>" || content.empty()) << "left after a wrong password: " << path.size();
    }
    EXPECT_FALSE(m.ExtractAll(archive, box.Path(L"none")));
    EXPECT_EQ(m.LastError(), ZEL_E_PASSWORD);

    ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"right"), L"s3cret")) << m.LastError();
    EXPECT_TRUE(Snapshot(box.Path(L"right")) == original);
    EXPECT_TRUE(m.Test(archive, L"s3cret")) << m.LastError();
  }
}

// The switches texts the engine builds for each compression level must be
// understood by the module and 7z.dll alike.
TEST(ArchiveRoundTrip, EngineSwitchesOfEveryLevelWork) {
  struct Case {
    const char* name;
    const wchar_t* switches;
  };
  const Case cases[] = {
      {"level 0", L"-ssw -mhe=on -mmt=2 -ms=off -mhc=off -m0=None -m0=Copy "},
      {"level 1", L"-ssw -mhe=off -mmt=2 -ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=23 -m1mf=hc4 -m1fb=64 "},
      {"level 3", L"-ssw -mhe=on -mmt=3 -ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=25 -m1mf=bt4 -m1fb=64 -m2=LZMA2 "
                  L"-m2d=20 -m2mf=bt4 -m2fb=64 -m3=LZMA2 -m3d=20 -m3mf=bt4 -m3fb=64 -mb0:1 -mb0s1:2 -mb0s2:3 "},
      {"level 4", L"-ssw -mhe=on -mmt=2 -ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=26 -m1mf=bt4 -m1fb=64 -m2=LZMA2 "
                  L"-m2d=20 -m2mf=bt4 -m2fb=64 -m3=LZMA2 -m3d=20 -m3mf=bt4 -m3fb=64 -mb0:1 -mb0s1:2 -mb0s2:3 "},
      {"defaults", L""},
  };
  Sandbox box;
  WriteBytes(box.Path(L"src\\a.txt"), std::string(100000, 'a'));
  WriteBytes(box.Path(L"src\\b\\c.bin"), RandomBytes(200000, 3));
  const Tree original = Snapshot(box.Path(L"src"));
  auto& m = Module();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring archive = box.Path(L"level.7z");
    ASSERT_TRUE(m.Create(archive, {}, {box.Path(L"src\\*")}, ZEL_KIND_7Z, ZEL_MODE_NEW, c.switches, L"pw"))
        << m.LastError();
    RemoveTree(box.Path(L"dst"));
    ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"dst"), L"pw")) << m.LastError();
    EXPECT_TRUE(Snapshot(box.Path(L"dst")) == original);
  }
}

TEST(ArchiveRoundTrip, BadSwitchesAndCodesAreRefused) {
  struct Case {
    const char* name;
    uint32_t kind;
    uint32_t mode;
    const wchar_t* switches;
    uint32_t expected;
  };
  const Case cases[] = {
      {"unknown switch", ZEL_KIND_7Z, ZEL_MODE_NEW, L"-r", ZEL_E_SWITCHES},
      {"unknown method", ZEL_KIND_7Z, ZEL_MODE_NEW, L"-m0=NoSuchMethod", ZEL_E_SWITCHES},
      {"unsupported kind", 5, ZEL_MODE_NEW, L"", ZEL_E_INVALID_ARGUMENT},
      {"unknown mode", ZEL_KIND_7Z, 7, L"", ZEL_E_INVALID_ARGUMENT},
  };
  Sandbox box;
  WriteBytes(box.Path(L"src\\a.txt"), "a");
  auto& m = Module();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(m.Create(box.Path(L"x.7z"), {}, {box.Path(L"src\\*")}, c.kind, c.mode, c.switches, L""));
    EXPECT_EQ(m.LastError(), c.expected);
    EXPECT_FALSE(Exists(box.Path(L"x.7z")));
  }
}

// Where an entry of each file set lands inside the archive.
TEST(ArchiveRoundTrip, FileSetsDecideTheArchivePaths) {
  struct Case {
    const char* name;
    std::vector<std::wstring> files;         // relative to the sandbox
    std::vector<std::wstring> contentFiles;  // relative to the sandbox
    std::vector<std::wstring> expected;      // sorted archive paths
  };
  const std::vector<Case> cases = {
      {"file keeps its folder name", {L"p\\top.txt"}, {}, {L"p\\top.txt"}},
      {"folder keeps its parent's name", {L"p\\sub"}, {}, {L"p\\sub", L"p\\sub\\in.txt"}},
      {"pattern keeps its folder name", {L"p\\*.txt"}, {}, {L"p\\top.txt"}},
      {"content of a folder", {}, {L"p\\*"}, {L"sub", L"sub\\in.txt", L"top.txt"}},
      {"content pattern *.*", {}, {L"p\\sub\\*.*"}, {L"in.txt"}},
      {"named folder in content set", {}, {L"p\\sub"}, {L"sub", L"sub\\in.txt"}},
      {"both sets, first wins on a clash", {L"p\\top.txt"}, {L"p\\sub\\*", L"p\\*.txt"},
       {L"in.txt", L"p\\top.txt", L"top.txt"}},
  };
  Sandbox box;
  WriteBytes(box.Path(L"p\\top.txt"), "top");
  WriteBytes(box.Path(L"p\\sub\\in.txt"), "in");
  auto& m = Module();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> files, contentFiles;
    for (const auto& f : c.files) files.push_back(box.Path(f));
    for (const auto& f : c.contentFiles) contentFiles.push_back(box.Path(f));
    const std::wstring archive = box.Path(L"sets.7z");
    ASSERT_TRUE(m.Create(archive, files, contentFiles, ZEL_KIND_7Z, ZEL_MODE_NEW, L"", L"")) << m.LastError();
    auto listing = m.List(archive);
    ASSERT_TRUE(listing.has_value()) << m.LastError();
    std::vector<std::wstring> paths;
    for (const auto& e : *listing) paths.push_back(e.path);
    std::sort(paths.begin(), paths.end());
    EXPECT_TRUE(paths == c.expected);
  }
}

TEST(ArchiveRoundTrip, MissingNamedFileFailsCreate) {
  Sandbox box;
  auto& m = Module();
  EXPECT_FALSE(m.Create(box.Path(L"x.7z"), {box.Path(L"nothere.txt")}, {}, ZEL_KIND_7Z, ZEL_MODE_NEW, L"", L""));
  EXPECT_EQ(m.LastError(), ZEL_E_READ_FILE);
  EXPECT_FALSE(Exists(box.Path(L"x.7z")));
}

TEST(ArchiveRoundTrip, AddAndUpdateModesMergeWithTheExistingArchive) {
  struct Case {
    const char* name;
    uint32_t mode;
    bool diskFileNewer;
    const char* expectedShared;  // content of shared.txt afterwards
  };
  const Case cases[] = {
      {"add replaces", ZEL_MODE_ADD, false, "disk"},
      {"update keeps the newer archived copy", ZEL_MODE_UPDATE, false, "archived"},
      {"update takes a newer file", ZEL_MODE_UPDATE, true, "disk"},
      {"new drops the old content", ZEL_MODE_NEW, true, "disk"},
  };
  auto& m = Module();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    WriteBytes(box.Path(L"v1\\shared.txt"), "archived");
    WriteBytes(box.Path(L"v1\\old.txt"), "old");
    const std::wstring archive = box.Path(L"merge.7z");
    ASSERT_TRUE(m.Create(archive, {}, {box.Path(L"v1\\*")}, ZEL_KIND_7Z, ZEL_MODE_NEW, L"", L"")) << m.LastError();

    WriteBytes(box.Path(L"v2\\shared.txt"), "disk");
    WriteBytes(box.Path(L"v2\\new.txt"), "new");
    // Make the disk copy clearly older or newer than the archived one.
    HANDLE f = CreateFileW(box.Path(L"v2\\shared.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    ULARGE_INTEGER u{{t.dwLowDateTime, t.dwHighDateTime}};
    u.QuadPart = c.diskFileNewer ? u.QuadPart + 36000000000ull : u.QuadPart - 36000000000ull;
    t = {u.LowPart, u.HighPart};
    SetFileTime(f, nullptr, nullptr, &t);
    CloseHandle(f);

    ASSERT_TRUE(m.Create(archive, {}, {box.Path(L"v2\\*")}, ZEL_KIND_7Z, c.mode, L"", L"")) << m.LastError();
    ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"out"))) << m.LastError();
    EXPECT_EQ(ReadBytes(box.Path(L"out\\shared.txt")), c.expectedShared);
    EXPECT_EQ(ReadBytes(box.Path(L"out\\new.txt")), "new");
    EXPECT_EQ(Exists(box.Path(L"out\\old.txt")), c.mode != ZEL_MODE_NEW);
  }
}

TEST(ArchiveRoundTrip, ListingReportsSizesTimesAndAttributes) {
  Sandbox box;
  const std::string data = RandomBytes(70000, 9);
  WriteBytes(box.Path(L"src\\dir\\file.bin"), data);
  SetFileAttributesW(box.Path(L"src\\dir\\file.bin").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  WIN32_FILE_ATTRIBUTE_DATA disk;
  ASSERT_TRUE(GetFileAttributesExW(box.Path(L"src\\dir\\file.bin").c_str(), GetFileExInfoStandard, &disk));

  auto& m = Module();
  const std::wstring archive = box.Path(L"list.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"))) << m.LastError();
  auto listing = m.List(archive);
  ASSERT_TRUE(listing.has_value()) << m.LastError();
  ASSERT_EQ(listing->size(), 2u);
  const auto& dir = (*listing)[0].isDirectory ? (*listing)[0] : (*listing)[1];
  const auto& file = (*listing)[0].isDirectory ? (*listing)[1] : (*listing)[0];
  EXPECT_EQ(dir.path, L"dir");
  EXPECT_TRUE(dir.attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(file.path, L"dir\\file.bin");
  EXPECT_FALSE(file.isDirectory);
  EXPECT_EQ(file.size, data.size());
  EXPECT_GT(file.packedSize, 0u);
  EXPECT_TRUE(file.attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(CompareFileTime(&file.modified, &disk.ftLastWriteTime), 0);
  using Crc32 = DWORD(WINAPI*)(DWORD, const BYTE*, INT);
  auto crc32 = reinterpret_cast<Crc32>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlComputeCrc32"));
  ASSERT_NE(crc32, nullptr);
  EXPECT_EQ(file.crc, crc32(0, reinterpret_cast<const BYTE*>(data.data()), static_cast<INT>(data.size())));
}

TEST(ArchiveRoundTrip, CorruptionIsReportedByTest) {
  struct Case {
    const char* name;
    void (*damage)(std::string& bytes);
    uint32_t expected;
  };
  const Case cases[] = {
      {"flipped packed data", [](std::string& b) { b[b.size() / 3] ^= 0x55; b[b.size() / 3 + 1] ^= 0x55; },
       ZEL_E_DATA},
      {"flipped signature", [](std::string& b) { b[0] ^= 0x01; }, ZEL_E_NOT_ARCHIVE},
      {"flipped header", [](std::string& b) { b[b.size() - 10] ^= 0x55; }, ZEL_E_NOT_ARCHIVE},
      {"truncated", [](std::string& b) { b.resize(b.size() / 2); }, ZEL_E_UNEXPECTED_END},
  };
  Sandbox box;
  WriteBytes(box.Path(L"src\\a.bin"), RandomBytes(300000, 4));
  WriteBytes(box.Path(L"src\\b.txt"), std::string(5000, 'b'));
  auto& m = Module();
  const std::wstring good = box.Path(L"good.7z");
  ASSERT_TRUE(m.CreateFromFolder(good, box.Path(L"src"))) << m.LastError();
  ASSERT_TRUE(m.Test(good)) << m.LastError();
  const std::string bytes = ReadBytes(good);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = bytes;
    c.damage(damaged);
    const std::wstring bad = box.Path(L"bad.7z");
    WriteBytes(bad, damaged);
    EXPECT_FALSE(m.Test(bad));
    EXPECT_EQ(m.LastError(), c.expected);
  }
}

TEST(ArchiveRoundTrip, MissingOrForeignArchiveFailsWithItsCode) {
  Sandbox box;
  WriteBytes(box.Path(L"text.7z"), "this is not an archive at all");
  auto& m = Module();
  EXPECT_FALSE(m.ExtractAll(box.Path(L"absent.7z"), box.Path(L"out")));
  EXPECT_EQ(m.LastError(), ZEL_E_OPEN_ARCHIVE);
  EXPECT_FALSE(m.List(box.Path(L"text.7z")).has_value());
  EXPECT_EQ(m.LastError(), ZEL_E_NOT_ARCHIVE);
}

TEST(ArchiveDelete, RemovesItemsAndKeepsTheRest) {
  struct Case {
    const char* name;
    std::vector<std::wstring> remove;
    std::vector<std::wstring> remaining;  // sorted
  };
  const std::vector<Case> cases = {
      {"one file", {L"a\\1.txt"}, {L"a", L"a\\2.txt", L"b.txt"}},
      {"a folder with its content", {L"a"}, {L"b.txt"}},
      {"a pattern, case ignored", {L"A\\*.TXT"}, {L"a", L"b.txt"}},
  };
  auto& m = Module();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    WriteBytes(box.Path(L"src\\a\\1.txt"), "1");
    WriteBytes(box.Path(L"src\\a\\2.txt"), "2");
    WriteBytes(box.Path(L"src\\b.txt"), "b");
    const std::wstring archive = box.Path(L"del.7z");
    ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"))) << m.LastError();
    ASSERT_TRUE(m.Delete(archive, c.remove)) << m.LastError();
    auto listing = m.List(archive);
    ASSERT_TRUE(listing.has_value());
    std::vector<std::wstring> paths;
    for (const auto& e : *listing) paths.push_back(e.path);
    std::sort(paths.begin(), paths.end());
    EXPECT_TRUE(paths == c.remaining);
    EXPECT_TRUE(m.Test(archive)) << m.LastError();
  }
}

TEST(ArchiveDelete, UnknownItemLeavesTheArchiveUntouched) {
  Sandbox box;
  WriteBytes(box.Path(L"src\\a.txt"), "a");
  auto& m = Module();
  const std::wstring archive = box.Path(L"del.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"))) << m.LastError();
  const std::string before = ReadBytes(archive);
  EXPECT_FALSE(m.Delete(archive, {L"a.txt", L"nothere.txt"}));
  EXPECT_EQ(m.LastError(), ZEL_E_NO_MATCH);
  EXPECT_EQ(ReadBytes(archive), before);
}

// Deleting from a solid encrypted archive repacks the rest: it must stay
// encrypted, names included.
TEST(ArchiveDelete, EncryptedSolidArchiveStaysEncrypted) {
  Sandbox box;
  WriteBytes(box.Path(L"src\\keep.txt"), std::string(20000, 'k'));
  WriteBytes(box.Path(L"src\\drop.txt"), std::string(20000, 'd'));
  auto& m = Module();
  const std::wstring archive = box.Path(L"enc.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"), L"pw", true)) << m.LastError();

  EXPECT_FALSE(m.Delete(archive, {L"drop.txt"}));
  EXPECT_EQ(m.LastError(), ZEL_E_PASSWORD);
  ASSERT_TRUE(m.Delete(archive, {L"drop.txt"}, L"pw")) << m.LastError();

  EXPECT_FALSE(m.List(archive).has_value());
  EXPECT_EQ(m.LastError(), ZEL_E_PASSWORD);
  auto listing = m.List(archive, L"pw");
  ASSERT_TRUE(listing.has_value());
  ASSERT_EQ(listing->size(), 1u);
  EXPECT_TRUE((*listing)[0].encrypted);
  EXPECT_FALSE(m.ExtractAll(archive, box.Path(L"x"), L"wrong"));
  ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"out"), L"pw")) << m.LastError();
  EXPECT_EQ(ReadBytes(box.Path(L"out\\keep.txt")), std::string(20000, 'k'));
}

TEST(ArchiveExtract, OverwriteFlagDecidesAboutExistingFiles) {
  struct Case {
    const char* name;
    bool overwrite;
    const char* expected;
  };
  const Case cases[] = {{"replace", true, "archived"}, {"keep", false, "local"}};
  Sandbox box;
  WriteBytes(box.Path(L"src\\f.txt"), "archived");
  auto& m = Module();
  const std::wstring archive = box.Path(L"o.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"))) << m.LastError();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(box.Path(L"out\\f.txt"), "local");
    SetFileAttributesW(box.Path(L"out\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"out"), L"", c.overwrite)) << m.LastError();
    EXPECT_EQ(ReadBytes(box.Path(L"out\\f.txt")), c.expected);
    SetFileAttributesW(box.Path(L"out\\f.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(ArchiveExtract, SelectedItemsAndFlatMode) {
  struct Case {
    const char* name;
    std::vector<std::wstring> items;
    bool flat;
    Tree expected;
  };
  const std::vector<Case> cases = {
      {"one file with its folders", {L"a\\b\\deep.txt"}, false, {{L"a", "<dir>"}, {L"a\\b", "<dir>"}, {L"a\\b\\deep.txt", "deep"}}},
      {"a folder", {L"a"}, false,
       {{L"a", "<dir>"}, {L"a\\b", "<dir>"}, {L"a\\b\\deep.txt", "deep"}, {L"a\\mid.txt", "mid"}}},
      {"everything flat", {}, true, {{L"deep.txt", "deep"}, {L"mid.txt", "mid"}, {L"top.txt", "top"}}},
  };
  Sandbox box;
  WriteBytes(box.Path(L"src\\a\\b\\deep.txt"), "deep");
  WriteBytes(box.Path(L"src\\a\\mid.txt"), "mid");
  WriteBytes(box.Path(L"src\\top.txt"), "top");
  auto& m = Module();
  const std::wstring archive = box.Path(L"sel.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"))) << m.LastError();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(box.Path(L"out"));
    ASSERT_TRUE(m.Extract(archive, box.Path(L"out"), c.items, L"", true, c.flat)) << m.LastError();
    EXPECT_TRUE(Snapshot(box.Path(L"out")) == c.expected);
  }
  EXPECT_FALSE(m.Extract(archive, box.Path(L"out"), {L"missing.txt"}, L"", true, false));
  EXPECT_EQ(m.LastError(), ZEL_E_NO_MATCH);
}

TEST(ArchiveExtract, ProgressReachesTotalAndCanCancel) {
  Sandbox box;
  WriteBytes(box.Path(L"src\\one.bin"), RandomBytes(2'500'000, 5));
  WriteBytes(box.Path(L"src\\two.bin"), RandomBytes(1'000'000, 6));
  auto& m = Module();
  const std::wstring archive = box.Path(L"p.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"src"))) << m.LastError();

  std::vector<std::wstring> items;
  uint64_t lastDone = 0, lastTotal = 0;
  bool monotonic = true;
  ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"out"), L"", true, [&](const std::wstring& item, uint64_t done, uint64_t total) {
    if (items.empty() || items.back() != item) items.push_back(item);
    monotonic = monotonic && done >= lastDone;
    lastDone = done;
    lastTotal = total;
    return true;
  })) << m.LastError();
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(lastTotal, 3'500'000u);
  std::sort(items.begin(), items.end());
  EXPECT_TRUE(items == (std::vector<std::wstring>{L"one.bin", L"two.bin"}));

  EXPECT_FALSE(m.ExtractAll(archive, box.Path(L"cancel"), L"", true,
                            [](const std::wstring&, uint64_t, uint64_t) { return false; }));
  EXPECT_EQ(m.LastError(), ZEL_E_CANCELLED);
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// Stopping in the middle of a file removes that file; finished files stay whole.
TEST(ArchiveExtract, CancelledExtractionLeavesNoPartialFile) {
  Sandbox box;
  const std::string big = RandomBytes(24 * 1024 * 1024, 7);
  WriteBytes(box.Path(L"src\\a-small.txt"), "small");
  WriteBytes(box.Path(L"src\\b-big.bin"), big);
  auto& m = Module();
  const std::wstring archive = box.Path(L"c.7z");
  ASSERT_TRUE(m.Create(archive, {}, {box.Path(L"src\\*")}, ZEL_KIND_7Z, ZEL_MODE_NEW, L"-m0=Copy", L""))
      << m.LastError();
  // The report that starts the big file waits out the reporting interval, so
  // the next report comes from inside the file.
  uint64_t startedAt = UINT64_MAX, stoppedAt = 0;
  EXPECT_FALSE(m.ExtractAll(archive, box.Path(L"out"), L"", true, [&](const std::wstring& item, uint64_t done, uint64_t) {
    if (item != L"b-big.bin") return true;
    if (startedAt == UINT64_MAX) {
      startedAt = done;
      Sleep(100);
      return true;
    }
    stoppedAt = done;
    return false;
  }));
  EXPECT_EQ(m.LastError(), ZEL_E_CANCELLED);
  EXPECT_GT(stoppedAt, startedAt) << "the big file was never reported while being written";
  EXPECT_LT(stoppedAt, startedAt + big.size());
  for (const auto& [path, content] : Snapshot(box.Path(L"out"))) {
    EXPECT_TRUE(content == "small" || content == big) << "partial file left, " << content.size() << " bytes";
  }
}

// The builder packs an empty payload folder for setups without files.
TEST(ArchiveRoundTrip, EmptyFolderMakesAnEmptyArchive) {
  Sandbox box;
  MakeFolders(box.Path(L"empty"));
  auto& m = Module();
  const std::wstring archive = box.Path(L"empty.7z");
  ASSERT_TRUE(m.CreateFromFolder(archive, box.Path(L"empty"))) << m.LastError();
  auto listing = m.List(archive);
  ASSERT_TRUE(listing.has_value()) << m.LastError();
  EXPECT_TRUE(listing->empty());
  ASSERT_TRUE(m.ExtractAll(archive, box.Path(L"out\\")) ) << m.LastError();
  EXPECT_TRUE(Exists(box.Path(L"out")));
  EXPECT_TRUE(Snapshot(box.Path(L"out")).empty());
}

// The raw callbacks, as the engine's statement workers use them.
int g_passwordCalls = 0;
const wchar_t* g_passwordAnswer = nullptr;
BOOL WINAPI AnswerPassword(wchar_t* buffer) {
  ++g_passwordCalls;
  if (!g_passwordAnswer) return FALSE;
  wcscpy(buffer, g_passwordAnswer);
  return TRUE;
}

uint32_t g_overwriteAnswer = 0;
int g_overwriteCalls = 0;
uint32_t WINAPI AnswerOverwrite(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                uint32_t, uint32_t) {
  ++g_overwriteCalls;
  return g_overwriteAnswer;
}

TEST(ArchiveCallbacks, PasswordCallbackIsAskedOnceAndOnlyWhenNeeded) {
  struct Case {
    const char* name;
    bool encrypted;
    const wchar_t* answer;
    int expectedCalls;
    uint32_t expectedError;
  };
  const Case cases[] = {
      {"answered", true, L"pw", 1, ZEL_OK},
      {"no answer", true, nullptr, 1, ZEL_E_PASSWORD},
      {"wrong answer", true, L"nope", 1, ZEL_E_PASSWORD},
      {"not needed", false, L"pw", 0, ZEL_OK},
  };
  const auto& api = Module().api();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    WriteBytes(box.Path(L"src\\a.txt"), "a");
    WriteBytes(box.Path(L"src\\b.txt"), "b");
    const std::wstring archive = box.Path(L"a.7z");
    ASSERT_TRUE(Module().CreateFromFolder(archive, box.Path(L"src"), c.encrypted ? L"pw" : L"", true));
    g_passwordCalls = 0;
    g_passwordAnswer = c.answer;
    const std::wstring dest = box.Path(L"out");
    const BOOL ok = api.extractArchive(archive.c_str(), 1, dest.c_str(), nullptr, ZEL_EXTRACT_FULL_PATHS, nullptr,
                                       &AnswerPassword, nullptr, nullptr, nullptr);
    EXPECT_EQ(ok != FALSE, c.expectedError == ZEL_OK);
    EXPECT_EQ(api.getLastArchiveError(), c.expectedError);
    EXPECT_EQ(g_passwordCalls, c.expectedCalls);
  }
}

TEST(ArchiveCallbacks, OverwriteAnswers) {
  struct Case {
    const char* name;
    uint32_t answer;
    bool succeeds;
    const char* first;   // content of one.txt afterwards
    const char* second;  // content of two.txt afterwards
    int expectedCalls;
  };
  const Case cases[] = {
      {"cancel", ZEL_OVERWRITE_CANCEL, false, "local", "local", 1},
      {"skip asks again", ZEL_OVERWRITE_SKIP, true, "local", "local", 2},
      {"replace asks again", ZEL_OVERWRITE_REPLACE, true, "archived", "archived", 2},
      {"skip all asks once", ZEL_OVERWRITE_SKIP_ALL, true, "local", "local", 1},
      {"replace all asks once", ZEL_OVERWRITE_REPLACE_ALL, true, "archived", "archived", 1},
  };
  Sandbox box;
  WriteBytes(box.Path(L"src\\one.txt"), "archived");
  WriteBytes(box.Path(L"src\\two.txt"), "archived");
  const std::wstring archive = box.Path(L"o.7z");
  ASSERT_TRUE(Module().CreateFromFolder(archive, box.Path(L"src")));
  const auto& api = Module().api();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(box.Path(L"out\\one.txt"), "local");
    WriteBytes(box.Path(L"out\\two.txt"), "local");
    g_overwriteAnswer = c.answer;
    g_overwriteCalls = 0;
    const std::wstring dest = box.Path(L"out");
    const BOOL ok = api.extractArchive(archive.c_str(), 1, dest.c_str(), nullptr, ZEL_EXTRACT_FULL_PATHS, nullptr,
                                       nullptr, nullptr, nullptr, &AnswerOverwrite);
    EXPECT_EQ(ok != FALSE, c.succeeds);
    if (!c.succeeds) {
      EXPECT_EQ(api.getLastArchiveError(), ZEL_E_CANCELLED);
    }
    EXPECT_EQ(ReadBytes(box.Path(L"out\\one.txt")), c.first);
    EXPECT_EQ(ReadBytes(box.Path(L"out\\two.txt")), c.second);
    EXPECT_EQ(g_overwriteCalls, c.expectedCalls);
  }
}

}  // namespace
}  // namespace qvtest
