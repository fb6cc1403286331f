#include "SetupSandbox.h"

#include "commands/TextFiles.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "media/ArchiveModule.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>

namespace qv::test {

namespace {

std::wstring OutputFile(const wchar_t* name) { return std::wstring(QV_OUTPUT_DIR) + name; }

std::wstring Identifier(size_t i) {
  wchar_t text[64];
  swprintf(text, 64, L"{0000%04X-0000-4000-8000-%012zX}", static_cast<unsigned>(i & 0xFFFF), i);
  return text;
}

}  // namespace

Script MakeScript(const std::vector<Stmt>& statements, const std::wstring& title) {
  Script s;
  std::vector<std::wstring> parameters;
  for (size_t i = 0; i < statements.size(); ++i) {
    const Stmt& st = statements[i];
    s.names.push_back(st.name);
    s.identifiers.push_back(Identifier(i + 1));
    s.states.push_back(st.commentedOut ? L"C" : L"");
    s.mediaColumn.emplace_back();
    s.sourceReferences.push_back(L"C:\\src\\test.qvs*" + std::to_wstring(i));
    s.includeMarkers.push_back(st.includeMarker);
    if (st.parameters.empty()) continue;
    parameters.push_back(s.identifiers.back());
    parameters.insert(parameters.end(), st.parameters.begin(), st.parameters.end());
  }
  s.parameters = ParameterTable(std::move(parameters));
  // A product of its own for every script: one test's installation must not
  // make another test's run a maintenance run of it.
  static std::atomic<unsigned> scripts{0};
  wchar_t code[64];
  const unsigned long long id = (static_cast<unsigned long long>(GetCurrentProcessId()) << 16) + ++scripts;
  swprintf(code, 64, L"{11111111-2222-3333-4444-%012llX}", id);
  s.productCode = code;
  swprintf(code, 64, L"{66666666-7777-8888-9999-%012llX}", id);
  s.revisionCode = code;
  s.title = title;
  s.publisher.displayVersion = L"1.0.0";
  s.languagePrompt = L"FALSE";
  s.codePage = 1252;
  return s;
}

SetupSandbox::SetupSandbox() {
  static std::atomic<int> counter{0};
  root_ = TemporaryFolder() + L"qv-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter) + L"\\";
  RemoveTree(root_);
  temp_ = root_ + L"temp\\";
  CreateFolders(temp_);
}

SetupSandbox::~SetupSandbox() { RemoveTree(root_); }

std::wstring SetupSandbox::Build(const Script& script, const std::map<std::wstring, std::string>& payload,
                                 const std::wstring& name, bool withPayload) {
  const std::wstring folder = root_ + name + L"\\";
  CreateFolders(folder);
  const std::wstring exe = folder + name + L".exe";
  std::string image = ReadWholeFile(OutputFile(L"quorvane.exe"));
  WriteWholeFile(exe, image + WriteScript(script));
  for (const wchar_t* file : {L"zel.lib", L"7z.dll"})
    CopyFileW(OutputFile(file).c_str(), (folder + file).c_str(), FALSE);
  if (withPayload) {
    const std::wstring content = root_ + name + L"-payload\\";
    CreateFolders(content);
    for (const auto& [path, bytes] : payload) {
      CreateFolders(FolderOf(content + path));
      WriteWholeFile(content + path, bytes);
    }
    ArchiveModule archives = ArchiveModule::Load(std::wstring(QV_OUTPUT_DIR));
    if (!archives.CreateFromFolder(folder + name + L".res", content))
      throw Error(L"Cannot build the payload archive: #" + std::to_wstring(archives.LastError()));
  }
  return exe;
}

HANDLE SetupSandbox::Start(const std::wstring& exe, const std::wstring& arguments, DWORD* processId) {
  // The child sees the sandbox's temporary folder.
  std::wstring environment;
  for (const wchar_t* block = GetEnvironmentStringsW(), *p = block; *p; p += wcslen(p) + 1) {
    const std::wstring entry = p;
    if (StartsWithNoCase(entry, L"TEMP=") || StartsWithNoCase(entry, L"TMP=")) continue;
    environment += entry;
    environment += L'\0';
  }
  environment += L"TEMP=" + temp_.substr(0, temp_.size() - 1) + L'\0';
  environment += L"TMP=" + temp_.substr(0, temp_.size() - 1) + L'\0';
  environment += L'\0';

  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      environment.data(), FolderOf(exe).c_str(), &startup, &info))
    ThrowLastError(L"CreateProcess " + exe);
  CloseHandle(info.hThread);
  if (processId) *processId = info.dwProcessId;
  return info.hProcess;
}

RunResult SetupSandbox::Wait(HANDLE process, DWORD timeoutMs) {
  UniqueHandle owned(process);
  RunResult result;
  if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process, 999);
    WaitForSingleObject(process, 5000);
    result.timedOut = true;
  }
  GetExitCodeProcess(process, &result.exitCode);
  return result;
}

