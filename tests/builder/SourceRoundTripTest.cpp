#include "SourceFixture.h"

#include "builder/SetupBuilder.h"
#include "builder/SourceFormat.h"
#include "builder/SourceWriter.h"
#include "common/Error.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qv::build::test {
namespace {

// Everything but the source references, which point at the file compiled.
void ExpectSameScript(const Script& a, const Script& b) {
  EXPECT_EQ(a.names, b.names);
  EXPECT_EQ(a.identifiers, b.identifiers);
  EXPECT_EQ(a.parameters.lines(), b.parameters.lines());
  EXPECT_EQ(a.states, b.states);
  EXPECT_EQ(a.productCode, b.productCode);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.pluginNames, b.pluginNames);
  EXPECT_EQ(a.publisher.publisher, b.publisher.publisher);
  EXPECT_EQ(a.publisher.comments, b.publisher.comments);
  EXPECT_EQ(a.publisher.displayVersion, b.publisher.displayVersion);
  EXPECT_EQ(a.mediaColumn, b.mediaColumn);
  EXPECT_EQ(a.buildKind, b.buildKind);
  EXPECT_EQ(a.revisionCode, b.revisionCode);
  EXPECT_EQ(a.languagePrompt, b.languagePrompt);
  EXPECT_EQ(a.defaultLanguage, b.defaultLanguage);
  EXPECT_EQ(a.compilerVariables, b.compilerVariables);
  EXPECT_EQ(a.codePage, b.codePage);
  EXPECT_EQ(a.nativeProgressMax, b.nativeProgressMax);
  EXPECT_EQ(a.includeMarkers, b.includeMarkers);
}

Script Recompile(const Script& script) {
  const std::wstring source = WriteSource(script);
  const auto result = SourceFiles().Add(L"C:\\dump\\again.qvs", source).Compile(L"C:\\dump\\again.qvs");
  for (const auto& e : result.errors) ADD_FAILURE() << WideToUtf8(e.ToString()) << "\nin:\n" << WideToUtf8(source);
  return result.script;
}

// A source touching every part of the format the writer must reproduce.
const std::wstring kEverything =
    L"@define NAME=\"Hash #Sign\" EMPTY=\"\"\n"
    L"@plugin name=\"Send Mail\"\n"
    L"If variable=A compare=3 value=\"x y\" negate=TRUE\n"
    L"    Set Variable name=LIST remember=TRUE value=\"  spaced  \"\n"
    L"Else If variable=B\n"
    L"    // Set Variable name=OFF value='#NAME#'\n"
    L"Else\n"
    L"    While variable=C compare=2 value=9\n"
    L"        Break\n"
    L"    Wend\n"
    L"End\n"
    L"Set Variable name=DOLLAR value=$\n"
    L"Set Variable name=QUOTES value=\"say \"\"it's\"\"\"\n"
    L"Comment text=one text=\"\" text='#two#'\n"
    L"Send Mail parameters=p module=m.dll media=disk1\\\n"
    L"Terminate with Exit Code code=7 extra=more\n"
    L"Label name=L1 id={01234567-89AB-CDEF-0123-456789ABCDEF}\n"
    L"@begin-include result=RES\n"
    L"    Return from Include Script value=done\n"
    L"    @begin-include\n"
    L"        Comment text=deep\n"
    L"    @end-include\n"
    L"@end-include\n"
    L"@include file=inc.qvs result=OTHER\n"
    L"Terminate Install\n"
    L"@setup {\n"
    L"  product-code={11111111-2222-3333-4444-555555555555} revision-code={AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\n"
    L"  title=\"#NAME# Title\" version=3.1 publisher=P comments=\"c c\" build-kind=2 language-prompt=TRUE\n"
    L"  default-language=French code-page=1252 progress-max=900\n"
    L"}\n";

