// Progress publishing, the watchdog, waiting for workers, calls from workers
// to the main thread, cancellation checkpoints and the attention switch.
// Boxes are real: a helper thread finds them in this process and answers.
#include "commands/VariableSeams.h"
#include "common/Error.h"
#include "dialogs/MessageBoxes.h"
#include "interpreter/Predefined.h"
#include "interpreter/Progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace qv {
namespace {

constexpr uint64_t kFakeNow = 123456789012ull;
uint64_t FakeClock() { return kFakeNow; }

struct Published {
  std::wstring text, minimum, maximum, position;
};

Published Read(const Variables& v) {
  return {v.Get(kVarProgressText), v.Get(kVarMin), v.Get(kVarMax), v.Get(kVarProgress)};
}

struct PublishCase {
  const char* name;
  std::wstring text;
  int64_t minimum, maximum, position;
  Published expected;  // starting from text "old", 1 … 9, position 5
};

TEST(Progress, PublishStoresWhatTheCallAsksFor) {
  const PublishCase cases[] = {
      {"all values", L"Copying", 0, 100, 40, {L"Copying", L"0", L"100", L"40"}},
      {"64-bit numbers", L"Big", -1, 6000000000, 5000000000, {L"Big", L"-1", L"6000000000", L"5000000000"}},
      {"position -1 changes only the text", L"Only text", 0, 50, -1, {L"Only text", L"1", L"9", L"5"}},
      {"$IGNORE$ changes only the numbers", L"$IGNORE$", 2, 8, 3, {L"old", L"2", L"8", L"3"}},
      {"$QIVA$ republishes the stored values", L"$QIVA$", 0, 100, 77, {L"old", L"1", L"9", L"5"}},
  };
  for (const auto& c : cases) {
    Variables v;
    DeclareProgressVariables(v);
    PublishProgress(v, L"old", 1, 9, 5);
    v.Store().SetValue(kVarLastDelegateTick, L"0");
    PublishProgress(v, c.text, c.minimum, c.maximum, c.position, FakeClock);
    const Published got = Read(v);
    EXPECT_EQ(got.text, c.expected.text) << c.name;
    EXPECT_EQ(got.minimum, c.expected.minimum) << c.name;
    EXPECT_EQ(got.maximum, c.expected.maximum) << c.name;
    EXPECT_EQ(got.position, c.expected.position) << c.name;
    EXPECT_EQ(v.Get(kVarLastDelegateTick), std::to_wstring(kFakeNow)) << c.name << ": every publication stamps";
  }
}

TEST(Progress, ScriptProgressRefreshPublishesOnlyChanges) {
  Variables v;
  DeclareProgressVariables(v);
  std::vector<std::pair<int, std::wstring>> shown;
  Seams().showProgress = [&](int percent, std::wstring_view text) { shown.emplace_back(percent, text); };
  v.Set(L"PROGRESS", L"30", L"test");
  v.Set(L"PROGRESSTEXT", L"Working", L"test");
  ScriptProgressRefresh refresh;
  EXPECT_TRUE(refresh.Refresh(v));
  EXPECT_FALSE(refresh.Refresh(v)) << "nothing changed";
  v.Set(L"PROGRESS", L"250", L"test");
  EXPECT_TRUE(refresh.Refresh(v));
  ResetVariableSeams();
  EXPECT_EQ(Read(v).position, L"250");
  EXPECT_EQ(Read(v).text, L"Working");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].first, 100) << "the display gets a percentage";
}

TEST(Progress, WatchdogGivesAPublishingWorkerAnotherIntervalAndStopsASilentOne) {
  Variables v;
  DeclareProgressVariables(v);
  v.Store().SetValue(kVarLastActiveTick, L"10");
  v.Store().SetValue(kVarLastDelegateTick, L"20");  // published since the last check
  Watchdog watchdog(5000);
  EXPECT_EQ(watchdog.Check(v, 1000), Watchdog::Verdict::kNotDue) << "disabled";
  watchdog.Enable(1000);
  watchdog.Enable(4000);  // a cancel seen again does not restart the timer
  EXPECT_EQ(watchdog.Remaining(1000), 5000u);
  EXPECT_EQ(watchdog.Check(v, 5999), Watchdog::Verdict::kNotDue);
  EXPECT_EQ(watchdog.Check(v, 6000), Watchdog::Verdict::kRearmed);
  EXPECT_EQ(v.Get(kVarLastActiveTick), L"20");
  EXPECT_EQ(watchdog.Check(v, 10999), Watchdog::Verdict::kNotDue) << "re-armed from the check";
  v.Store().SetValue(kVarLastDelegateTick, L"30");
  EXPECT_EQ(watchdog.Check(v, 11000), Watchdog::Verdict::kRearmed);
  EXPECT_EQ(watchdog.Check(v, 16000), Watchdog::Verdict::kStop) << "no publication for a whole interval";
  EXPECT_FALSE(watchdog.Enabled());
}

