#include "commands/StringCommands.h"

#include "bootstrap/Session.h"
#include "commands/VariableSeams.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/Statements.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace qv {
namespace {

// One statement at a time, from an in-memory script, against a store of its
// own. The process-wide seams and lists are put back after every test.
class StringCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetProcessState();
    Define(L"NEWLINE", L"\r\n");
  }
  void TearDown() override { ResetProcessState(); }

  static void ResetProcessState() {
    ResetVariableSeams();
    Remembered().Clear();
    SetDownloadTimeoutSeconds(kDefaultDownloadTimeout);
  }

  void Define(std::wstring_view name, std::wstring_view value) { variables.Set(name, value, L"Test"); }
  std::wstring Get(std::wstring_view name) const { return variables.Get(name); }

  // Runs `handler` as the statement `statement` with these raw parameters.
  void Run(StatementHandler handler, std::wstring_view statement, std::vector<std::wstring> parameters) {
    auto script = std::make_unique<Script>();
    script->names = {std::wstring(statement)};
    script->identifiers = {kIdentifier};
    parameters.insert(parameters.begin(), kIdentifier);
    script->parameters = ParameterTable(std::move(parameters));
    session.script = std::move(script);
    StatementContext context{session, variables, reader, components, 0};
    handler(context);
  }

  // The spelling under which a name is stored.
  std::wstring StoredSpelling(std::wstring_view name) {
    std::vector<std::wstring> names;
    variables.Store().ExportNames(names);
    for (const auto& stored : names)
      if (EqualsNoCase(stored, name)) return stored;
    return {};
  }

  static constexpr const wchar_t* kIdentifier = L"{6F1C0B4E-STATEMENT}";
  Session session;
  Variables variables;
  TextFileReader reader;
  ComponentList components;
};

// A folder of its own under the temporary folder, removed afterwards.
class Sandbox {
public:
  Sandbox() {
    static int count = 0;
    wchar_t name[64];
    swprintf(name, 64, L"qv-strings-%lu-%d\\", GetCurrentProcessId(), ++count);
    root_ = TemporaryFolder() + name;
    CreateFolders(root_);
  }
  ~Sandbox() { RemoveTree(root_); }
  const std::wstring& root() const { return root_; }
  std::wstring File(std::wstring_view relative) const {
    const std::wstring path = root_ + std::wstring(relative);
    CreateFolders(FolderOf(path));
    WriteWholeFile(path, "x");
    return path;
  }

private:
  std::wstring root_;
};

// ---------------------------------------------------------------- Set Variable

TEST_F(StringCommandsTest, SetVariableReadsNameRememberFlagAndValue) {
  struct Case {
    const char* name;
    std::wstring target;
    std::wstring value;
    std::wstring variable;
    std::wstring expected;
    bool remembered;
  };
  const Case cases[] = {
      {"plain name, expanded value", L"LIST", L"a$B$c", L"LIST", L"axc", false},
      {"reference form", L"$list$", L"v", L"LIST", L"v", false},
      {"remembered", L"LIST$QIVA$QIVA$TRUE", L"r", L"LIST", L"r", true},
      {"remember flag is exact", L"LIST$QIVA$QIVA$true", L"r", L"LIST", L"r", false},
      {"reference form remembered", L"$KEEP$$QIVA$QIVA$TRUE", L"k", L"KEEP", L"k", true},
      {"own reference clears", L"SELF", L"$self$", L"SELF", L"", false},
  };
  for (const auto& c : cases) {
    Remembered().Clear();
    Define(L"B", L"x");
    Run(SetVariableStatement, L"Set Variable", {c.target, c.value});
    EXPECT_EQ(Get(c.variable), c.expected) << c.name;
    EXPECT_EQ(Remembered().Contains(c.variable), c.remembered) << c.name;
  }
}

