#include "common/Error.h"
#include "script/Script.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

// A two-statement script in the appended format, items 1 to 23.
std::string TwoStatementText(const std::string& parameterLines) {
  return "Set Variable\r\nTerminate Install\r\n$\r\n"   // 1 names
         "{A}\r\n{B}\r\n$\r\n"                          // 2 identifiers
         + parameterLines + "$\r\n"                     // 3 parameters
         "\r\nC\r\n$\r\n"                               // 4 state
         "{PRODUCT}\r\nTitle\r\n$\r\n"                  // 5, 6, 7
         "Pub\r\nContact\r\nHelp\r\nUpdate\r\nComments\r\n1.2.3\r\n"  // 8
         "$\r\n$\r\n2\r\n$\r\n{REV}\r\n$\r\nTRUE\r\nEnglish\r\n$\r\n$\r\n"  // 9-18
         "1252\r\nsrc\\main.qvs*4\r\nsrc\\main.qvs*5\r\n$\r\n77\r\n$\r\n0*0\r\n*1\r\n$\r\n";  // 19-23
}

TEST(ScriptReader, ReadsEveryItem) {
  const Script s = ReadScript(TwoStatementText("{A}\r\nX$QIVA$QIVA$FALSE\r\nvalue\r\n"));
  ASSERT_EQ(s.StatementCount(), 2u);
  EXPECT_EQ(s.names[1], L"Terminate Install");
  EXPECT_TRUE(s.IsCommentedOut(1));
  EXPECT_FALSE(s.IsCommentedOut(0));
  EXPECT_EQ(s.productCode, L"{PRODUCT}");
  EXPECT_EQ(s.title, L"Title");
  EXPECT_EQ(s.publisher.displayVersion, L"1.2.3");
  EXPECT_EQ(s.buildKind, 2);
  EXPECT_EQ(s.revisionCode, L"{REV}");
  EXPECT_EQ(s.languagePrompt, L"TRUE");
  EXPECT_EQ(s.defaultLanguage, L"English");
  EXPECT_EQ(s.codePage, 1252);
  EXPECT_EQ(s.nativeProgressMax, 77);
  EXPECT_EQ(ParseSourceReference(s.sourceReferences[1]).file, L"main");
  EXPECT_EQ(ParseSourceReference(s.sourceReferences[1]).line, 5);
  EXPECT_EQ(ParseIncludeMarker(s.includeMarkers[1]).depth, 1);
  EXPECT_EQ(s.Parameter(0, 0), L"{A}");
  EXPECT_EQ(s.Parameter(0, 2), L"value");
  EXPECT_EQ(s.Parameter(1, 1), L"");  // no block: empty
}

TEST(ScriptReader, ByteOrderMarkIsOptional) {
  const std::string text = TwoStatementText("{A}\r\nX\r\n");
  EXPECT_EQ(ReadScript("\xEF\xBB\xBF" + text).names, ReadScript(text).names);
  EXPECT_EQ(ReadScript("\xEF\xBB\xBF" + text).Parameter(0, 1), L"X");
}

TEST(ScriptReader, DollarTokensBecomeDollarOnlyAsWholeLines) {
  const Script s = ReadScript(TwoStatementText("{a}\r\n$WILD_DOLLAR$\r\n$dollar$\r\nx $WILD_DOLLAR$\r\n"));
  EXPECT_EQ(s.Parameter(0, 1), L"$");
  EXPECT_EQ(s.Parameter(0, 2), L"$");
  EXPECT_EQ(s.Parameter(0, 3), L"x $WILD_DOLLAR$");
}

TEST(ScriptReader, ParameterPastItsBlockReadsTheNextBlock) {
  const Script s = ReadScript(TwoStatementText("{A}\r\none\r\n{B}\r\ntwo\r\n"));
  EXPECT_EQ(s.Parameter(0, 2), L"{B}");
  EXPECT_EQ(s.Parameter(0, 3), L"two");
  EXPECT_EQ(s.Parameter(1, 5), L"");  // past the whole table
}

TEST(ScriptReader, TruncatedOrMalformedScriptIsAnError) {
  const std::string whole = TwoStatementText("{A}\r\nX\r\n");
  for (size_t cut : {size_t{0}, size_t{10}, whole.size() / 2, whole.size() - 5}) {
    EXPECT_THROW(ReadScript(whole.substr(0, cut)), Error) << "cut at " << cut;
  }
  std::string badNumber = whole;
  badNumber.replace(badNumber.find("\r\n2\r\n"), 5, "\r\nxx\r\n");
  EXPECT_THROW(ReadScript(badNumber), Error);
}

TEST(ScriptReader, IgnoresBytesAfterTheLastItem) {
  EXPECT_EQ(ReadScript(TwoStatementText("{A}\r\nX\r\n") + "garbage\r\n$\r\n").StatementCount(), 2u);
}

TEST(ScriptWriter, RoundTripsThroughTheReader) {
  const Script original = ReadScript(TwoStatementText("{A}\r\n$WILD_DOLLAR$\r\n\u00e9\r\n"));
  const Script again = ReadScript(WriteScript(original));
  EXPECT_EQ(again.names, original.names);
  EXPECT_EQ(again.parameters.lines(), original.parameters.lines());
  EXPECT_EQ(again.Parameter(0, 1), L"$");
  EXPECT_EQ(again.Parameter(0, 2), L"\u00e9");
  EXPECT_EQ(again.includeMarkers, original.includeMarkers);
  EXPECT_EQ(again.nativeProgressMax, 77);
}

TEST(ScriptWriter, RefusesUnrepresentableLines) {
  Script s;
  s.names = {L"Set Variable"};
  s.title = L"two\r\nlines";
  EXPECT_THROW(WriteScript(s), Error);
  s.title.clear();
  s.mediaFolders = {L"$"};
  EXPECT_THROW(WriteScript(s), Error);
}

}  // namespace
}  // namespace qv