TEST(Progress, AFinishedWorkerHandsBackItsValuesAndItsException) {
  Variables v;
  DeclareProgressVariables(v);
  WorkerThread worker;
  worker.Start([&v](std::stop_token) {
    PublishProgress(v, L"half", 0, 10, 5);
    throw Error(L"worker failed");
  });
  EXPECT_EQ(WaitForWorker(worker, v), WaitOutcome::kFinished);
  EXPECT_EQ(Read(v).position, L"5");
  try {
    worker.Join();
    FAIL() << "the worker's exception is lost";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), L"worker failed");
  }
}

TEST(Progress, CancelAsksTheWorkerToStopOnce) {
  auto v = std::make_shared<Variables>();
  DeclareProgressVariables(*v);
  int cancels = 0;
  WaitOptions options;
  options.onCancel = [&] { ++cancels; };
  WorkerThread worker;
  // The worker cancels itself (as the package's own interface does), then
  // runs until it is told to stop.
  worker.Start([v](std::stop_token stop) {
    v->Set(kVarIsCancelled, L"TRUE", L"test");
    while (!stop.stop_requested()) Sleep(5);
  });
  EXPECT_EQ(WaitForWorker(worker, *v, options), WaitOutcome::kFinished);
  EXPECT_TRUE(worker.StopRequested());
  EXPECT_EQ(cancels, 1);
}

struct WatchdogCase {
  const char* name;
  bool keepsPublishing;
  bool windDown;  // the wait gives the worker all the time it needs
  WaitOutcome expected;
};

// All workers ignore the stop request. The one that still publishes is left
// to end by itself; the silent one is abandoned, and the store stays usable;
// a wait that lets its worker wind down never abandons it.
TEST(Progress, WatchdogAbandonsOnlyAWorkerThatStoppedPublishing) {
  const WatchdogCase cases[] = {
      {"keeps publishing", true, false, WaitOutcome::kFinished},
      {"stopped publishing", false, false, WaitOutcome::kAbandoned},
      {"stopped publishing, winding down", false, true, WaitOutcome::kFinished},
  };
  for (const auto& c : cases) {
    auto v = std::make_shared<Variables>();
    DeclareProgressVariables(*v);
    v->Set(kVarIsCancelled, L"TRUE", L"test");
    auto release = std::make_shared<std::atomic<bool>>(false);
    WaitOptions options;
    options.watchdogInterval = 300;
    options.windDown = c.windDown;
    WorkerThread worker;
    const bool publish = c.keepsPublishing;
    worker.Start([v, release, publish](std::stop_token) {
      const uint64_t start = GetTickCount64();
      while (!*release && GetTickCount64() - start < 1500) {
        if (publish) PublishProgress(*v, L"busy", 0, 100, static_cast<int64_t>(GetTickCount64() - start));
        Sleep(10);
      }
    });
    EXPECT_EQ(WaitForWorker(worker, *v, options), c.expected) << c.name;
    EXPECT_TRUE(worker.StopRequested()) << c.name << ": the cancel reaches the worker";
    if (c.expected == WaitOutcome::kAbandoned) {
      EXPECT_TRUE(worker.Finished()) << c.name << ": the completion flag is set";
      EXPECT_EQ(AbandonedWorkersRunning(), 1) << c.name;
      v->Set(L"AFTER", L"usable", L"test");
      EXPECT_EQ(v->Get(L"AFTER"), L"usable") << c.name;
      *release = true;
      for (int i = 0; i < 500 && AbandonedWorkersRunning() != 0; ++i) Sleep(10);
      EXPECT_EQ(AbandonedWorkersRunning(), 0) << c.name << ": the abandoned worker ends by itself";
    }
  }
}

struct MainThreadCallCase {
  const char* name;
  bool silent;
};