TEST_F(StringCommandsTest, SetVariableCreatesUpperCaseNamesAndRemembersEachOnce) {
  Run(SetVariableStatement, L"Set Variable", {L"fresh$QIVA$QIVA$TRUE", L"1"});
  Run(SetVariableStatement, L"Set Variable", {L"FRESH$QIVA$QIVA$TRUE", L"2"});
  EXPECT_EQ(StoredSpelling(L"fresh"), L"FRESH");
  EXPECT_EQ(Get(L"FRESH"), L"2");
  EXPECT_EQ(Remembered().Names(), std::vector<std::wstring>{L"FRESH"});

  Run(SetVariableStatement, L"Set Variable", {L"$QIVA$QIVA$TRUE", L"nameless"});
  EXPECT_EQ(Remembered().Names().size(), 1u) << "an empty name is neither stored nor remembered";
  EXPECT_FALSE(variables.Exists(L""));
}

TEST_F(StringCommandsTest, SetVariableLeavesCommandLineValueInPlace) {
  variables.SetOverrides({}, {L"TARGETDIR", L"C:\\FromCommandLine"});
  variables.Set(L"TARGETDIR", L"C:\\FromCommandLine", kSourceOverrideStrict);
  Run(SetVariableStatement, L"Set Variable", {L"TARGETDIR", L"C:\\FromScript"});
  EXPECT_EQ(Get(L"TARGETDIR"), L"C:\\FromCommandLine");
}

TEST_F(StringCommandsTest, SetVariableNotifiesWatchedNames) {
  std::vector<std::pair<int, std::wstring>> shown;
  Seams().showProgress = [&](int percent, std::wstring_view text) { shown.emplace_back(percent, text); };

  Run(SetVariableStatement, L"Set Variable", {L"abort", L"TRUE"});
  EXPECT_EQ(Get(L"QIVA_IsCancelled"), L"TRUE");
  Run(SetVariableStatement, L"Set Variable", {L"ABORT", L"FALSE"});
  EXPECT_EQ(Get(L"QIVA_IsCancelled"), L"FALSE");

  Run(SetVariableStatement, L"Set Variable", {L"QIVA_TIMEOUT", L"25"});
  EXPECT_EQ(DownloadTimeoutSeconds(), 25);
  Run(SetVariableStatement, L"Set Variable", {L"QIVA_TIMEOUT", L"FALSE"});
  EXPECT_EQ(DownloadTimeoutSeconds(), 10);
  EXPECT_EQ(Get(L"QIVA_TIMEOUT"), L"FALSE");

  Run(SetVariableStatement, L"Set Variable", {L"PROGRESSTEXT", L"Copying"});
  Run(SetVariableStatement, L"Set Variable", {L"PROGRESS", L"40"});
  Run(SetVariableStatement, L"Set Variable", {L"PROGRESS", L"250"});
  Run(SetVariableStatement, L"Set Variable", {L"PROGRESS", L"half"});
  const std::vector<std::pair<int, std::wstring>> expected{
      {0, L"Copying"}, {40, L"Copying"}, {100, L"Copying"}, {0, L"Copying"}};
  EXPECT_EQ(shown, expected);
}

TEST_F(StringCommandsTest, NativeLoggingGoesThroughTheNativeEngineOnChangeOnly) {
  std::vector<std::wstring> offered;
  Seams().nativeLogging = [&](std::wstring_view value) {
    offered.emplace_back(value);
    return value == L"C:\\Logs\\app" ? std::wstring(value) : std::wstring();
  };
  Run(SetVariableStatement, L"Set Variable", {L"NATIVE_LOGGING", L"C:\\Logs\\app"});
  EXPECT_EQ(Get(L"NATIVE_LOGGING"), L"C:\\Logs\\app");
  Run(SetVariableStatement, L"Set Variable", {L"native_logging", L"C:\\Logs\\app"});
  Run(SetVariableStatement, L"Set Variable", {L"NATIVE_LOGGING", L"Q:\\unusable"});
  EXPECT_EQ(Get(L"NATIVE_LOGGING"), L"") << "a refused path is stored as the empty text";
  EXPECT_EQ(offered, (std::vector<std::wstring>{L"C:\\Logs\\app", L"Q:\\unusable"}));
}

