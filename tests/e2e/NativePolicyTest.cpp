// The native engine's policies end to end: the error and overwrite questions
// of a visible run answered from outside the process (they are shown on the
// main thread while the engine's worker waits), the overwrite decisions that
// ask nothing, a locked file that can only be replaced at the next restart,
// and the permission override on files and registry keys.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>

namespace qv::test {
namespace {

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }
// Install Files: source, subfolders, target, read-only, hidden, system, stop, -, self-register, shared,
// permanent, only-if-absent.
Stmt Files(const std::wstring& target) {
  return {L"Install Files", {L"files", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"FALSE", L"", L"FALSE",
                             L"FALSE", L"FALSE", L"FALSE"}};
}

// A delayed product: a folder, then the files of one block into `target`
// (the statement on row 6), then "Apply Changes" and a report (`reportText`
// expanded).
struct ProductFile {
  std::wstring name;
  std::string content;
};
std::wstring BuildProduct(SetupSandbox& sandbox, const std::wstring& target, const std::wstring& report,
                          const std::vector<Stmt>& policy,
                          const std::vector<ProductFile>& files = {{L"readme.txt", "new content"}},
                          const std::wstring& reportText = L"$RESULT$|$REBOOTCOMPUTER$") {
  std::vector<Stmt> statements = {
      Var(L"NATIVE_ENGINE", L"TRUE"),
      Var(L"NATIVE_LOGGING", sandbox.Root() + L"logs\\product"),
      Var(L"NATIVE_HARDLINK", L"FALSE"),
      Var(L"DELAYUNTIL_APPLYCHANGES", L"TRUE"),
      Var(L"ABORTONERROR", L"TRUE"),
      {L"Create Folder", {sandbox.Root() + L"Made"}},
      Files(target),  // row 6
  };
  statements.insert(statements.end(), policy.begin(), policy.end());
  statements.push_back({L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}});
  statements.push_back({L"Write to Text File", {report, reportText, L"FALSE"}});
  Script script = MakeScript(statements);
  script.headers = {L"6", L"F6"};
  script.fileTable = {L"F6", L"NEWHEADER"};
  for (const ProductFile& file : files) {
    script.fileTable.push_back(L"F6\\" + file.name);
    script.fileTable.push_back(L"");
  }
  const std::wstring exe = sandbox.Build(script);
  CreateFolders(sandbox.Root() + L"setup\\data\\F6");
  for (const ProductFile& file : files) WriteWholeFile(sandbox.Root() + L"setup\\data\\F6\\" + file.name, file.content);
  return exe;
}

std::wstring FirstLine(const std::wstring& path) {
  if (!FileExists(path)) return L"<no report>";
  const auto lines = ReadUtf8Lines(path);
  return lines.empty() ? L"" : lines[0];
}

struct ErrorAnswerCase {
  const char* row;
  BoxButton firstButton;  // the answer to the first error prompt
  BoxButton laterButton;  // the answer to every box after it
  bool unblockFirst;
  const wchar_t* report;  // first line of the report; "<no report>" when the run ended
  bool installed;
  bool madeKept;  // false: rolled back
  size_t boxes;   // error prompts seen (0: not checked)
};