// A worker's call to the main thread must be served while the main thread
// waits, in a silent run too (which handles no other messages).
TEST(Progress, WorkersReachTheMainThreadWhileItWaits) {
  const MainThreadCallCase cases[] = {{"interactive", false}, {"silent", true}};
  for (const auto& c : cases) {
    Variables v;
    DeclareProgressVariables(v);
    const DWORD mainThread = GetCurrentThreadId();
    auto ranOn = std::make_shared<std::atomic<DWORD>>(0);
    auto failure = std::make_shared<std::wstring>();
    WorkerThread worker;
    worker.Start([ranOn, failure](std::stop_token) {
      RunOnMainThread([&] { *ranOn = GetCurrentThreadId(); });
      try {
        RunOnMainThread([] { throw Error(L"refused"); });
      } catch (const Error& e) {
        *failure = e.message();
      }
    });
    WaitOptions options;
    options.silent = c.silent;
    EXPECT_EQ(WaitForWorker(worker, v, options), WaitOutcome::kFinished) << c.name;
    worker.Join();
    EXPECT_EQ(ranOn->load(), mainThread) << c.name;
    EXPECT_EQ(*failure, L"refused") << c.name << ": the exception comes back to the worker";
  }
}

TEST(Progress, AnInteractiveWaitHandlesPostedMessages) {
  Variables v;
  DeclareProgressVariables(v);
  static std::atomic<bool> handled;
  handled = false;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_APP + 7) handled = true;
    return DefWindowProcW(w, m, wp, lp);
  };
  windowClass.lpszClassName = L"ProgressTestWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  WorkerThread worker;
  worker.Start([window](std::stop_token) {
    PostMessageW(window, WM_APP + 7, 0, 0);
    for (int i = 0; i < 500 && !handled; ++i) Sleep(10);
  });
  WaitForWorker(worker, v);
  DestroyWindow(window);
  EXPECT_TRUE(handled) << "the posted message waited until the worker gave up";
}

// Answers every message box this process shows, by posting the command of
// `button`, and notes what it saw (PROGRESSMODE read while the box was up).
class BoxAnswerer {
public:
  struct Seen {
    std::wstring caption;
    std::wstring text;
    std::wstring progressMode;
    DWORD thread = 0;
  };

  BoxAnswerer(const Variables& variables, int button)
      : thread_([this, &variables, button](std::stop_token stop) { Answer(variables, button, stop); }) {}

  std::vector<Seen> Finish() {
    thread_.request_stop();
    thread_.join();
    return seen_;
  }

private:
  void Answer(const Variables& variables, int button, std::stop_token stop) {
    while (!stop.stop_requested()) {
      HWND box = nullptr;
      EnumWindows(
          [](HWND window, LPARAM found) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            wchar_t className[16] = {};
            GetClassNameW(window, className, 16);
            if (process != GetCurrentProcessId() || std::wstring(className) != L"#32770" || !IsWindowVisible(window))
              return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&box));
      if (!box) {
        Sleep(20);
        continue;
      }
      wchar_t caption[256] = {}, text[1024] = {};
      GetWindowTextW(box, caption, 256);
      GetDlgItemTextW(box, 0xFFFF, text, 1024);
      seen_.push_back({caption, text, variables.Get(L"PROGRESSMODE"), GetWindowThreadProcessId(box, nullptr)});
      PostMessageW(box, WM_COMMAND, button, 0);
      for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
    }
  }

  std::vector<Seen> seen_;
  std::jthread thread_;
};

struct CheckpointCase {
  const char* name;
  bool cancelled;
  bool silent;
  const wchar_t* abortOnError;
  const wchar_t* abortedOnErrorBefore;
  bool boxShown;
  CheckpointOutcome outcome;
  const wchar_t* abortedOnErrorAfter;
};

