// Message boxes: the "MessageBox" statement, the engine's own boxes (errors,
// "Setup cancelled", prompts of the workers), the progress window that owns
// them, and the attention switch that puts PROGRESSMODE into its error or
// paused state while a box is up.
//
// Every box is shown on the main thread and never in a silent run. A worker
// that needs an answer calls ShowEngineMessage like anyone else; the call
// crosses to the main thread (RunOnMainThread) and waits for the answer.
//
// The taskbar button itself (ITaskbarList3) is not driven yet: the attention
// switch keeps PROGRESSMODE right and hands the mode to a sink that the
// taskbar code will install.
#pragma once

#include "bootstrap/Session.h"
#include "interpreter/VariableStore.h"

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace qv {

struct StatementContext;

// "MessageBox": 1 title, 2 text, 3 icon code, 4 button code, 5 result
// variable (as written). The answer word goes to the result variable; a
// silent run shows nothing and leaves the variable alone.
void MessageBoxStatement(StatementContext& c);

// Answers, numbered as the classic message box returns them.
enum class MessageAnswer : int {
  kNone = 0,  // no box could be shown (or the run is silent)
  kOk = 1,
  kCancel = 2,
  kAbort = 3,
  kRetry = 4,
  kIgnore = 5,
  kYes = 6,
  kNo = 7,
};

// "OK", "CANCEL", "ABORT", "RETRY", "IGNORE", "YES", "NO"; empty for kNone.
std::wstring_view AnswerWord(MessageAnswer answer);

// The script's codes (parameters 3 and 4 of "MessageBox").
struct MessageCodes {
  int icon = 0;     // 0 information, 1 question, 2 warning, 3 error
  int buttons = 1;  // 0 abort/retry/ignore, 1 OK, 2 OK/cancel, 3 retry/cancel, 4 yes/no, 5 yes/no/cancel
};

// The classic box's style (icon flag + button flag; codes outside the
// tables add nothing).
UINT ClassicBoxStyle(MessageCodes codes);
// The task dialog's main icon (nullptr for none), common buttons, and the
// answer for the identifier of the pressed button.
PCWSTR TaskDialogIcon(int iconCode);
int TaskDialogButtons(int buttonCode);
MessageAnswer TaskDialogAnswer(int pressedId, int buttonCode);

// The engine's own boxes: a standard message box with the setup caption,
// owned by the progress window.
enum class MessageIcon { kInformation, kQuestion, kWarning, kError };
enum class MessageButtons { kOk, kOkCancel, kAbortRetryIgnore, kYesNoCancel, kYesNo, kRetryCancel };
// Error boxes put the taskbar into the error state; questions into the
// paused state; a few error boxes ask for the paused state.
enum class Attention { kFromIcon, kError, kPaused };

struct EngineMessage {
  std::wstring text;
  MessageIcon icon = MessageIcon::kError;
  MessageButtons buttons = MessageButtons::kOk;
  Attention attention = Attention::kFromIcon;
  // What a silent run (which shows nothing) answers.
  MessageAnswer silentAnswer = MessageAnswer::kNone;
};

// Shows the box on the main thread (from any thread) and returns the
// answer; in a silent run it returns message.silentAnswer at once.
MessageAnswer ShowEngineMessage(const Session& session, Variables& variables, const EngineMessage& message);

// The native engine's two policy questions (an error, an existing file):
// Yes, No, Cancel, No to All, Yes to All. A task dialog with these five as
// its own buttons; without task dialogs (before Vista) a classic
// Yes/No/Cancel box, which cannot offer the "to all" answers. Call on the
// main thread; the box is owned by `owner` (nullptr: application-wide).
enum class ToAllAnswer { kYes, kNo, kCancel, kNoToAll, kYesToAll };
ToAllAnswer AskWithToAll(HWND owner, const std::wstring& caption, const std::wstring& text, MessageIcon icon);

// The dialog on screen, which owns every box: recorded by the dialog host
// when it shows a dialog, cleared by "Hide Dialog". Main thread only.
void SetProgressWindow(HWND window);
HWND ProgressWindow();

// The attention switch. on: save PROGRESSMODE (unless a mode is held
// already) and set "ERROR" or "PAUSE"; off: put the saved mode back.
// reapply: repeat the last request (the taskbar button is being set up
// again). Only on Windows 7 and later. Safe from any thread.
void SetTaskbarAttention(Variables& variables, bool on, bool error, bool reapply = false);

// Brackets a prompt: (on, error) now, (off) at scope exit.
class AttentionScope {
public:
  AttentionScope(Variables& variables, bool error) : variables_(variables) {
    SetTaskbarAttention(variables_, true, error);
  }
  ~AttentionScope() { SetTaskbarAttention(variables_, false, false); }
  AttentionScope(const AttentionScope&) = delete;
  AttentionScope& operator=(const AttentionScope&) = delete;

private:
  Variables& variables_;
};

// Receives every PROGRESSMODE the attention switch applies (the taskbar
// code installs itself here). Default: nothing.
void SetTaskbarModeSink(std::function<void(std::wstring_view mode)> sink);

// Forgets the held mode and the progress window (between runs in tests).
void ResetMessageBoxState();

}  // namespace qv