TEST_F(StringCommandsTest, ValuesAreTranslatedBeforeExpansionOnlyWithALanguage) {
  std::vector<std::wstring> keys;
  Seams().translate = [&](std::wstring_view text, std::wstring_view identifier, int ordinal) {
    keys.push_back(std::wstring(identifier) + L"#" + std::to_wstring(ordinal));
    return text == L"Hello $USER$" ? std::wstring(L"Hallo $USER$") : std::wstring(text);
  };
  Define(L"USER", L"Ada");
  Define(L"LANGUAGE", L"");
  Run(SetVariableStatement, L"Set Variable", {L"GREETING", L"Hello $USER$"});
  EXPECT_EQ(Get(L"GREETING"), L"Hello Ada");
  EXPECT_TRUE(keys.empty());

  Define(L"LANGUAGE", L"German");
  Run(SetVariableStatement, L"Set Variable", {L"GREETING", L"Hello $USER$"});
  EXPECT_EQ(Get(L"GREETING"), L"Hallo Ada");
  Run(LocalizationVariableStatement, L"Localization Variable", {L"$Welcome$", L"Hello $USER$"});
  EXPECT_EQ(Get(L"WELCOME"), L"Hallo Ada");
  EXPECT_EQ(StoredSpelling(L"welcome"), L"WELCOME");
  EXPECT_EQ(keys, (std::vector<std::wstring>{std::wstring(kIdentifier) + L"#1", L"TRALDINE$Welcome$TRALDINE#1"}));
}

TEST_F(StringCommandsTest, LocalizationVariableWatchesNothingAndRemembersNothing) {
  Run(LocalizationVariableStatement, L"Localization Variable", {L"ABORT$QIVA$QIVA$TRUE", L"TRUE"});
  Run(LocalizationVariableStatement, L"Localization Variable", {L"ABORT", L"TRUE"});
  EXPECT_EQ(Get(L"ABORT"), L"TRUE");
  EXPECT_FALSE(variables.Exists(L"QIVA_IsCancelled"));
  EXPECT_TRUE(Remembered().Names().empty());
}

// ---------------------------------------------------------------- Parse String

TEST_F(StringCommandsTest, ParseStringSplitsByModeAndDropsTheDelimiter) {
  struct Case {
    const char* name;
    std::wstring source;
    std::wstring delimiter;
    std::wstring mode;
    std::wstring trim;
    std::wstring ignoreCase;
    std::wstring first;
    std::wstring second;
  };
  const Case cases[] = {
      {"first occurrence", L"a,b,c", L",", L"0", L"", L"", L"a", L"b,c"},
      {"last occurrence", L"a,b,c", L",", L"1", L"", L"", L"a,b", L"c"},
      {"first, long delimiter", L"a::b::c", L"::", L"0", L"", L"", L"a", L"b::c"},
      {"first, no match: all in the first part", L"abc", L";", L"0", L"", L"", L"abc", L""},
      {"last, no match: all in the second part", L"abc", L";", L"1", L"", L"", L"", L"abc"},
      {"empty delimiter never matches", L"abc", L"", L"0", L"", L"", L"abc", L""},
      {"count from the left", L"abcdef", L"2", L"2", L"", L"", L"ab", L"cdef"},
      {"zero from the left", L"abcdef", L"0", L"2", L"", L"", L"", L"abcdef"},
      {"left count past the end", L"abc", L"5", L"2", L"", L"", L"abc", L""},
      {"count from the right", L"abcdef", L"2", L"3", L"", L"", L"abcd", L"ef"},
      {"zero from the right", L"abcdef", L"0", L"3", L"", L"", L"abcdef", L""},
      {"right count of the whole length", L"abcdef", L"6", L"3", L"", L"", L"", L"abcdef"},
      {"right count past the start", L"abc", L"9", L"3", L"", L"", L"", L"abc"},
      {"count not a number", L"abcdef", L"two", L"2", L"", L"", L"", L""},
      {"unknown mode", L"a,b", L",", L"7", L"", L"", L"", L""},
      {"ignore case, parts keep their case", L"Key=Value", L"KEY=", L"0", L"", L"TRUE", L"", L"Value"},
      {"ignore case, last", L"One-AND-two-and-Three", L"and", L"1", L"", L"-1", L"One-AND-two-", L"-Three"},
      {"case matters without the flag", L"Key=Value", L"KEY=", L"0", L"", L"FALSE", L"Key=Value", L""},
      {"trim", L" \ta , b \r\n", L",", L"0", L"true", L"", L"a", L"b"},
      {"no trim", L" a , b ", L",", L"0", L"", L"", L" a ", L" b "},
      {"references expanded", L"$S$", L"$D$", L"0", L"", L"", L"left", L"right"},
      {"read as paths", L"C:\\\\dir\\\\file", L"\\", L"1", L"", L"", L"C:\\dir", L"file"},
      {"mode expanded", L"a,b", L",", L"$M$", L"", L"", L"a", L"b"},
  };
  for (const auto& c : cases) {
    Define(L"S", L"left|right");
    Define(L"D", L"|");
    Define(L"M", L"1");
    Define(L"FIRST", L"stale");
    Define(L"SECOND", L"stale");
    Run(ParseStringStatement, L"Parse String", {c.source, c.delimiter, L"FIRST", L"SECOND", c.mode, c.trim, c.ignoreCase});
    EXPECT_EQ(Get(L"FIRST"), c.first) << c.name;
    EXPECT_EQ(Get(L"SECOND"), c.second) << c.name;
  }
}

