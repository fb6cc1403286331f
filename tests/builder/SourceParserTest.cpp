#include "SourceFixture.h"

#include "builder/SourceFormat.h"
#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv::build::test {
namespace {

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

// ---- Errors: each one reported with the file and line where it lies.

struct ErrorCase {
  const char* name;
  std::wstring main;
  std::wstring include;  // C:\src\inc.qvs, when not empty
  std::wstring file;     // expected file as reported
  size_t line;
  std::wstring message;  // expected part of the message
};

const ErrorCase kErrorCases[] = {
    {"UnknownStatement", L"Comment\nSet Varible name=A\n" + kSetup, L"", kMain, 2, L"unknown statement 'Set Varible'"},
    {"UnknownParameter", L"Set Variable name=A valeu=1\n" + kSetup, L"", kMain, 1,
     L"unknown parameter 'valeu' for Set Variable (parameters: name, remember, value)"},
    {"ParameterOnContinuationLine", L"MessageBox {\n  title=T\n  txet=x\n}\n" + kSetup, L"", kMain, 3,
     L"unknown parameter 'txet'"},
    {"MissingRequired", L"\n\nSet Variable value=1\n" + kSetup, L"", kMain, 3, L"Set Variable needs parameter 'name'"},
    {"RepeatedParameter", L"Set Variable name=A name=B\n" + kSetup, L"", kMain, 1, L"'name' is given twice"},
    {"NotANumber", L"MessageBox icon=warning\n" + kSetup, L"", kMain, 1, L"must be a decimal number, not 'warning'"},
    {"UnterminatedQuote", L"Set Variable name=A value=\"abc\n" + kSetup, L"", kMain, 1, L"unterminated quoted text"},
    {"MissingValue", L"Set Variable name=A value=\n" + kSetup, L"", kMain, 1, L"'value=' has no value"},
    {"StrayWord", L"Set Variable name=A value=Hello World\n" + kSetup, L"", kMain, 1,
     L"expected name=value, found 'World'"},
    {"UnclosedBlock", L"Comment\nMessageBox {\n  title=T\n" + kSetup, L"", kMain, 2, L"'{' is not closed"},
    {"StrayBrace", L"}\n" + kSetup, L"", kMain, 1, L"'}' without a statement"},
    {"BadProductCode",
     L"@setup {\n product-code={1234}\n revision-code={AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\n title=T\n}\n", L"", kMain,
     2, L"product-code: '{1234}' is not a GUID"},
    {"GuidWithoutBraces",
     L"@setup {\n product-code={11111111-2222-3333-4444-555555555555}\n"
     L" revision-code=AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE\n title=T\n}\n",
     L"", kMain, 3, L"is not a GUID"},
    {"BadPinnedId", L"Comment id={XYZ}\n" + kSetup, L"", kMain, 1, L"id: '{XYZ}' is not a GUID"},
    {"DuplicatePinnedId",
     L"Comment id={00000000-0000-0000-0000-000000000001}\nComment id={00000000-0000-0000-0000-000000000001}\n" + kSetup,
     L"", kMain, 2, L"is already used by the statement at C:\\src\\main.qvs:1"},
    {"MissingSetupKey", L"@setup product-code={11111111-2222-3333-4444-555555555555} title=T\n", L"", kMain, 1,
     L"@setup needs revision-code="},
    {"NoSetup", L"Comment\n", L"", kMain, 0, L"no @setup block"},
    {"UnknownDirective", L"@import file=x\n" + kSetup, L"", kMain, 1, L"unknown directive '@import'"},
    {"SetupInInclude", L"@include file=inc.qvs\n" + kSetup, kSetup, L"C:\\src\\inc.qvs", 1, L"@setup belongs in the main"},
    {"ErrorInsideInclude", L"Comment\n@include file=inc.qvs\n" + kSetup, L"Comment\n\nLabel\n", L"C:\\src\\inc.qvs", 3,
     L"Label needs parameter 'name'"},
    {"MissingInclude", L"Comment\n@include file=missing.qvs\n" + kSetup, L"", kMain, 2,
     L"cannot read the included file 'C:\\src\\missing.qvs'"},
    {"IncludeCycle", L"@include file=inc.qvs\n" + kSetup, L"Comment\n@include file=main.qvs\n", L"C:\\src\\inc.qvs", 2,
     L"include cycle: main.qvs -> inc.qvs -> main.qvs"},
    {"SelfInclude", L"Comment\n@include file=main.qvs\n" + kSetup, L"", kMain, 2, L"include cycle: main.qvs -> main.qvs"},
    {"EndIncludeWithoutBegin", L"@end-include\n" + kSetup, L"", kMain, 1, L"@end-include without @begin-include"},
    {"BeginIncludeNotClosed", L"Comment\n@begin-include result=R\nComment\n" + kSetup, L"", kMain, 2,
     L"@begin-include is not closed"},
    {"RedefinedVariable", L"@define A=1\n@define a=2\n" + kSetup, L"", kMain, 2, L"'a' is already defined"},
    {"CommentedDirective", L"// @define A=1\n" + kSetup, L"", kMain, 1, L"a directive cannot be commented out"},
};

TEST(SourceErrors, ReportFileLineAndCause) {
  for (const auto& c : kErrorCases) {
    SCOPED_TRACE(c.name);
    SourceFiles files;
    files.Add(kMain, c.main);
    if (!c.include.empty()) files.Add(L"C:\\src\\inc.qvs", c.include);
    const auto result = files.Compile();
    ASSERT_FALSE(result.errors.empty());
    bool found = false;
    for (const auto& e : result.errors)
      found = found || (e.file == c.file && e.line == c.line && e.message.find(c.message) != std::wstring::npos);
    std::string all;
    for (const auto& e : result.errors) all += Narrow(e.ToString()) + "\n";
    EXPECT_TRUE(found) << "expected " << Narrow(c.file) << ":" << c.line << ": ..." << Narrow(c.message)
                       << "\ngot:\n" << all;
  }
}

TEST(SourceErrors, AllErrorsOfAFileAreReported) {
  const auto result =
      SourceFiles().Add(kMain, L"Bogus\nSet Variable\nSet Variable name=A\nMessageBox icon=x\n" + kSetup).Compile();
  ASSERT_EQ(result.errors.size(), 3u);
  EXPECT_EQ(result.errors[0].line, 1u);
  EXPECT_EQ(result.errors[1].line, 2u);
  EXPECT_EQ(result.errors[2].line, 4u);
  EXPECT_EQ(result.errors[2].ToString(), L"C:\\src\\main.qvs:4: parameter 'icon' of MessageBox must be a decimal number, not 'x'");
}

// ---- Statements and parameters.

TEST(SourceStatements, ParametersFollowTheSchemaOrderWithDefaults) {
  const Script s = CompileOk(L"MessageBox result=ANSWER text=\"Hi there\"\n" + kSetup);
  ASSERT_EQ(s.StatementCount(), 1u);
  EXPECT_EQ(s.names[0], L"MessageBox");
  const std::vector<std::wstring> expected = {L"", L"Hi there", L"0", L"1", L"ANSWER"};
  for (size_t k = 1; k <= expected.size(); ++k) EXPECT_EQ(s.Parameter(0, k), expected[k - 1]) << "parameter " << k;
  EXPECT_EQ(s.Parameter(0, 0), s.identifiers[0]);
}

TEST(SourceStatements, NamesIgnoreCaseAndBlanksAndComeOutCanonical) {
  const Script s = CompileOk(L"set   VARIABLE name=A\n   terminate install\n" + kSetup);
  EXPECT_EQ(s.names, (std::vector<std::wstring>{L"Set Variable", L"Terminate Install"}));
}

TEST(SourceStatements, RememberFlagJoinsTheNameLine) {
  const Script s = CompileOk(L"Set Variable name=A remember=TRUE value=1\nSet Variable value=2 name=B\n" + kSetup);
  EXPECT_EQ(s.Parameter(0, 1), L"A$QIVA$QIVA$TRUE");
  EXPECT_EQ(s.Parameter(0, 2), L"1");
  EXPECT_EQ(s.Parameter(1, 1), L"B");
  EXPECT_EQ(s.Parameter(1, 2), L"2");
}

TEST(SourceStatements, StatementsWithoutParametersHaveNoBlock) {
  const Script s = CompileOk(L"Else\nEnd\nComment\n" + kSetup);
  // Only Comment (one text line) has a block: its identifier and one line.
  ASSERT_EQ(s.parameters.lines().size(), 2u);
  EXPECT_EQ(s.parameters.lines()[0], s.identifiers[2]);
}

TEST(SourceStatements, CommentedOutStatementsKeepTheirParameters) {
  const Script s = CompileOk(L"  // Set Variable name=A value=1\nSet Variable name=B\n" + kSetup);
  EXPECT_EQ(s.states, (std::vector<std::wstring>{L"C", L""}));
  EXPECT_EQ(s.Parameter(0, 1), L"A");
  EXPECT_EQ(s.Parameter(0, 2), L"1");
}

TEST(SourceStatements, NotesBlankLinesAndIndentationLeaveNoTrace) {
  const Script s = CompileOk(L"# a note\n\n\tIf variable=A\n\t\t# inside\n\t\tSet Variable name=B\n\tEnd\n" + kSetup);
  EXPECT_EQ(s.names, (std::vector<std::wstring>{L"If", L"Set Variable", L"End"}));
  EXPECT_EQ(ParseSourceReference(s.sourceReferences[1]).line, 4);  // zero-based line of "Set Variable"
  EXPECT_EQ(s.sourceReferences[1], L"C:\\src\\main.qvs*4");
}

struct ValueCase {
  const char* name;
  std::wstring written;   // the value as written after "value="
  std::wstring expected;  // parameter line
};

TEST(SourceValues, QuotingForms) {
  const ValueCase cases[] = {
      {"Bare", L"plain", L"plain"},
      {"BareWithDollarsAndEquals", L"$A$=b", L"$A$=b"},
      {"BareApostrophe", L"it's", L"it's"},
      {"Empty", L"\"\"", L""},
      {"EdgeSpaces", L"\"  padded  \"", L"  padded  "},
      {"DoubledQuote", L"\"say \"\"hi\"\"\"", L"say \"hi\""},
      {"SingleQuotedIsLiteral", L"'#NAME# and ''x'''", L"#NAME# and 'x'"},
      {"LoneDollar", L"$", L"$"},
      {"PiecesJoin", L"\"one \" 'two' \" three\"", L"one two three"},
      {"BraceValue", L"{", L"{"},
      {"TabInsideQuotes", L"\"a\tb\"", L"a\tb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Script s = CompileOk(L"@define NAME=replaced\nSet Variable name=A value=" + c.written + L"\n" + kSetup);
    ASSERT_EQ(s.StatementCount(), 1u);
    EXPECT_EQ(s.Parameter(0, 2), c.expected);
  }
}

TEST(SourceValues, BlockFormSpreadsParametersAndLongTextsOverLines) {
  const Script s = CompileOk(
      L"MessageBox {\n"
      L"    title = \"Welcome\"\n"
      L"    # a note inside the block\n"
      L"    text  = \"This text is long, \"\n"
      L"            \"so it continues here.\"\n"
      L"    icon=2 buttons=4\n"
      L"}\n"
      L"Terminate Install\n" +
      kSetup);
  ASSERT_EQ(s.StatementCount(), 2u);
  EXPECT_EQ(s.Parameter(0, 1), L"Welcome");
  EXPECT_EQ(s.Parameter(0, 2), L"This text is long, so it continues here.");
  EXPECT_EQ(s.Parameter(0, 3), L"2");
  EXPECT_EQ(s.Parameter(0, 4), L"4");
  EXPECT_EQ(s.sourceReferences[1], L"C:\\src\\main.qvs*7");
}

TEST(SourceValues, RepeatableTextAndExtraLinesAddBlockLines) {
  const Script s = CompileOk(L"Comment text=one text=\"two\" text=''\nTerminate with Exit Code code=3 extra=x\n" + kSetup);
  EXPECT_EQ(s.Parameter(0, 1), L"one");
  EXPECT_EQ(s.Parameter(0, 2), L"two");
  EXPECT_EQ(s.Parameter(0, 3), L"");
  EXPECT_EQ(s.Parameter(0, 4), s.identifiers[1]);
  EXPECT_EQ(s.Parameter(1, 1), L"3");
  EXPECT_EQ(s.Parameter(1, 2), L"x");
}

TEST(SourceValues, DollarLineSurvivesTheAppendedFormat) {
  const Script s = CompileOk(L"Set Variable name=A value=$\nSet Variable name=B value='$WILD_DOLLAR$'\n" + kSetup);
  const Script read = ReadScript(WriteScript(s));
  EXPECT_EQ(read.Parameter(0, 2), L"$");
  // The token itself cannot be told from an escaped "$" once written.
  EXPECT_EQ(read.Parameter(1, 2), L"$");
}

// ---- Compiler variables.

TEST(CompilerVariables, ReplacedInValuesAndListedInOrder) {
  const Script s = CompileOk(
      L"@define PRODUCT=\"Hello\" VERSION=1.2\n"
      L"@define FULL=\"#product# #VERSION#\"\n"
      L"Set Variable name=A value=\"#FULL#\"\n"
      L"Set Variable name=B value=#VERSION#\n"
      L"Set Variable name=C value='#VERSION#'\n"
      L"Set Variable name=D value=\"#UNKNOWN# stays\"\n"
      L"@setup product-code={11111111-2222-3333-4444-555555555555} "
      L"revision-code={AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE} title=\"#PRODUCT# Setup\"\n");
  EXPECT_EQ(s.Parameter(0, 2), L"Hello 1.2");
  EXPECT_EQ(s.Parameter(1, 2), L"1.2");
  EXPECT_EQ(s.Parameter(2, 2), L"#VERSION#");
  EXPECT_EQ(s.Parameter(3, 2), L"#UNKNOWN# stays");
  EXPECT_EQ(s.title, L"Hello Setup");
  EXPECT_EQ(s.compilerVariables,
            (std::vector<std::wstring>{L"PRODUCT", L"Hello", L"VERSION", L"1.2", L"FULL", L"Hello 1.2"}));
}

TEST(CompilerVariables, CallerDefinitionsWinOverTheSource) {
  const auto result = SourceFiles()
                          .Add(kMain, L"@define MODE=debug OTHER=x\nSet Variable name=A value=#MODE#\n" + kSetup)
                          .Compile(kMain, {{L"MODE", L"release"}});
  ASSERT_TRUE(result.errors.empty());
  EXPECT_EQ(result.script.Parameter(0, 2), L"release");
  EXPECT_EQ(result.script.compilerVariables,
            (std::vector<std::wstring>{L"MODE", L"release", L"OTHER", L"x"}));
}

TEST(CompilerVariables, ReplacementRepeatsLikeTheEngineAndStopsOnSelfReference) {
  const std::vector<std::wstring> vars = {L"B", L"#A#!", L"A", L"x", L"LOOP", L"#LOOP#"};
  EXPECT_EQ(ReplaceCompilerVariables(L"#b#", vars), L"x!");
  EXPECT_EQ(ReplaceCompilerVariables(L"#LOOP#", vars), L"#LOOP#");
  EXPECT_EQ(ReplaceCompilerVariables(L"no marks", vars), L"no marks");
}

// ---- Includes.

TEST(Includes, InlinedWithDepthResultMarkersAndTheirOwnSourceReferences) {
  const auto result =
      SourceFiles()
          .Add(kMain, L"Comment text=top\n@include file=lib/a.qvs result=RES\nComment text=after\n" + kSetup)
          .Add(L"C:\\src\\lib\\a.qvs", L"Comment text=a1\n@include file=b.qvs\nReturn from Include Script value=ok\n")
          .Add(L"C:\\src\\lib\\b.qvs", L"\nComment text=b1\n")
          .Compile();
  ASSERT_TRUE(result.errors.empty()) << Narrow(result.errors.front().ToString());
  const Script& s = result.script;
  EXPECT_EQ(s.includeMarkers, (std::vector<std::wstring>{L"0*0", L"RES*1", L"*2", L"RES*1", L"0*0"}));
  EXPECT_EQ(s.sourceReferences,
            (std::vector<std::wstring>{L"C:\\src\\main.qvs*0", L"C:\\src\\lib\\a.qvs*0", L"C:\\src\\lib\\b.qvs*1",
                                       L"C:\\src\\lib\\a.qvs*2", L"C:\\src\\main.qvs*2"}));
  EXPECT_EQ(s.Parameter(2, 1), L"b1");
}

TEST(Includes, BeginEndIncludeGivesTheSameMarkers) {
  const Script s = CompileOk(
      L"Comment\n@begin-include result=RES\nComment\n@begin-include\nComment\n@end-include\nComment\n@end-include\n"
      L"Comment\n" +
      kSetup);
  EXPECT_EQ(s.includeMarkers, (std::vector<std::wstring>{L"0*0", L"RES*1", L"*2", L"RES*1", L"0*0"}));
}

TEST(Includes, TheSameFileMayBeIncludedTwiceWithoutACycle) {
  const auto result = SourceFiles()
                          .Add(kMain, L"@include file=inc.qvs\n@include file=INC.QVS result=R\n" + kSetup)
                          .Add(L"C:\\src\\inc.qvs", L"Comment\n")
                          .Compile();
  ASSERT_TRUE(result.errors.empty());
  EXPECT_EQ(result.script.includeMarkers, (std::vector<std::wstring>{L"*1", L"R*1"}));
}

// ---- Identifiers and header.

TEST(Identifiers, DerivedReproduciblyUniqueAndPinnable) {
  const std::wstring source = L"Comment\nComment\nComment id={0a0b0c0d-0000-0000-0000-00000000000f}\n" + kSetup;
  const Script a = CompileOk(source);
  const Script b = CompileOk(source);
  EXPECT_EQ(a.identifiers, b.identifiers);
  EXPECT_NE(a.identifiers[0], a.identifiers[1]);
  EXPECT_EQ(a.identifiers[2], L"{0A0B0C0D-0000-0000-0000-00000000000F}");
  for (const auto& id : a.identifiers) EXPECT_EQ(NormalizeGuid(id).value_or(L""), id);
  EXPECT_NE(DeriveStatementId(L"{11111111-2222-3333-4444-555555555555}", 0),
            DeriveStatementId(L"{11111111-2222-3333-4444-555555555556}", 0));
}

TEST(Header, KeysFillTheirItemsAndDefaultsApply) {
  const Script s = CompileOk(
      L"@setup {\n"
      L"  product-code  = {abcdefab-2222-3333-4444-555555555555}\n"
      L"  revision-code = {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\n"
      L"  title = \"My Product\" version=2.5 publisher=Velmora contact=me help-link=h update-link=u comments=c\n"
      L"  build-kind=3 language-prompt=TRUE default-language=German\n"
      L"}\n");
  EXPECT_EQ(s.productCode, L"{ABCDEFAB-2222-3333-4444-555555555555}");
  EXPECT_EQ(s.title, L"My Product");
  EXPECT_EQ(s.publisher.displayVersion, L"2.5");
  EXPECT_EQ(s.publisher.publisher, L"Velmora");
  EXPECT_EQ(s.publisher.updateInfoLink, L"u");
  EXPECT_EQ(s.buildKind, 3);
  EXPECT_EQ(s.languagePrompt, L"TRUE");
  EXPECT_EQ(s.defaultLanguage, L"German");
  EXPECT_EQ(s.codePage, 65001);
  EXPECT_EQ(s.StatementCount(), 0u);
}

TEST(Plugins, DeclaredNamesBecomeStatementsWithTwoParameters) {
  const Script s = CompileOk(L"@plugin name=\"Send Mail\"\nsend mail parameters=\"to=a\" module=$SUPPORTDIR$\\mail.dll\n" + kSetup);
  EXPECT_EQ(s.pluginNames, (std::vector<std::wstring>{L"Send Mail"}));
  EXPECT_EQ(s.names[0], L"Send Mail");
  EXPECT_EQ(s.Parameter(0, 1), L"to=a");
  EXPECT_EQ(s.Parameter(0, 2), L"$SUPPORTDIR$\\mail.dll");
}

}  // namespace
}  // namespace qv::build::test