// The file cannot be placed while a file of the target folder's name is in
// the way, which the error policy asks about (Yes retries, No ignores,
// Cancel aborts; the "to all" answers also set NATIVE_ERROR for the rest of
// the run, so nothing more is asked).
TEST(NativePolicy, ErrorPromptAnswersDecideTheRun) {
  const ErrorAnswerCase cases[] = {
      {"retry after the cause is gone", IDYES, IDOK, true, L"COMPLETE|FALSE|PROMPT", true, true, 1},
      {"ignore", IDNO, IDNO, false, L"CANCEL|FALSE|PROMPT", false, true, 0},
      {"abort", IDCANCEL, IDOK, false, L"<no report>", false, false, 0},
      {"yes to all retries and keeps retrying", L"Yes to All", IDOK, true, L"COMPLETE|FALSE|RETRY", true, true, 1},
      {"no to all ignores without asking again", L"No to All", IDNO, false, L"CANCEL|FALSE|IGNORE", false, true, 1},
  };
  for (const ErrorAnswerCase& c : cases) {
    SCOPED_TRACE(c.row);
    SetupSandbox sandbox;
    const std::wstring blocker = sandbox.Root() + L"Blocked";
    const std::wstring report = sandbox.Root() + L"out.txt";
    const std::wstring exe = BuildProduct(sandbox, blocker + L"\\", report, {}, {{L"readme.txt", "new content"}},
                                          L"$RESULT$|$REBOOTCOMPUTER$|$NATIVE_ERROR$");
    WriteWholeFile(blocker, "in the way");

    DWORD processId = 0;
    HANDLE process = sandbox.Start(exe, L"/update", &processId);
    std::vector<MessageBoxSeen> seen;
    for (int turns = 0; turns < 600 && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; ++turns) {
      MessageBoxSeen box;
      if (seen.empty() && c.unblockFirst) {
        // The prompt is up: put the folder in place of the blocker, then answer.
        if (!AnswerMessageBox(processId, box, 100, 0)) continue;
        DeleteFileW(blocker.c_str());
        CreateDirectoryW(blocker.c_str(), nullptr);
      }
      if (AnswerMessageBox(processId, box, 100, seen.empty() ? c.firstButton : c.laterButton)) seen.push_back(box);
    }
    const RunResult run = SetupSandbox::Wait(process, 60000);
    ASSERT_FALSE(run.timedOut);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].caption, L"Error");
    EXPECT_NE(seen[0].text.find(L"Would you like to try again?"), std::wstring::npos) << WideToUtf8(seen[0].text);
    EXPECT_EQ(seen[0].buttonTexts, (std::vector<std::wstring>{L"Yes", L"No", L"Cancel", L"No to All", L"Yes to All"}));
    if (c.boxes) {
      EXPECT_EQ(seen.size(), c.boxes);
    }
    EXPECT_EQ(FirstLine(report), c.report);
    EXPECT_EQ(FileExists(blocker + L"\\readme.txt"), c.installed);
    EXPECT_EQ(FolderExists(sandbox.Root() + L"Made"), c.madeKept);
  }
}

// Sets a file's modification time from a local time; returns that time in
// the system's short date and long time format, as the overwrite question
// shows it.
std::wstring StampFile(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour) {
  SYSTEMTIME local{};
  local.wYear = year;
  local.wMonth = month;
  local.wDay = day;
  local.wHour = hour;
  local.wMinute = 4;
  local.wSecond = 5;
  SYSTEMTIME utc{};
  FILETIME time{};
  TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
  SystemTimeToFileTime(&utc, &time);
  UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  SetFileTime(file.get(), nullptr, nullptr, &time);
  wchar_t date[128] = {}, clock[128] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 128);
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, clock, 128);
  return std::wstring(date) + L" " + clock;
}

struct OverwriteAnswerCase {
  const char* row;
  std::vector<BoxButton> answers;  // one per question, in order
  const wchar_t* report;
  std::string first, second;  // the two files' content afterwards
};

