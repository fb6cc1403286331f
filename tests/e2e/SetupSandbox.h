// End-to-end test support: builds real setups (the engine stub with a script
// appended, a payload archive, the archive module) in a private folder, runs
// them as separate processes with their own temporary folder, and removes
// everything afterwards.
#pragma once

#include "script/Script.h"

#include <windows.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qv::test {

// One statement for a script built in a test: name, raw parameters 1..n.
struct Stmt {
  std::wstring name;
  std::vector<std::wstring> parameters;
  bool commentedOut = false;
  std::wstring includeMarker = L"0*0";
};

Script MakeScript(const std::vector<Stmt>& statements, const std::wstring& title = L"Sample");

struct RunResult {
  DWORD exitCode = 0;
  bool timedOut = false;
};

class SetupSandbox {
public:
  SetupSandbox();
  ~SetupSandbox();
  SetupSandbox(const SetupSandbox&) = delete;
  SetupSandbox& operator=(const SetupSandbox&) = delete;

  const std::wstring& Root() const { return root_; }
  // The temporary folder the setups see (TEMP and TMP).
  const std::wstring& Temp() const { return temp_; }

  // Lays out <root>\<name>\ with <name>.exe (stub + script), the payload
  // archive built from `payload` (relative path -> content; omitted when
  // `withPayload` is false), zel.lib and 7z.dll. Returns the exe's path.
  std::wstring Build(const Script& script, const std::map<std::wstring, std::string>& payload = {},
                     const std::wstring& name = L"setup", bool withPayload = true);

  // Starts the program and waits; `onStarted` runs while it is alive.
  RunResult Run(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 60000);
  HANDLE Start(const std::wstring& exe, const std::wstring& arguments, DWORD* processId = nullptr);
  static RunResult Wait(HANDLE process, DWORD timeoutMs);

  // Folders named zel<n> left in the temporary folder.
  std::vector<std::wstring> SupportFoldersLeft() const;

  // The fault sweep of a transactional installation: runs `exe` silently
  // with its N-th forward change made to fail (QUORVANE_FAULT_AT=N), for
  // N = 1, 2, ... until `installed` reports that the installation got
  // through, and after every failed run calls `checkLeftovers`, which must
  // find the machine exactly as it was (it adds its own test failures).
  // Returns how many runs failed; gives up (with a test failure) after
  // `limit` runs.
  int SweepInjectedFaults(const std::wstring& exe, const std::function<bool()>& installed,
                          const std::function<void()>& checkLeftovers, int limit = 60);

private:
  std::wstring root_;
  std::wstring temp_;
};

// A message box of a setup (a standard box or a task dialog), read from
// outside the process.
struct MessageBoxSeen {
  std::wstring caption;
  std::vector<std::wstring> texts;        // every visible static or link text, in child order
  std::wstring text;                      // the texts joined by "\n"
  std::set<int> buttons;                  // identifiers of the visible push buttons
  std::vector<std::wstring> buttonTexts;  // their texts without '&', in child order
  bool icon = false;                      // a static showing an icon
};

// A button to press: by identifier (IDOK, IDYES, ...; 0 presses nothing) or
// by its text without '&' ("Yes to All").
struct BoxButton {
  BoxButton(int id) : id(id) {}
  BoxButton(const wchar_t* text) : text(text) {}
  int id = 0;
  std::wstring text;
};

// The first visible box of the process, waiting up to `timeoutMs`.
HWND FindMessageBox(DWORD processId, DWORD timeoutMs);
MessageBoxSeen ReadMessageBox(HWND box);
// False when the box has no such button.
bool PressButton(HWND box, const BoxButton& button);

// Waits for a visible box of the process, reads it and presses `button`,
// then waits for the box to go away. False when no box came up (or it
// lacks the button).
bool AnswerMessageBox(DWORD processId, MessageBoxSeen& seen, DWORD timeoutMs = 30000, const BoxButton& button = IDOK);

// A shell folder (CSIDL_...) with a trailing backslash.
std::wstring ShellFolder(int csidl);

// A string value of the registry (the default view), or empty.
std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name);

// Reads a UTF-16LE trace log into lines.
std::vector<std::wstring> ReadTraceLog(const std::wstring& path);
// Reads a UTF-8 text file (byte-order mark skipped) into lines.
std::vector<std::wstring> ReadUtf8Lines(const std::wstring& path);

}  // namespace qv::test