TEST(SourceRoundTrip, CompilingTheWrittenSourceGivesTheSameScript) {
  const auto first =
      SourceFiles().Add(kMain, kEverything).Add(L"C:\\src\\inc.qvs", L"Comment text=included\n").Compile();
  ASSERT_TRUE(first.errors.empty()) << WideToUtf8(first.errors.front().ToString());
  const Script again = Recompile(first.script);
  ExpectSameScript(first.script, again);
  // The text survives a second pass unchanged: the writer is stable.
  EXPECT_EQ(WriteSource(first.script), WriteSource(again));
}

TEST(SourceRoundTrip, ScriptsFromElsewhereKeepTheirOddities) {
  Script s = CompileOk(L"Set Variable name=A value=1\nCode Folding Region\n" + kSetup);
  // A name line with an empty remember flag, and a foreign identifier.
  std::vector<std::wstring> lines = s.parameters.lines();
  lines[1] = L"A$QIVA$QIVA$";
  lines[3] = L"{FEDCBA98-7654-3210-FEDC-BA9876543210}";
  s.identifiers[1] = lines[3];
  s.parameters = ParameterTable(lines);
  ExpectSameScript(s, Recompile(s));
}

TEST(SourceRoundTrip, ValuesReadBackExactly) {
  const std::wstring values[] = {L"",    L" lead",   L"trail ", L"a\"b",  L"it's", L"#NAME#", L"#", L"$",
                                 L"{",   L"}",       L"//x",    L"a=b",   L"\tt",  L"''",     L"\"\"", L"x #NAME# 'q'"};
  for (const auto& value : values) {
    SCOPED_TRACE(WideToUtf8(value));
    const Script s =
        CompileOk(L"@define NAME=oops\nSet Variable name=A value=" + QuoteValue(value) + L"\n" + kSetup);
    EXPECT_EQ(s.Parameter(0, 2), value);
  }
}

TEST(SourceRoundTrip, ItemsTheSourceCannotExpressAreRefused) {
  Script s = CompileOk(kSetup);
  s.fileTable = {L"header", L"NEWHEADER"};
  EXPECT_THROW(WriteSource(s), Error);
  s = CompileOk(kSetup);
  s.names.push_back(L"Frobnicate");
  s.identifiers.push_back(DeriveStatementId(s.productCode, 0));
  EXPECT_THROW(WriteSource(s), Error);
}

// ---- The script appended to the stub.

// A minimal PE32+ image: headers in the first 0x200 bytes, one section of 0x200 bytes.
std::string TinyImage() {
  std::string image(0x400, '\0');
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&image[at], &v, 2); };
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&image[at], &v, 4); };
  put16(0, 0x5A4D);
  put32(0x3C, 0x40);
  put32(0x40, 0x4550);
  put16(0x44 + 2, 1);    // one section
  put16(0x44 + 16, 240);  // PE32+ optional header
  put16(0x58, 0x20B);
  put32(0x58 + 240 + 16, 0x200);  // SizeOfRawData
  put32(0x58 + 240 + 20, 0x200);  // PointerToRawData
  return image;
}

TEST(AppendedScript, ReplacesAnyEarlierScriptAndReadsBack) {
  const Script s = CompileOk(L"Set Variable name=A value=$\nTerminate Install\n" + kSetup);
  const std::string stub = TinyImage();
  const std::string once = AppendScript(stub, s);
  EXPECT_EQ(once.substr(0, stub.size()), stub);
  const std::string twice = AppendScript(once, s);  // a setup used as stub loses its old script
  EXPECT_EQ(twice, once);
  const Script read = ReadAppendedScript(twice);
  EXPECT_EQ(read.names, s.names);
  EXPECT_EQ(read.Parameter(0, 2), L"$");
}

TEST(AppendedScript, StubWithoutScriptOrTruncatedIsAnError) {
  const std::string stub = TinyImage();
  EXPECT_THROW(ReadAppendedScript(stub), Error);
  EXPECT_THROW(AppendScript(stub.substr(0, 0x300), CompileOk(kSetup)), Error);
}

}  // namespace
}  // namespace qv::build::test