// Two existing files older than the product's: each is asked about unless a
// "to all" answer has decided for the rest of the run.
TEST(NativePolicy, OverwriteQuestionShowsBothFilesAndItsAnswersDecide) {
  const OverwriteAnswerCase cases[] = {
      {"yes, then no", {IDYES, IDNO}, L"COMPLETE|PROMPT|FALSE", "new a", "old b"},
      {"no to all keeps the second file without asking", {L"No to All"}, L"COMPLETE|NEVER|FALSE", "old a", "old b"},
      {"yes to all replaces the second file without asking", {L"Yes to All"}, L"COMPLETE|ALWAYS|FALSE", "new a",
       "new b"},
      {"cancel ends the run", {IDCANCEL}, L"<no report>", "old a", "old b"},
  };
  for (const OverwriteAnswerCase& c : cases) {
    SCOPED_TRACE(c.row);
    SetupSandbox sandbox;
    const std::wstring folder = sandbox.Root() + L"Target\\";
    const std::wstring report = sandbox.Root() + L"out.txt";
    const std::wstring exe = BuildProduct(sandbox, folder, report, {Var(L"NATIVE_OVERWRITE", L"PROMPT")},
                                          {{L"a.txt", "new a"}, {L"b.txt", "new b"}},
                                          L"$RESULT$|$NATIVE_OVERWRITE$|$QIVA_IsCancelled$");
    CreateFolders(folder);
    WriteWholeFile(folder + L"a.txt", "old a");
    WriteWholeFile(folder + L"b.txt", "old b");
    const std::wstring oldDate = StampFile(folder + L"a.txt", 2019, 3, 4, 5);
    StampFile(folder + L"b.txt", 2019, 3, 4, 5);
    const std::wstring newDate = StampFile(sandbox.Root() + L"setup\\data\\F6\\a.txt", 2023, 11, 12, 13);
    StampFile(sandbox.Root() + L"setup\\data\\F6\\b.txt", 2023, 11, 12, 13);

    DWORD processId = 0;
    HANDLE process = sandbox.Start(exe, L"/update", &processId);
    std::vector<MessageBoxSeen> seen;
    for (int turns = 0; turns < 600 && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; ++turns) {
      MessageBoxSeen box;
      const BoxButton answer = seen.size() < c.answers.size() ? c.answers[seen.size()] : BoxButton(IDYES);
      if (AnswerMessageBox(processId, box, 100, answer)) seen.push_back(box);
    }
    const RunResult run = SetupSandbox::Wait(process, 60000);
    ASSERT_FALSE(run.timedOut);
    // After a cancel the engine says so in a box of its own.
    const auto questions = std::count_if(seen.begin(), seen.end(), [](const MessageBoxSeen& box) {
      return box.caption == L"Overwrite";
    });
    EXPECT_EQ(static_cast<size_t>(questions), c.answers.size()) << "one question per answer, none after a \"to all\" answer";
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].caption, L"Overwrite");
    EXPECT_EQ(seen[0].text, folder + L"a.txt\r\rOld file version: <no version information>\rOld file date: " + oldDate +
                                L"\r\rNew file version: <no version information>\rNew file date: " + newDate +
                                L"\r\rWould you like to overwrite this file?");
    EXPECT_EQ(seen[0].buttonTexts, (std::vector<std::wstring>{L"Yes", L"No", L"Cancel", L"No to All", L"Yes to All"}));
    EXPECT_EQ(FirstLine(report), c.report);
    EXPECT_EQ(ReadWholeFile(folder + L"a.txt"), c.first);
    EXPECT_EQ(ReadWholeFile(folder + L"b.txt"), c.second);
  }
}

// A file with a version resource: a copy of a system library, told apart
// from the product's copy by a few bytes appended after the image.
std::string VersionedFile(const std::string& tail) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return ReadWholeFile(std::wstring(system) + L"\\comctl32.dll") + tail;
}

struct KeepCase {
  const char* row;
  const wchar_t* mode;
  const wchar_t* older;
};

// Equal versions: the product's file is not newer, so neither ALWAYS (without
// OLDER) nor the prompt mode replaces it, and the prompt mode does not even
// ask (the run is visible; any question would be answered Yes).
TEST(NativePolicy, AnEqualVersionIsKeptWithoutAsking) {
  const KeepCase cases[] = {
      {"always without older", L"ALWAYS", L"FALSE"},
      {"prompt without older", L"PROMPT", L"FALSE"},
  };
  for (const KeepCase& c : cases) {
    SCOPED_TRACE(c.row);
    SetupSandbox sandbox;
    const std::wstring folder = sandbox.Root() + L"Target\\";
    const std::wstring report = sandbox.Root() + L"out.txt";
    const std::string product = VersionedFile("new"), installed = VersionedFile("old");
    const std::wstring exe =
        BuildProduct(sandbox, folder, report, {Var(L"NATIVE_OVERWRITE", c.mode), Var(L"NATIVE_OVERWRITE_OLDER", c.older)},
                     {{L"lib.dll", product}});
    CreateFolders(folder);
    WriteWholeFile(folder + L"lib.dll", installed);
    // The installed copy is also the older one by date: only the versions speak.
    StampFile(folder + L"lib.dll", 2019, 3, 4, 5);
    StampFile(sandbox.Root() + L"setup\\data\\F6\\lib.dll", 2023, 11, 12, 13);

    DWORD processId = 0;
    HANDLE process = sandbox.Start(exe, L"/update", &processId);
    size_t questions = 0;
    for (int turns = 0; turns < 600 && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; ++turns) {
      MessageBoxSeen box;
      if (AnswerMessageBox(processId, box, 100, IDYES)) ++questions;
    }
    ASSERT_FALSE(SetupSandbox::Wait(process, 60000).timedOut);
    EXPECT_EQ(questions, 0u);
    EXPECT_EQ(FirstLine(report), L"COMPLETE|FALSE");
    EXPECT_TRUE(ReadWholeFile(folder + L"lib.dll") == installed) << "the installed file was replaced";
  }
}

