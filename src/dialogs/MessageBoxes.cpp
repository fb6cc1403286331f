#include "dialogs/MessageBoxes.h"

#include "commands/VariableSeams.h"
#include "common/Error.h"
#include "common/Text.h"
#include "interpreter/Progress.h"
#include "interpreter/Statements.h"

#include <commctrl.h>

#include <mutex>
#include <optional>
#include <utility>

namespace qv {

namespace {

// ---------------------------------------------------------------------------
// Module state

struct AttentionState {
  std::mutex lock;
  bool on = false;
  bool error = false;
  bool held = false;
  std::wstring savedMode;
  std::function<void(std::wstring_view)> sink;
};

AttentionState& TheAttention() {
  static AttentionState state;
  return state;
}

HWND progressWindow = nullptr;

// The real version, whatever the manifest says.
ULONG MajorMinorVersion() {
  static const ULONG version = [] {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto get = ntdll ? reinterpret_cast<RtlGetVersionFn>(GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
    if (!get || get(&info) != 0) return ULONG{0x0601};
    return (info.dwMajorVersion << 8) | (info.dwMinorVersion & 0xFF);
  }();
  return version;
}

bool VistaOrLater() { return MajorMinorVersion() >= 0x0600; }
bool Windows7OrLater() { return MajorMinorVersion() >= 0x0601; }

// ---------------------------------------------------------------------------
// Showing boxes

// A standard box owned by `owner`; when it cannot be shown with its owner,
// once more without one.
int ClassicBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) {
  int answer = MessageBoxW(owner, text.c_str(), caption.c_str(), style);
  if (answer == 0 && owner) answer = MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
  return answer;
}

MessageAnswer ClassicAnswer(int answer) {
  return answer >= 1 && answer <= 7 ? static_cast<MessageAnswer>(answer) : MessageAnswer::kNone;
}

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Only the version 6 common controls have the task dialog; the engine's
// manifest asks for them, a host without it gets the classic box.
TaskDialogIndirectFn TaskDialogEntry() {
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  if (!comctl) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFn>(GetProcAddress(comctl, "TaskDialogIndirect"));
}

// The pressed button's identifier (0 when it reports none), or nothing when
// the dialog could not be shown at all.
std::optional<int> ShowTaskDialog(HWND owner, const std::wstring& caption, const std::wstring& instruction,
                                  const std::wstring& content, MessageCodes codes) {
  const TaskDialogIndirectFn entry = TaskDialogEntry();
  if (!entry) return std::nullopt;
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.hwndParent = owner;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_ENABLE_HYPERLINKS | (owner ? TDF_POSITION_RELATIVE_TO_WINDOW : 0);
  config.dwCommonButtons = TaskDialogButtons(codes.buttons);
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TaskDialogIcon(codes.icon);
  config.pszMainInstruction = instruction.c_str();
  config.pszContent = content.c_str();
  int pressed = 0;
  if (SUCCEEDED(entry(&config, &pressed, nullptr, nullptr))) return pressed;
  if (!owner) return std::nullopt;
  config.hwndParent = nullptr;
  config.dwFlags &= ~TDF_POSITION_RELATIVE_TO_WINDOW;
  if (SUCCEEDED(entry(&config, &pressed, nullptr, nullptr))) return pressed;
  return std::nullopt;
}

int NumberParameter(const StatementContext& c, size_t k) {
  const std::wstring text = c.Parameter(k);
  const auto value = ParseInt32(text);
  if (!value) throw Error(L"'" + text + L"' is not a valid integer value");
  return *value;
}

// Title (ordinal 1) and text (ordinal 2): translated while a language is
// active, then expanded.
std::wstring StatementText(const StatementContext& c, size_t k) {
  std::wstring text = c.Parameter(k);
  if (!c.variables.Get(L"LANGUAGE").empty()) text = Seams().translate(text, c.Parameter(0), static_cast<int>(k));
  return c.variables.Expand(text);
}

UINT EngineIconFlag(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation: return MB_ICONINFORMATION;
    case MessageIcon::kQuestion: return MB_ICONQUESTION;
    case MessageIcon::kWarning: return MB_ICONWARNING;
    case MessageIcon::kError: return MB_ICONERROR;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Code tables

std::wstring_view AnswerWord(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::kOk: return L"OK";
    case MessageAnswer::kCancel: return L"CANCEL";
    case MessageAnswer::kAbort: return L"ABORT";
    case MessageAnswer::kRetry: return L"RETRY";
    case MessageAnswer::kIgnore: return L"IGNORE";
    case MessageAnswer::kYes: return L"YES";
    case MessageAnswer::kNo: return L"NO";
    case MessageAnswer::kNone: break;
  }
  return {};
}

UINT ClassicBoxStyle(MessageCodes codes) {
  static constexpr UINT kIcons[] = {MB_ICONINFORMATION, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONERROR};
  static constexpr UINT kButtons[] = {MB_ABORTRETRYIGNORE, MB_OK, MB_OKCANCEL, MB_RETRYCANCEL, MB_YESNO, MB_YESNOCANCEL};
  UINT style = 0;
  if (codes.icon >= 0 && codes.icon < 4) style |= kIcons[codes.icon];
  if (codes.buttons >= 0 && codes.buttons < 6) style |= kButtons[codes.buttons];
  return style;
}

// Code 1 (question) has no task dialog icon.
PCWSTR TaskDialogIcon(int iconCode) {
  switch (iconCode) {
    case 0: return TD_INFORMATION_ICON;
    case 2: return TD_WARNING_ICON;
    case 3: return TD_ERROR_ICON;
    default: return nullptr;
  }
}

int TaskDialogButtons(int buttonCode) {
  switch (buttonCode) {
    case 0: return TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON | TDCBF_CLOSE_BUTTON;
    case 1: return TDCBF_OK_BUTTON;
    case 2: return TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON;
    case 3: return TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON;
    case 4: return TDCBF_YES_BUTTON | TDCBF_NO_BUTTON;
    case 5: return TDCBF_YES_BUTTON | TDCBF_NO_BUTTON | TDCBF_CANCEL_BUTTON;
    default: return 0;  // the dialog shows its own OK
  }
}

// With the abort/retry/ignore codes the three buttons stand for the classic
// box's: Cancel is the abort, Close the ignore.
MessageAnswer TaskDialogAnswer(int pressedId, int buttonCode) {
  switch (pressedId) {
    case IDOK: return MessageAnswer::kOk;
    case IDCANCEL: return buttonCode == 0 ? MessageAnswer::kAbort : MessageAnswer::kCancel;
    case IDRETRY: return MessageAnswer::kRetry;
    case IDYES: return MessageAnswer::kYes;
    case IDNO: return MessageAnswer::kNo;
    case IDCLOSE: return MessageAnswer::kIgnore;
    default: return MessageAnswer::kNone;
  }
}

// ---------------------------------------------------------------------------
// "MessageBox"

void MessageBoxStatement(StatementContext& c) {
  const std::wstring title = StatementText(c, 1);
  const std::wstring text = StatementText(c, 2);
  const MessageCodes codes{NumberParameter(c, 3), NumberParameter(c, 4)};
  if (c.session.silent) return;

  MessageAnswer answer = MessageAnswer::kNone;
  {
    AttentionScope attention(c.variables, codes.icon == 3);
    std::optional<int> pressed;
    if (VistaOrLater()) pressed = ShowTaskDialog(ProgressWindow(), c.session.Caption(), title, text, codes);
    if (pressed)
      answer = TaskDialogAnswer(*pressed, codes.buttons);
    else
      answer = ClassicAnswer(ClassicBox(ProgressWindow(), text, title, ClassicBoxStyle(codes)));
  }
  const std::wstring result = c.Parameter(5);
  if (!result.empty()) c.SetResult(result, AnswerWord(answer));
}

// ---------------------------------------------------------------------------
// The engine's boxes

MessageAnswer ShowEngineMessage(const Session& session, Variables& variables, const EngineMessage& message) {
  MessageAnswer answer = message.silentAnswer;
  RunOnMainThread([&] {
    if (session.silent) return;
    const bool error = message.attention == Attention::kError ||
                       (message.attention == Attention::kFromIcon && message.icon == MessageIcon::kError);
    AttentionScope attention(variables, error);
    const UINT style = EngineIconFlag(message.icon) | static_cast<UINT>(message.buttons) | MB_SETFOREGROUND;
    answer = ClassicAnswer(ClassicBox(ProgressWindow(), message.text, session.Caption(), style));
  });
  return answer;
}

ToAllAnswer AskWithToAll(HWND owner, const std::wstring& caption, const std::wstring& text, MessageIcon icon) {
  // Identifiers of our own for the "to all" buttons; the other three keep
  // the standard ones, so that Escape and the close box mean Cancel.
  constexpr int kNoToAllId = 0x5101, kYesToAllId = 0x5102;
  const TaskDialogIndirectFn entry = VistaOrLater() ? TaskDialogEntry() : nullptr;
  if (entry) {
    const TASKDIALOG_BUTTON buttons[] = {
        {IDYES, L"&Yes"}, {IDNO, L"&No"}, {IDCANCEL, L"Cancel"}, {kNoToAllId, L"N&o to All"}, {kYesToAllId, L"Yes to &All"},
    };
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.pszWindowTitle = caption.c_str();
    if (icon == MessageIcon::kQuestion) {
      // The task dialog has no question icon of its own.
      config.dwFlags |= TDF_USE_HICON_MAIN;
      config.hMainIcon = LoadIconW(nullptr, IDI_QUESTION);
    } else {
      config.pszMainIcon = icon == MessageIcon::kError     ? TD_ERROR_ICON
                           : icon == MessageIcon::kWarning ? TD_WARNING_ICON
                                                           : TD_INFORMATION_ICON;
    }
    config.pszContent = text.c_str();
    config.pButtons = buttons;
    config.cButtons = static_cast<UINT>(std::size(buttons));
    config.nDefaultButton = IDYES;
    config.cxWidth = 300;  // dialog units: room for the five buttons in one row
    for (HWND parent : {owner, HWND{nullptr}}) {
      config.hwndParent = parent;
      int pressed = 0;
      if (SUCCEEDED(entry(&config, &pressed, nullptr, nullptr))) {
        switch (pressed) {
          case IDYES: return ToAllAnswer::kYes;
          case IDNO: return ToAllAnswer::kNo;
          case kNoToAllId: return ToAllAnswer::kNoToAll;
          case kYesToAllId: return ToAllAnswer::kYesToAll;
          default: return ToAllAnswer::kCancel;
        }
      }
      if (!owner) break;
    }
  }
  const UINT style = MB_YESNOCANCEL | EngineIconFlag(icon) | MB_SETFOREGROUND | (owner ? MB_APPLMODAL : MB_TASKMODAL);
  switch (ClassicBox(owner, text, caption, style)) {
    case IDYES: return ToAllAnswer::kYes;
    case IDNO: return ToAllAnswer::kNo;
    default: return ToAllAnswer::kCancel;
  }
}

// ---------------------------------------------------------------------------
// Progress window and attention

void SetProgressWindow(HWND window) { progressWindow = window; }
HWND ProgressWindow() { return progressWindow; }

void SetTaskbarAttention(Variables& variables, bool on, bool error, bool reapply) {
  if (!Windows7OrLater()) return;
  AttentionState& state = TheAttention();
  std::lock_guard guard(state.lock);
  if (reapply) {
    on = state.on;
    error = state.error;
  } else {
    state.on = on;
    state.error = error;
  }
  // Straight into the store: no source, no override rule.
  TVariableManager& store = variables.Store();
  if (on) {
    if (!state.held) {
      state.savedMode = store.GetValue(L"PROGRESSMODE");
      state.held = true;
    }
    store.SetValue(L"PROGRESSMODE", error ? L"ERROR" : L"PAUSE");
  } else if (state.held) {
    store.SetValue(L"PROGRESSMODE", state.savedMode);
    state.held = false;
  }
  if (state.sink) state.sink(store.GetValue(L"PROGRESSMODE"));
}

void SetTaskbarModeSink(std::function<void(std::wstring_view mode)> sink) {
  AttentionState& state = TheAttention();
  std::lock_guard guard(state.lock);
  state.sink = std::move(sink);
}

void ResetMessageBoxState() {
  AttentionState& state = TheAttention();
  {
    std::lock_guard guard(state.lock);
    state.on = state.error = state.held = false;
    state.savedMode.clear();
  }
  progressWindow = nullptr;
}

}  // namespace qv