TEST(Progress, CancellationCheckpointTellsTheUserOnceThenAbortsOrCarriesOn) {
  const CheckpointCase cases[] = {
      {"not cancelled", false, false, L"TRUE", L"FALSE", false, CheckpointOutcome::kNotCancelled, L"FALSE"},
      {"carry on", true, false, L"FALSE", L"FALSE", true, CheckpointOutcome::kCancelledContinue, L"TRUE"},
      {"abort", true, false, L"TRUE", L"FALSE", true, CheckpointOutcome::kAbort, L"FALSE"},
      {"second cancel is quiet", true, false, L"FALSE", L"TRUE", false, CheckpointOutcome::kCancelledContinue,
       L"TRUE"},
      {"second cancel aborts quietly", true, false, L"true", L"-1", false, CheckpointOutcome::kAbort, L"-1"},
      {"silent", true, true, L"FALSE", L"FALSE", false, CheckpointOutcome::kCancelledContinue, L"TRUE"},
  };
  BindMainThread();  // the message boxes are shown by this thread, whichever test ran first
  for (const auto& c : cases) {
    ResetMessageBoxState();
    Variables v;
    DeclareProgressVariables(v);
    v.Set(kVarIsCancelled, c.cancelled ? L"TRUE" : L"FALSE", L"test");
    v.Set(L"ABORTONERROR", c.abortOnError, L"test");
    v.Set(L"ABORTEDONERROR", c.abortedOnErrorBefore, L"test");
    v.Set(L"PROGRESSMODE", L"MARQUEE", L"test");
    Session session;
    session.silent = c.silent;
    session.title = L"Sample";

    BoxAnswerer answerer(v, IDOK);
    const CheckpointOutcome outcome = CancellationCheckpoint(session, v, checkpoint::kRunProgram);
    const auto seen = answerer.Finish();

    EXPECT_EQ(outcome, c.outcome) << c.name;
    EXPECT_EQ(v.Get(L"ABORTEDONERROR"), c.abortedOnErrorAfter) << c.name;
    ASSERT_EQ(seen.size(), c.boxShown ? 1u : 0u) << c.name;
    if (c.boxShown) {
      EXPECT_EQ(seen[0].text, L"Setup cancelled") << c.name;
      EXPECT_EQ(seen[0].caption, L"Sample - Quorvane Wizard") << c.name;
      EXPECT_EQ(seen[0].progressMode, L"ERROR") << c.name << ": the taskbar shows the error while the box is up";
    }
    EXPECT_EQ(v.Get(L"PROGRESSMODE"), L"MARQUEE") << c.name << ": the mode is put back";
  }
}

TEST(Progress, AWorkersQuestionIsShownOnTheMainThreadAndAnswered) {
  ResetMessageBoxState();
  auto v = std::make_shared<Variables>();
  DeclareProgressVariables(*v);
  auto session = std::make_shared<Session>();
  session->title = L"Sample";
  session->captionLogo = true;
  auto answer = std::make_shared<MessageAnswer>(MessageAnswer::kNone);
  BoxAnswerer answerer(*v, IDNO);
  WorkerThread worker;
  worker.Start([v, session, answer](std::stop_token) {
    *answer = ShowEngineMessage(*session, *v,
                                {L"Overwrite the file?", MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
  });
  EXPECT_EQ(WaitForWorker(worker, *v), WaitOutcome::kFinished);
  worker.Join();
  const auto seen = answerer.Finish();
  EXPECT_EQ(*answer, MessageAnswer::kNo);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].thread, GetCurrentThreadId()) << "boxes belong to the main thread";
  EXPECT_EQ(seen[0].caption, L"Sample") << "the caption-logo flag leaves the engine's name out";
  EXPECT_EQ(seen[0].progressMode, L"PAUSE") << "a question pauses the taskbar";
}

TEST(Progress, AttentionRequestsNestAndOneOffRestoresTheFirstSavedMode) {
  ResetMessageBoxState();
  Variables v;
  v.Set(L"PROGRESSMODE", L"MARQUEE", L"test");
  std::vector<std::wstring> applied;
  SetTaskbarModeSink([&](std::wstring_view mode) { applied.emplace_back(mode); });
  SetTaskbarAttention(v, true, true);
  SetTaskbarAttention(v, true, false);  // a second "on" keeps the first saved mode
  EXPECT_EQ(v.Get(L"PROGRESSMODE"), L"PAUSE");
  SetTaskbarAttention(v, true, false, true);  // reapply: the last request again
  SetTaskbarAttention(v, false, false);
  EXPECT_EQ(v.Get(L"PROGRESSMODE"), L"MARQUEE");
  SetTaskbarAttention(v, false, false);
  EXPECT_EQ(v.Get(L"PROGRESSMODE"), L"MARQUEE");
  SetTaskbarModeSink(nullptr);
  EXPECT_EQ(applied, (std::vector<std::wstring>{L"ERROR", L"PAUSE", L"PAUSE", L"MARQUEE", L"MARQUEE"}));
}

}  // namespace
}  // namespace qv
