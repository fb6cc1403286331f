// Action records, the queue and the native log encoding: the pure parts of
// the native engine, checked without touching the machine (the log tests
// write only inside a private temporary folder).
#include "commands/TextFiles.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/VariableStore.h"
#include "native/ActionKinds.h"
#include "native/ActionRecord.h"
#include "native/FileTable.h"
#include "native/NativeLogs.h"
#include "native/Queue.h"

#include <gtest/gtest.h>

#include <map>

namespace qv::native {
namespace {

// A statement's stored parameters with a small variable store behind them.
struct RecordFixture {
  Variables variables;
  std::map<size_t, std::wstring> parameters;

  RecordSource Source(bool allUsers = false, std::wstring header = L"") {
    RecordSource s;
    s.raw = [this](size_t k) { return parameters.count(k) ? parameters[k] : std::wstring(); };
    s.expand = [this](std::wstring_view t) { return variables.Expand(t); };
    s.expandPath = [this](std::wstring_view t) { return ExpandPath(variables, t); };
    s.allUsers = allUsers;
    s.header = std::move(header);
    return s;
  }
};

struct RecordCase {
  const char* row;
  const wchar_t* statement;
  std::map<size_t, std::wstring> parameters;
  bool allUsers;
  std::vector<std::wstring> expected;
};

TEST(NativeRecord, FieldsPerStatementKind) {
  const RecordCase cases[] = {
      {"registry string, root 4 per user", L"Write Registry",
       {{1, L"0"}, {2, L"4"}, {3, L"Software\\\\$APP$"}, {4, L"Name"}, {5, L"$DATA$"}, {6, L"TRUE"}, {7, L"FALSE"}},
       false, {L"FALSE", L"1|", L"Software\\Quorvane App", L"Name", L"a, \"b\"", L"STRING"}},
      {"registry root 4 per machine, keep, integer", L"Write Registry",
       {{1, L"10"}, {2, L"4|SERVER"}, {3, L"K"}, {4, L"N"}, {5, L"7"}, {6, L"FALSE"}, {7, L"-1"}},
       true, {L"TRUE", L"2|SERVER", L"K", L"N", L"7", L"INTEGER"}},
      {"registry type text passes raw", L"Write Registry",
       {{1, L"0"}, {2, L"0"}, {3, L"K"}, {4, L"N"}, {5, L"00ff"}, {6, L"FALSE"}, {7, L"BINARY"}},
       false, {L"FALSE", L"0|", L"K", L"N", L"00ff", L"BINARY"}},
      {"install files: header, path-expanded target, raw flags", L"Install Files",
       {{1, L"src"}, {3, L"$DIR$\\\\bin"}, {4, L"TRUE"}, {5, L"$X$"}, {7, L"FALSE"}, {8, L"skipped"}, {12, L"TRUE"}},
       false, {L"H7", L"C:\\Target\\bin", L"TRUE", L"$X$", L"", L"FALSE", L"", L"", L"", L"TRUE"}},
      {"create folder keeps a network path's leading pair", L"Create Folder", {{1, L"\\\\srv\\\\share"}},
       false, {L"\\\\srv\\share"}},
      {"delete files", L"Delete Files", {{1, L"$DIR$"}, {2, L"*.$EXT$"}}, false, {L"C:\\Target", L"*.tmp"}},
      {"copy/move: recurse after the bar, FALSE when empty", L"Copy/Move Local Files",
       {{1, L"a"}, {2, L"*"}, {3, L"b"}, {4, L""}, {5, L"TRUE"}, {6, L"x|"}}, false,
       {L"a", L"*", L"b", L"TRUE", L"FALSE", L""}},
      {"phase command has no fields", L"DELAYEDINSTALL", {}, false, {}},
  };
  for (const RecordCase& c : cases) {
    RecordFixture f;
    f.variables.Set(L"APP", L"Quorvane App", L"test");
    f.variables.Set(L"DATA", L"a, \"b\"", L"test");
    f.variables.Set(L"DIR", L"C:\\Target", L"test");
    f.variables.Set(L"EXT", L"tmp", L"test");
    f.parameters = c.parameters;
    const auto fields = BuildRecordFields(c.statement, f.Source(c.allUsers, L"H7"));
    EXPECT_EQ(fields, c.expected) << c.row;
    // The line form carries every field unchanged, spaces, commas and quotes included.
    EXPECT_EQ(FromCommaText(BuildRecord(c.statement, f.Source(c.allUsers, L"H7"))), c.expected) << c.row;
  }
}

TEST(NativeRecord, RecordLineQuoting) {
  EXPECT_EQ(ToCommaText({L"a b", L"", L"c,d", L"e\"f", L"plain"}), L"\"a b\",,\"c,d\",\"e\"\"f\",plain");
  EXPECT_EQ(ToCommaText({L""}), L"\"\"");
  EXPECT_EQ(FromCommaText(L"a,"), (std::vector<std::wstring>{L"a", L""}));
}

TEST(NativeQueue, KeepsFourItemsPerEntryAndTheWeightTotal) {
  TNativeQueue queue;
  queue.Append({L"Write Registry", 3, L"FALSE,1|,K,N,D,STRING", Bitness::X64});
  queue.Append({L"Create Folder", 4, L"C:\\x", Bitness::Win32});
  queue.Append({L"Install Files", 5, L"H5,C:\\x", Bitness::Win32});
  queue.Append({L"Delete Files", 6, L"C:\\x,*.tmp", Bitness::Win32});
  EXPECT_EQ(queue.WeightTotal(), 512u + 1024u + 0u + 102400u);
  const auto items = queue.Items();
  ASSERT_EQ(items.size(), 16u);
  EXPECT_EQ(std::vector<std::wstring>(items.begin(), items.begin() + 4),
            (std::vector<std::wstring>{L"Write Registry", L"3", L"FALSE,1|,K,N,D,STRING", L"x64"}));
  EXPECT_EQ(items[7], L"Win32");
}

TEST(NativeFileTable, BlocksByHeader) {
  const std::vector<std::wstring> table = {L"A", L"NEWHEADER", L"A\\one.txt", L"",       L"A\\sub\\two.dll", L"sub",
                                           L"B", L"NEWHEADER", L"B\\three.txt", L"docs"};
  const auto a = FilesOf(table, L"A");
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[1].source, L"A\\sub\\two.dll");
  EXPECT_EQ(a[1].companion, L"sub");
  ASSERT_EQ(FilesOf(table, L"B").size(), 1u);
  EXPECT_TRUE(FilesOf(table, L"C").empty());
  EXPECT_EQ(HeaderOf({L"3", L"A", L"12", L"B"}, 12), L"B");
  EXPECT_EQ(HeaderOf({L"3", L"A"}, 4), L"");
}

TEST(NativeDeleteFiles, RefusesEmptyAndRootFolders) {
  const struct {
    const wchar_t* folder;
    bool refused;
  } cases[] = {{L"", true},          {L"  ", true},        {L"C:", true},           {L"C:\\", true},
               {L"\\\\srv\\share\\", true}, {L"\\\\srv", true}, {L"C:\\Temp", false}, {L"\\\\srv\\share\\x", false}};
  for (const auto& c : cases) EXPECT_EQ(IsRefusedDeleteFolder(c.folder), c.refused) << WideToUtf8(c.folder);
}

// What the INI undo may take away: a section only when nothing at all is left
// in it, a file only when it is blank.
TEST(NativeIniUndo, SectionAndFileEmptiness) {
  const struct {
    const char* row;
    const wchar_t* text;
    const wchar_t* section;
    bool sectionEmpty;
  } cases[] = {
      {"header only", L"[App]\r\n", L"App", true},
      {"blank lines and spaces", L"[Other]\r\nx=1\r\n[ app ]\r\n  \r\n\r\n[Next]\r\ny=2", L"App", true},
      {"a key left", L"[App]\r\nkey=1\r\n", L"App", false},
      {"a comment left", L"[App]\r\n; keep me\r\n", L"App", false},
      {"a key after a later header of the same name", L"[App]\r\n[Other]\r\n[APP]\r\nk=v\r\n", L"App", false},
      {"missing section", L"[Other]\r\n", L"App", false},
      {"a longer name", L"[Apps]\r\n", L"App", false},
      {"lone line feeds", L"[App]\n\n[Other]\nk=v\n", L"App", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IniSectionIsEmpty(c.text, c.section), c.sectionEmpty) << c.row;
  EXPECT_TRUE(IniTextIsBlank(L""));
  EXPECT_TRUE(IniTextIsBlank(L"\xFEFF\r\n \t\r\n"));
  EXPECT_FALSE(IniTextIsBlank(L"\r\n;\r\n"));
}

TEST(NativeLogLine, LineBreaksInsideFieldsStayOnOneLine) {
  const std::vector<std::wstring> fields = {L"one\r\ntwo", L"lone\nlf", L"a, \"q\"", L""};
  const std::wstring line = EncodeDataLine(fields);
  EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << WideToUtf8(line);
  EXPECT_EQ(DecodeDataLine(line), (std::vector<std::wstring>{L"one\r\ntwo", L"lone\r\nlf", L"a, \"q\"", L""}));
}

// A private folder for log files, removed afterwards.
struct LogFolder {
  std::wstring root = TemporaryFolder() + L"qv-native-logs-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  LogFolder() { RemoveTree(root); }
  ~LogFolder() { RemoveTree(root); }
};

TEST(NativeLogs, EntriesWeightsAndLineAlignment) {
  LogFolder folder;
  const std::wstring prefix = folder.root + L"nested\\product";
  NativeLogs logs;
  EXPECT_TRUE(logs.RecordUndo(L"Create Folder", {L"C:\\a\\b\\c", L"C:\\a\\b", L"C:\\a"}, Bitness::Win32));
  EXPECT_TRUE(logs.RecordUndo(L"Write Registry", {L"-2147483647|", L"K\\x\\y", L"N", L"K\\x\\y", L"K\\x"}, Bitness::X64));
  EXPECT_TRUE(logs.RecordUndo(L"Create File", {L"C:\\a\\f.txt"}, Bitness::Win32));
  logs.DropLastUndo();  // the file could not be placed
  EXPECT_TRUE(logs.RecordUndo(L"Edit INI File", {L"f.ini", L"s", L"k", L"multi\r\nline"}, Bitness::Win32));
  EXPECT_FALSE(logs.RecordUndo(L"Delete Files", {L"C:\\a", L"*"}, Bitness::Win32));

  EXPECT_EQ(logs.FlushLogs(prefix), folder.root + L"nested\\");
  EXPECT_EQ(logs.PendingCount(), 0u);
  const auto entries = ReadLogs(prefix);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].action, L"Delete Folder");
  EXPECT_EQ(entries[0].weight, 3072u);
  EXPECT_EQ(entries[1].action, L"Delete Registry");
  EXPECT_EQ(entries[1].weight, 1536u);
  EXPECT_EQ(entries[1].bitness, Bitness::X64);
  EXPECT_EQ(entries[2].action, L"Remove INI Entry");
  EXPECT_EQ(entries[2].data[3], L"multi\r\nline");