TEST_F(StringCommandsTest, ParseStringWritesOnlyNamedPartsWithPlainNames) {
  Run(ParseStringStatement, L"Parse String", {L"a=b", L"=", L"", L"second", L"0", L"", L""});
  EXPECT_EQ(StoredSpelling(L"second"), L"SECOND");
  EXPECT_EQ(Get(L"SECOND"), L"b");
  Run(ParseStringStatement, L"Parse String", {L"a=b", L"=", L"$P$", L"", L"0", L"", L""});
  EXPECT_EQ(Get(L"$P$"), L"a") << "a plain name is not read as a reference";
  EXPECT_FALSE(variables.Exists(L"P"));
}

TEST_F(StringCommandsTest, ParseStringRejectsAModeThatIsNoNumber) {
  EXPECT_THROW(Run(ParseStringStatement, L"Parse String", {L"a,b", L",", L"F", L"S", L"first", L"", L""}), Error);
}

// -------------------------------------------------------------- Replace String

TEST_F(StringCommandsTest, ReplaceStringReplacesFirstOrAllKeepingLineBreaksAsTokens) {
  struct Case {
    const char* name;
    std::wstring value;
    std::wstring search;
    std::wstring replacement;
    std::wstring ignoreCase;
    std::wstring all;
    std::wstring expected;
  };
  const Case cases[] = {
      {"first only", L"a-a-a", L"a", L"b", L"", L"", L"b-a-a"},
      {"all", L"a-a-a", L"a", L"b", L"", L"TRUE", L"b-b-b"},
      {"case matters", L"A-a", L"a", L"x", L"", L"TRUE", L"A-x"},
      {"case ignored", L"A-a", L"a", L"x", L"TRUE", L"TRUE", L"x-x"},
      {"case ignored, first only", L"xAbcab", L"AB", L"_", L"TRUE", L"", L"x_cab"},
      {"empty search leaves the value", L"abc", L"", L"x", L"", L"TRUE", L"abc"},
      {"longer replacement is not rescanned", L"aa", L"a", L"aa", L"", L"TRUE", L"aaaa"},
      {"line break stored as token", L"x1\r\nx2", L"x", L"y", L"", L"TRUE", L"y1$NEWLINE$y2"},
      {"search for a line break", L"a\r\nb", L"$NEWLINE$", L" ", L"", L"", L"a b"},
      {"replace with a line break", L"a;b", L";", L"$NEWLINE$", L"", L"", L"a$NEWLINE$b"},
      {"expanded texts", L"name: NAME", L"$WHAT$", L"$WITH$", L"", L"TRUE", L"name: Ada"},
  };
  for (const auto& c : cases) {
    Define(L"TEXT", c.value);
    Define(L"WHAT", L"NAME");
    Define(L"WITH", L"Ada");
    Run(ReplaceStringStatement, L"Replace String", {L"$text$", c.search, c.replacement, c.ignoreCase, c.all});
    EXPECT_EQ(Get(L"TEXT"), c.expected) << c.name;
  }
}

