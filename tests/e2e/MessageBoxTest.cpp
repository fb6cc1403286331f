// "MessageBox" in real setups: the box the user sees (caption, texts, icon,
// buttons), the answer word stored for each button, and silent runs.
#include "SetupSandbox.h"

#include "common/Files.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

struct BoxCase {
  const char* name;
  const wchar_t* title;  // TITLE before the box
  const wchar_t* logo;   // QIVALOGO before the box
  const wchar_t* icon;
  const wchar_t* buttons;
  std::set<int> shown;   // buttons the box offers
  bool iconShown;
  int press;
  const wchar_t* caption;
  const wchar_t* answer;
};

TEST(MessageBoxStatement, ShowsTheCodesAndStoresTheAnswerOfEachButton) {
  const BoxCase cases[] = {
      {"information, OK", L"Sample", L"", L"0", L"1", {IDOK}, true, IDOK, L"Sample - Quorvane Wizard", L"OK"},
      {"question has no icon", L"Sample", L"", L"1", L"4", {IDYES, IDNO}, false, IDYES, L"Sample - Quorvane Wizard",
       L"YES"},
      {"yes/no: no", L"Sample", L"", L"2", L"4", {IDYES, IDNO}, true, IDNO, L"Sample - Quorvane Wizard", L"NO"},
      {"yes/no/cancel: cancel", L"Sample", L"TRUE", L"2", L"5", {IDYES, IDNO, IDCANCEL}, true, IDCANCEL, L"Sample",
       L"CANCEL"},
      {"OK/cancel: OK", L"Sample", L"true", L"3", L"2", {IDOK, IDCANCEL}, true, IDOK, L"Sample", L"OK"},
      {"retry/cancel: retry", L"", L"", L"0", L"3", {IDRETRY, IDCANCEL}, true, IDRETRY, L"Quorvane Wizard", L"RETRY"},
      {"abort set: cancel is the abort", L"Sample", L"", L"3", L"0", {IDRETRY, IDCANCEL, IDCLOSE}, true, IDCANCEL,
       L"Sample - Quorvane Wizard", L"ABORT"},
      {"abort set: close is the ignore", L"Sample", L"", L"3", L"0", {IDRETRY, IDCANCEL, IDCLOSE}, true, IDCLOSE,
       L"Sample - Quorvane Wizard", L"IGNORE"},
      {"abort set: retry", L"Sample", L"", L"3", L"0", {IDRETRY, IDCANCEL, IDCLOSE}, true, IDRETRY,
       L"Sample - Quorvane Wizard", L"RETRY"},
      {"unknown codes: plain OK", L"Sample", L"", L"7", L"9", {IDOK}, false, IDOK, L"Sample - Quorvane Wizard", L"OK"},
  };
  SetupSandbox sandbox;
  const std::wstring out = sandbox.Root() + L"answers.txt";
  std::vector<Stmt> script = {
      {L"Set Variable", {L"WHO$QIVA$QIVA$FALSE", L"world"}},
      {L"Set Variable", {L"PROGRESSMODE$QIVA$QIVA$FALSE", L"MARQUEE"}},
  };
  int row = 0;
  for (const auto& c : cases) {
    script.push_back({L"Set Variable", {L"TITLE$QIVA$QIVA$FALSE", c.title}});
    script.push_back({L"Set Variable", {L"QIVALOGO$QIVA$QIVA$FALSE", c.logo}});
    script.push_back({L"MessageBox", {L"Row " + std::to_wstring(row++), L"Hello $WHO$", c.icon, c.buttons, L"answer"}});
    script.push_back({L"Write to Text File", {out, L"$ANSWER$", L"FALSE"}});
  }
  script.push_back({L"Write to Text File", {out, L"$PROGRESSMODE$", L"FALSE"}});
  const std::wstring exe = sandbox.Build(MakeScript(script), {{L"a.txt", "a"}});

  DWORD processId = 0;
  HANDLE process = sandbox.Start(exe, L"/update", &processId);
  row = 0;
  for (const auto& c : cases) {
    HWND box = FindMessageBox(processId, 30000);
    ASSERT_NE(box, nullptr) << c.name << ": no box appeared";
    const MessageBoxSeen seen = ReadMessageBox(box);
    EXPECT_EQ(seen.caption, c.caption) << c.name;
    EXPECT_EQ(seen.texts, (std::vector<std::wstring>{L"Row " + std::to_wstring(row++), L"Hello world"})) << c.name;
    EXPECT_EQ(seen.buttons, c.shown) << c.name;
    EXPECT_EQ(seen.icon, c.iconShown) << c.name;
    PressButton(box, c.press);
    for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(25);
  }
  EXPECT_EQ(SetupSandbox::Wait(process, 30000).exitCode, 0u);
  const auto lines = ReadUtf8Lines(out);
  ASSERT_EQ(lines.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(lines[i], cases[i].answer) << cases[i].name;
  EXPECT_EQ(lines.back(), L"MARQUEE") << "the progress mode is back after the boxes";
}

TEST(MessageBoxStatement, ASilentRunShowsNothingAndLeavesTheResultAlone) {
  SetupSandbox sandbox;
  const std::wstring out = sandbox.Root() + L"out.txt";
  const std::wstring exe = sandbox.Build(MakeScript({
                                             {L"MessageBox", {L"Title", L"Text", L"3", L"4", L"answer"}},
                                             {L"Write to Text File", {out, L"[$ANSWER$]", L"FALSE"}},
                                             // A code that is no number is a runtime error, silent or not.
                                             {L"MessageBox", {L"Title", L"Text", L"x", L"1", L"answer"}},
                                             {L"Write to Text File", {out, L"after", L"FALSE"}},
                                         }),
                                         {{L"a.txt", "a"}});
  const RunResult result = sandbox.Run(exe, L"/s", 30000);
  ASSERT_FALSE(result.timedOut) << "a box is waiting for an answer";
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(ReadUtf8Lines(out), std::vector<std::wstring>{L"[$ANSWER$]"}) << "ANSWER was never created";
}

}  // namespace
}  // namespace qv::test