  // A second flush appends; every file keeps one line per entry.
  logs.RecordUndo(L"Create File", {L"C:\\a\\g.txt"}, Bitness::Win32);
  EXPECT_EQ(logs.FlushLogs(prefix), L"");
  EXPECT_EQ(ReadLogs(prefix).size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(SplitUtf8Lines(ReadWholeFile(LogFile(prefix, i))).size(), 4u) << i;
}

TEST(NativeLogs, OffRecordsNothingAndPresenceNeedsAllFour) {
  LogFolder folder;
  NativeLogs logs;
  logs.SetEnabled(false);
  EXPECT_FALSE(logs.RecordUndo(L"Create File", {L"x"}, Bitness::Win32));
  EXPECT_EQ(logs.PendingCount(), 0u);

  const std::wstring prefix = folder.root + L"set";
  EXPECT_FALSE(LogsPresent(prefix, false));
  EXPECT_TRUE(LogsPresent(prefix, true));  // none there: all four created
  DeleteFileW(LogFile(prefix, 2).c_str());
  EXPECT_FALSE(LogsPresent(prefix, true));  // a broken set is never completed
}

TEST(NativeLogs, MisalignedFilesAreRefused) {
  LogFolder folder;
  const std::wstring prefix = folder.root + L"p";
  CreateFolders(folder.root);
  WriteWholeFile(LogFile(prefix, 0), "Delete File\r\nDelete File\r\n");
  WriteWholeFile(LogFile(prefix, 1), "a\r\nb\r\n");
  WriteWholeFile(LogFile(prefix, 2), "1024\r\n");
  WriteWholeFile(LogFile(prefix, 3), "Win32\r\nWin32\r\n");
  EXPECT_THROW(ReadLogs(prefix), Error);
  WriteWholeFile(LogFile(prefix, 2), "1024\r\nlots\r\n");
  EXPECT_THROW(ReadLogs(prefix), Error);
}

}  // namespace
}  // namespace qv::native