// ---------------------------------------------------------------- Convert Case

TEST_F(StringCommandsTest, ConvertCaseMapsAllLettersOfAPathExpandedValue) {
  struct Case {
    const char* name;
    std::wstring value;
    std::wstring upper;
    std::wstring expected;
  };
  const Case cases[] = {
      {"upper", L"MixEd 1", L"TRUE", L"MIXED 1"},
      {"lower", L"MixEd 1", L"FALSE", L"mixed 1"},
      {"letters beyond ASCII", L"\u00e4\u00f6\u00fc\u00e9", L"-1", L"\u00c4\u00d6\u00dc\u00c9"},
      {"value expanded, backslashes collapsed", L"$DIR$\\Sub", L"", L"c:\\app\\sub"},
  };
  for (const auto& c : cases) {
    Define(L"DIR", L"C:\\App\\");
    Define(L"V", c.value);
    Run(ConvertCaseStatement, L"Convert Case", {L"V", c.upper});
    EXPECT_EQ(Get(L"V"), c.expected) << c.name;
  }
}

// ---------------------------------------------------------------- Extract Path

TEST_F(StringCommandsTest, ExtractPathReturnsTheRequestedPart) {
  struct Case {
    const char* name;
    std::wstring value;
    std::wstring part;
    std::wstring expected;
  };
  const Case cases[] = {
      {"file name", L"C:\\a\\b\\c.txt", L"0", L"c.txt"},
      {"base name", L"C:\\a\\b\\c.txt", L"1", L"c"},
      {"base name, last extension only", L"archive.tar.gz", L"1", L"archive.tar"},
      {"extension", L"archive.tar.gz", L"2", L"gz"},
      {"no extension; dot in the folder", L"C:\\dir.d\\noext", L"2", L""},
      {"folder", L"C:\\a\\b\\c.txt", L"3", L"C:\\a\\b\\"},
      {"no folder gives empty, not a root", L"c.txt", L"3", L""},
      {"parent", L"C:\\a\\b\\c.txt", L"4", L"C:\\a\\"},
      {"parent at the root", L"C:\\c.txt", L"4", L"C:\\"},
      {"drive", L"C:\\a\\b\\c.txt", L"5", L"C:\\"},
      {"network drive", L"\\\\srv\\share\\dir\\f.txt", L"5", L"\\\\srv\\share\\"},
      {"relative path has no drive", L"dir\\f.txt", L"5", L""},
      {"collapsed once more", L"a\\\\\\\\b", L"6", L"a\\b"},
      {"other part: path-expanded value", L"$ROOT$\\x", L"9", L"C:\\x"},
      {"part expanded", L"C:\\a\\b.txt", L"$PART$", L"b.txt"},
  };
  for (const auto& c : cases) {
    Define(L"ROOT", L"C:\\");
    Define(L"PART", L"0");
    Define(L"P", c.value);
    Run(ExtractPathStatement, L"Extract Path", {L"P", c.part});
    EXPECT_EQ(Get(L"P"), c.expected) << c.name;
  }
}

TEST_F(StringCommandsTest, ExtractPathRejectsAPartThatIsNoNumber) {
  Define(L"P", L"C:\\a.txt");
  EXPECT_THROW(Run(ExtractPathStatement, L"Extract Path", {L"P", L"name"}), Error);
  EXPECT_EQ(Get(L"P"), L"C:\\a.txt");
}

// ---------------------------------------------------------------- Convert Path