RunResult SetupSandbox::Run(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs) {
  return Wait(Start(exe, arguments), timeoutMs);
}

std::vector<std::wstring> SetupSandbox::SupportFoldersLeft() const {
  std::vector<std::wstring> left;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW((temp_ + L"zel*").c_str(), &data));
  if (!find) return left;
  do left.emplace_back(data.cFileName);
  while (FindNextFileW(find.get(), &data));
  return left;
}

int SetupSandbox::SweepInjectedFaults(const std::wstring& exe, const std::function<bool()>& installed,
                                      const std::function<void()>& checkLeftovers, int limit) {
  int failures = 0;
  for (int n = 1; n <= limit; ++n) {
    SCOPED_TRACE("fault at change " + std::to_string(n));
    SetEnvironmentVariableW(L"QUORVANE_FAULT_AT", std::to_wstring(n).c_str());
    const RunResult run = Run(exe, L"/s", 60000);
    SetEnvironmentVariableW(L"QUORVANE_FAULT_AT", nullptr);
    EXPECT_FALSE(run.timedOut);
    if (run.timedOut) return failures;
    if (installed()) return failures;
    ++failures;
    checkLeftovers();
  }
  ADD_FAILURE() << "the installation never got through in " << limit << " runs";
  return failures;
}

HWND FindMessageBox(DWORD processId, DWORD timeoutMs) {
  struct Search {
    DWORD processId;
    HWND found = nullptr;
  } search{processId};
  for (DWORD waited = 0;; waited += 50) {
    EnumWindows(
        [](HWND window, LPARAM lParam) -> BOOL {
          auto* s = reinterpret_cast<Search*>(lParam);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          wchar_t className[16] = {};
          GetClassNameW(window, className, 16);
          if (owner != s->processId || std::wstring(className) != L"#32770" || !IsWindowVisible(window)) return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found || waited >= timeoutMs) return search.found;
    Sleep(50);
  }
}

namespace {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring WithoutAccelerators(std::wstring text) {
  std::erase(text, L'&');
  return text;
}

}  // namespace

MessageBoxSeen ReadMessageBox(HWND box) {
  MessageBoxSeen seen;
  seen.caption = WindowText(box);
  EnumChildWindows(
      box,
      [](HWND child, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<MessageBoxSeen*>(lParam);
        if (!IsWindowVisible(child)) return TRUE;
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        const std::wstring text = WindowText(child);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (_wcsicmp(className, L"Button") == 0) {
          s->buttons.insert(GetDlgCtrlID(child));
          s->buttonTexts.push_back(WithoutAccelerators(text));
        } else if (_wcsicmp(className, L"Static") == 0 || _wcsicmp(className, L"SysLink") == 0) {
          if ((style & SS_TYPEMASK) == SS_ICON) {
            if (SendMessageW(child, STM_GETICON, 0, 0)) s->icon = true;
          } else if (!text.empty()) {
            s->texts.push_back(text);
          }
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen));
  for (const std::wstring& text : seen.texts) seen.text += (seen.text.empty() ? L"" : L"\n") + text;
  return seen;
}

bool PressButton(HWND box, const BoxButton& button) {
  struct Search {
    const BoxButton* wanted;
    HWND found = nullptr;
  } search{&button};
  EnumChildWindows(
      box,
      [](HWND child, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        if (_wcsicmp(className, L"Button") != 0 || !IsWindowVisible(child)) return TRUE;
        const bool match = s->wanted->text.empty() ? GetDlgCtrlID(child) == s->wanted->id
                                                   : WithoutAccelerators(WindowText(child)) == s->wanted->text;
        if (match) s->found = child;
        return !match;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(search.found), BN_CLICKED),
                 reinterpret_cast<LPARAM>(search.found));
    return true;
  }
  // A standard box answers WM_COMMAND for its answers even without a button
  // of that identifier (the close box of an OK box is IDCANCEL).
  if (!button.text.empty()) return false;
  PostMessageW(box, WM_COMMAND, button.id, 0);
  return true;
}

bool AnswerMessageBox(DWORD processId, MessageBoxSeen& seen, DWORD timeoutMs, const BoxButton& button) {
  HWND box = FindMessageBox(processId, timeoutMs);
  if (!box) return false;
  seen = ReadMessageBox(box);
  if (button.id == 0 && button.text.empty()) return true;
  if (!PressButton(box, button)) return false;
  for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(25);
  return true;
}

std::vector<std::wstring> ReadTraceLog(const std::wstring& path) {
  const std::string bytes = ReadWholeFile(path);
  std::wstring text(bytes.size() / 2, L'\0');
  memcpy(text.data(), bytes.data(), text.size() * 2);
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::vector<std::wstring> ReadUtf8Lines(const std::wstring& path) { return SplitUtf8Lines(ReadWholeFile(path)); }

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[2048] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return {};
  return buffer;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return WithTrailingSlash(path);
}

}  // namespace qv::test