// The pending renames of the prefix, put back after a test that adds some.
struct PendingRenames {
  static constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  bool present = false;
  DWORD type = 0;
  std::string bytes;
  std::string Read() {
    UniqueKey key;
    DWORD size = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put()) ||
        RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size))
      return {};
    std::string data(size, '\0');
    RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                     &size);
    present = true;
    return data;
  }
  PendingRenames() { bytes = Read(); }
  ~PendingRenames() {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, key.put())) return;
    if (present)
      RegSetValueExW(key.get(), L"PendingFileRenameOperations", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()));
    else
      RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
  }
};

TEST(NativePolicy, LockedTargetIsReplacedAtRestart) {
  PendingRenames renames;
  SetupSandbox sandbox;
  const std::wstring folder = sandbox.Root() + L"Locked\\";
  const std::wstring report = sandbox.Root() + L"out.txt";
  const std::wstring exe = BuildProduct(sandbox, folder, report,
                                        {Var(L"NATIVE_OVERWRITE", L"ALWAYS"), Var(L"NATIVE_OVERWRITE_OLDER", L"TRUE")});
  CreateFolders(folder);
  WriteWholeFile(folder + L"readme.txt", "old content");
  {
    UniqueFile lock(CreateFileW((folder + L"readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    const RunResult run = sandbox.Run(exe, L"/s", 60000);
    ASSERT_FALSE(run.timedOut);
  }
  EXPECT_EQ(FirstLine(report), L"REBOOT|TRUE");
  EXPECT_EQ(ReadWholeFile(folder + L"readme.txt"), "old content");  // until the restart
}

// Owner and access list as SDDL text; "" when unreadable.
std::wstring SecurityText(PSECURITY_DESCRIPTOR sd) {
  LPWSTR text = nullptr;
  if (!sd || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                 sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    return L"";
  std::wstring result = text;
  LocalFree(text);
  LocalFree(sd);
  return result;
}
std::wstring KeySecurity(HKEY key) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  GetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                  nullptr, nullptr, &sd);
  return SecurityText(sd);
}
// The access list of an SDDL text written onto an object through `apply`.
template <typename Apply>
void WriteAccessList(const std::wstring& sddl, Apply apply) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  EXPECT_EQ(apply(dacl), static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(sd);
}
std::wstring CurrentUserSid() {
  UniqueHandle token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
  BYTE buffer[256];
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size);
  LPWSTR text = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  std::wstring result = text ? text : L"";
  LocalFree(text);
  return result;
}

// Under Wine a file's access list is only its Unix mode bits, not enforced
// against the engine, and the list Wine reports for a read-only file does not
// make the file read-only again when written back: what can be checked here
// is that taking over and handing back a read-only file's security leaves
// the replacement in place.
TEST(NativePolicy, OverriddenFileIsReplaced) {
  SetupSandbox sandbox;
  const std::wstring folder = sandbox.Root() + L"Locked\\";
  const std::wstring report = sandbox.Root() + L"out.txt";
  const std::wstring exe = BuildProduct(sandbox, folder, report,
                                        {Var(L"NATIVE_OVERWRITE", L"ALWAYS"), Var(L"NATIVE_OVERWRITE_OLDER", L"TRUE"),
                                         Var(L"NATIVE_OVERRIDE_PERMISSIONS", L"TRUE")});
  CreateFolders(folder);
  const std::wstring target = folder + L"readme.txt";
  WriteWholeFile(target, "old content");
  WriteAccessList(L"D:P(D;;FW;;;" + CurrentUserSid() + L")(A;;FR;;;WD)", [&](PACL dacl) {
    return SetNamedSecurityInfoW(const_cast<LPWSTR>(target.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 dacl, nullptr);
  });
  ASSERT_FALSE(sandbox.Run(exe, L"/s", 60000).timedOut);
  EXPECT_EQ(FirstLine(report), L"COMPLETE|FALSE");
  EXPECT_EQ(ReadWholeFile(target), "new content");
}

// A key of its own under HKEY_CURRENT_USER\Software that denies the user
// every change; its security is opened up again when the test ends.
struct LockedKey {
  std::wstring parent;
  std::wstring path;
  LockedKey() {
    static std::atomic<int> counter{0};
    parent = L"Software\\QuorvaneTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    path = parent + L"\\Locked";
    UniqueKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    RegSetValueExW(key.get(), L"V", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"old"), 8);
    WriteAccessList(L"D:P(D;;KW;;;" + CurrentUserSid() + L")(A;;KA;;;BA)(A;;KR;;;WD)", [&](PACL dacl) {
      return SetSecurityInfo(key.get(), SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                             nullptr);
    });
  }
  ~LockedKey() {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, key.put()) == ERROR_SUCCESS)
      SetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, parent.c_str());
  }
  std::wstring Security() const {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, READ_CONTROL, key.put())) return L"";
    return KeySecurity(key.get());
  }
  std::wstring Value() const {
    wchar_t data[64] = {};
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"V", RRF_RT_REG_SZ, nullptr, data, &size)) return L"<none>";
    return data;
  }
};