TEST_F(StringCommandsTest, ConvertPathResolvesAgainstTheSetupFolderAndChecksExistence) {
  Sandbox sandbox;
  const std::wstring file = sandbox.File(L"Long Folder Name\\some long file.txt");
  const std::wstring folder = sandbox.root() + L"Long Folder Name";
  SetEnvironmentVariableW(L"QV_CONVERT_PATH_TEST", sandbox.root().c_str());
  Define(L"EXEDIR", sandbox.root());
  Define(L"SETUPPATH", L"$EXEDIR$");  // stored as a reference, resolved at use
  struct Case {
    const char* name;
    std::wstring value;
    std::wstring expected;
  };
  const Case cases[] = {
      {"relative to the setup folder", L"Long Folder Name\\some long file.txt", file},
      {"dot segments resolved", L"Long Folder Name\\.\\..\\Long Folder Name\\some long file.txt", file},
      {"absolute folder", folder, folder},
      {"environment reference", L"%QV_CONVERT_PATH_TEST%Long Folder Name", folder},
      {"missing file", L"Long Folder Name\\missing.txt", L""},
      {"empty path names nothing", L"", L""},
  };
  for (const auto& c : cases) {
    Define(L"P", c.value);
    Run(ConvertPathStatement, L"Convert Path", {L"P", L"TRUE"});
    EXPECT_TRUE(EqualsNoCase(Get(L"P"), c.expected)) << c.name << ": " << WideToUtf8(Get(L"P"));
  }
  SetEnvironmentVariableW(L"QV_CONVERT_PATH_TEST", nullptr);
}

TEST_F(StringCommandsTest, ConvertPathShortFormNamesTheSameFile) {
  Sandbox sandbox;
  const std::wstring file = sandbox.File(L"Long Folder Name\\some long file.txt");
  Define(L"P", file);
  Run(ConvertPathStatement, L"Convert Path", {L"P", L"FALSE"});
  const std::wstring shortForm = Get(L"P");
  ASSERT_FALSE(shortForm.empty());
  EXPECT_EQ(shortForm.find(L"some long file"), std::wstring::npos) << WideToUtf8(shortForm);
  wchar_t longForm[MAX_PATH];
  ASSERT_NE(GetLongPathNameW(shortForm.c_str(), longForm, MAX_PATH), 0u);
  EXPECT_TRUE(EqualsNoCase(longForm, file));
}

// ---------------------------------------------------------- Get Temporary File

TEST_F(StringCommandsTest, GetTemporaryFileCreatesAnEmptyFileInTempDir) {
  Sandbox sandbox;
  Define(L"TEMPDIR", sandbox.root());
  Run(GetTemporaryFileStatement, L"Get Temporary File", {L"$tmp$"});
  const std::wstring first = Get(L"TMP");
  EXPECT_EQ(StoredSpelling(L"tmp"), L"TMP");
  ASSERT_TRUE(FileExists(first)) << WideToUtf8(first);
  EXPECT_TRUE(EqualsNoCase(FolderOf(first), sandbox.root()));
  EXPECT_TRUE(StartsWithNoCase(FileNameOf(first), L"zel"));
  EXPECT_EQ(FileSize(first), 0u);
  Run(GetTemporaryFileStatement, L"Get Temporary File", {L"TMP"});
  EXPECT_NE(Get(L"TMP"), first);
}

TEST_F(StringCommandsTest, GetTemporaryFileGivesEmptyWhenNoFileCanBeMade) {
  Sandbox sandbox;
  Define(L"TEMPDIR", sandbox.root() + L"missing\\");
  Define(L"TMP", L"stale");
  Run(GetTemporaryFileStatement, L"Get Temporary File", {L"TMP"});
  EXPECT_EQ(Get(L"TMP"), L"");

  Define(L"TEMPDIR", L"");
  session.paths.tempFolder = sandbox.root();
  Run(GetTemporaryFileStatement, L"Get Temporary File", {L"TMP"});
  EXPECT_TRUE(EqualsNoCase(FolderOf(Get(L"TMP")), sandbox.root())) << "no TEMPDIR: the session's temporary folder";
}

}  // namespace
}  // namespace qv
