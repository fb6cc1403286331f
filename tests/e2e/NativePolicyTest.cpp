// The native engine's policies end to end: the error prompt of a visible run
// answered from outside the process (it is shown on the main thread while
// the engine's worker waits), and a locked file that can only be replaced at
// the next restart.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }
// Install Files: source, subfolders, target, read-only, hidden, system, stop, -, self-register, shared,
// permanent, only-if-absent.
Stmt Files(const std::wstring& target) {
  return {L"Install Files", {L"files", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"FALSE", L"", L"FALSE",
                             L"FALSE", L"FALSE", L"FALSE"}};
}

// A delayed product: a folder, then one file into `target` (the statement on
// row 6), then "Apply Changes" and a report of its result.
std::wstring BuildProduct(SetupSandbox& sandbox, const std::wstring& target, const std::wstring& report,
                          const std::vector<Stmt>& policy) {
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
  statements.push_back({L"Write to Text File", {report, L"$RESULT$|$REBOOTCOMPUTER$", L"FALSE"}});
  Script script = MakeScript(statements);
  script.headers = {L"6", L"F6"};
  script.fileTable = {L"F6", L"NEWHEADER", L"F6\\readme.txt", L""};
  const std::wstring exe = sandbox.Build(script);
  CreateFolders(sandbox.Root() + L"setup\\data\\F6");
  WriteWholeFile(sandbox.Root() + L"setup\\data\\F6\\readme.txt", "new content");
  return exe;
}

std::wstring FirstLine(const std::wstring& path) {
  if (!FileExists(path)) return L"<no report>";
  const auto lines = ReadUtf8Lines(path);
  return lines.empty() ? L"" : lines[0];
}

struct ErrorAnswerCase {
  const char* row;
  int firstButton;  // the answer to the first error prompt
  int laterButton;  // the answer to every box after it
  bool unblockFirst;
  const wchar_t* report;  // first line of the report; "<no report>" when the run ended
  bool installed;
  bool madeKept;  // false: rolled back
};

// The file cannot be placed while a file of the target folder's name is in
// the way, which the error policy asks about (Yes retries, No ignores,
// Cancel aborts).
TEST(NativePolicy, ErrorPromptAnswersDecideTheRun) {
  const ErrorAnswerCase cases[] = {
      {"retry after the cause is gone", IDYES, IDOK, true, L"COMPLETE|FALSE", true, true},
      {"ignore", IDNO, IDNO, false, L"CANCEL|FALSE", false, true},
      {"abort", IDCANCEL, IDOK, false, L"<no report>", false, false},
  };
  for (const ErrorAnswerCase& c : cases) {
    SCOPED_TRACE(c.row);
    SetupSandbox sandbox;
    const std::wstring blocker = sandbox.Root() + L"Blocked";
    const std::wstring report = sandbox.Root() + L"out.txt";
    const std::wstring exe = BuildProduct(sandbox, blocker + L"\\", report, {});
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
    EXPECT_EQ(FirstLine(report), c.report);
    EXPECT_EQ(FileExists(blocker + L"\\readme.txt"), c.installed);
    EXPECT_EQ(FolderExists(sandbox.Root() + L"Made"), c.madeKept);
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

}  // namespace
}  // namespace qv::test