struct KeyOverrideCase {
  const char* row;
  std::vector<Stmt> policy;  // after the product's files
  const wchar_t* report;     // nullptr: not checked
  const wchar_t* value;      // V afterwards
};

// Wine enforces registry key security: without the override the write is
// denied; with it the key is opened up for the write (and for the undo
// pass's removal of the value) and its owner and access list come back.
TEST(NativePolicy, OverriddenKeySecurityIsPutBack) {
  SetupSandbox scratch;
  const std::wstring blockedFolder = scratch.Root() + L"NotAFolder\\Sub";
  WriteWholeFile(scratch.Root() + L"NotAFolder", "a file");
  // The key's path goes in for each row.
  const auto write = [](const wchar_t* data) {
    return Stmt{L"Write Registry", {L"0", L"1", L"", L"V", data, L"TRUE", L"FALSE"}};
  };
  const KeyOverrideCase cases[] = {
      {"override on: written",
       {Var(L"NATIVE_OVERRIDE_PERMISSIONS", L"TRUE"), write(L"new")},
       L"COMPLETE|FALSE",
       L"new"},
      {"override off: denied",
       {Var(L"NATIVE_OVERRIDE_PERMISSIONS", L"FALSE"), Var(L"NATIVE_ERROR", L"IGNORE"), write(L"new")},
       L"CANCEL|FALSE",
       L"old"},
      {"override on: the rollback removes the written value",
       {Var(L"NATIVE_OVERRIDE_PERMISSIONS", L"TRUE"), Var(L"NATIVE_ERROR", L"ABORT"), write(L"new"),
        {L"Create Folder", {blockedFolder}}},
       nullptr,
       L"<none>"},
  };
  for (const KeyOverrideCase& c : cases) {
    SCOPED_TRACE(c.row);
    SetupSandbox sandbox;
    LockedKey key;
    const std::wstring report = sandbox.Root() + L"out.txt";
    std::vector<Stmt> policy = c.policy;
    for (Stmt& statement : policy)
      if (statement.name == L"Write Registry") statement.parameters[2] = key.path;
    const std::wstring exe = BuildProduct(sandbox, sandbox.Root() + L"Files\\", report, policy);
    const std::wstring before = key.Security();
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(key.Value(), L"old");
    {
      UniqueKey denied;
      ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key.path.c_str(), 0, KEY_SET_VALUE, denied.put()),
                ERROR_ACCESS_DENIED)
          << "the key does not deny the user";
    }

    ASSERT_FALSE(sandbox.Run(exe, L"/s", 60000).timedOut);
    if (c.report) {
      EXPECT_EQ(FirstLine(report), c.report);
    }
    EXPECT_EQ(key.Value(), c.value);
    EXPECT_EQ(key.Security(), before);
  }
}

}  // namespace
}  // namespace qv::test
