#include "interpreter/Predefined.h"

#include "bootstrap/TraceLog.h"
#include "cache/EngineCache.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Rights.h"
#include "common/Text.h"

#include <shlobj.h>

namespace qv {

namespace {

std::wstring Tick() { return std::to_wstring(GetTickCount64()); }

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = WithTrailingSlash(path);
  CoTaskMemFree(path);
  return result;
}

std::wstring ReadMachineString(const wchar_t* key, const wchar_t* name) {
  UniqueKey opened;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, opened.put()) != ERROR_SUCCESS)
    return {};
  wchar_t buffer[512];
  DWORD size = sizeof(buffer);
  if (RegGetValueW(opened.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return {};
  return buffer;
}

std::wstring FormatNow(bool date) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t buffer[128] = {};
  if (date)
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, buffer, 128, nullptr);
  else
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &now, nullptr, buffer, 128);
  return buffer;
}

}  // namespace

void DeclareProgressVariables(Variables& variables) {
  auto& store = variables.Store();
  for (auto [name, value] : std::initializer_list<std::pair<const wchar_t*, std::wstring>>{
           {L"QIVA_thProgress", L"0"},
           {L"QIVA_thMax", L"100"},
           {L"QIVA_thMin", L"0"},
           {L"QIVA_thProgressText", L""},
           {L"QIVA_thFinished", L"FALSE"},
           {L"QIVA_thCancelled", L"FALSE"},
           {L"QIVA_IsCancelled", L"FALSE"},
           {L"QIVA_LastDelegateTick", Tick()},
           {L"QIVA_LastActiveTick", Tick()}})
    store.SetValue(name, value);
}

void DeclarePreInitialization(const Session& session, Variables& variables) {
  const std::wstring& title = session.script->title;
  variables.Set(L"TARGETDIR", KnownFolder(FOLDERID_ProgramFiles) + title + L"\\", kSourcePreInitialization);
  variables.Set(L"STARTMENU", title, kSourcePreInitialization);
  variables.Set(L"ALLUSERS", IsElevatedAdministrator() ? L"TRUE" : L"FALSE", kSourcePreInitialization);
}

void DeclareSessionVariables(const Session& session, Variables& variables) {
  const Script& script = *session.script;
  const CommandLine& line = session.commandLine;
  const auto folderValue = [](const std::wstring& path) { return path.empty() ? path : FolderOf(path); };
  const std::wstring gpoPath = folderValue(line.deploymentPath);
  const std::wstring sfxPath = folderValue(line.wrapperPath);
  const wchar_t* windowsKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\";
  const std::wstring setupPath = !gpoPath.empty() ? L"$GPOPATH$" : !sfxPath.empty() ? L"$SFXPATH$" : L"$EXEDIR$";

  const std::pair<const wchar_t*, std::wstring> table[] = {
      {L"QIVA_TIMEOUT", L"10"},
      {L"QIVA_COMPRESS_INSTALLER_CACHE", L"FALSE"},
      {L"QIVA_DISABLE_ROLLBACK", L"FALSE"},
      {L"QIVA_DISABLE_VISTA_RESTART_MANAGER", L"FALSE"},
      {L"CHARSET_OVERRIDE", L""},
      {L"NATIVE_ENGINE", L"FALSE"},
      {L"NATIVE_LOGGING", L""},
      {L"NATIVE_ROLLBACK", L"TRUE"},
      {L"NATIVE_HARDLINK", L"TRUE"},
      {L"NATIVE_ERROR", L"PROMPT"},
      {L"NATIVE_OVERWRITE", L"PROMPT"},
      {L"NATIVE_OVERWRITE_OLDER", L"FALSE"},
      {L"NATIVE_PROGRESS", L"0"},
      {L"DELAYUNTIL_APPLYCHANGES", L"FALSE"},
      {L"NATIVE_OVERRIDE_PERMISSIONS", L"FALSE"},
      {L"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS", L"FALSE"},
      {L"IISHOST", L"localhost"},
      {L"OVERRIDECACHE", L""},
      {L"QIVALOGO", L""},
      {L"SELECTED", L"0"},
      {L"WINDOWHANDLE", L"0"},
      {L"EXEFILE", session.paths.exePath},
      {L"EXEDIR", session.paths.exeFolder},
      {L"PROGRESSTEXT", L""},
      {L"PROGRESSMODE", L""},
      {L"CUSTOM_TASKBAR_PROGRESS_ENABLED", L"FALSE"},
      {L"CUSTOM_TASKBAR_PROGRESS_PERCENT", L"0"},
      {L"CUSTOM_TASKBAR_PROGRESS_MAX", L"100"},
      {L"ABORT", L"FALSE"},
      {L"PROGRESS", L"0"},
      {L"LASTERROR", L""},
      {L"LICENSE", L"FALSE"},
      {L"USERNAME", ReadMachineString(windowsKey, L"RegisteredOwner")},
      {L"USERCOMPANY", ReadMachineString(windowsKey, L"RegisteredOrganization")},
      {L"COPYWEBLOCK", L""},
      {L"REBOOTCOMPUTER", L"FALSE"},
      {L"RUNAPP", L"TRUE"},
      {L"WIZARD", L"NEXT"},
      {L"FX", L"SLIDE"},
      {L"FXGROUND", L"BACKGROUND"},
      {L"FXTIME", L"1000"},
      {L"VERSION", script.publisher.displayVersion},
      {L"SILENT", session.silent ? L"TRUE" : L"FALSE"},
      {L"LOGGED", line.logPath},
      {L"CMDLINE", line.raw},
      {L"REBOOTNOW", L"OK"},
      {L"SFXPATH", sfxPath},
      {L"SFXFILE", line.wrapperPath.empty() ? L"" : FileNameOf(line.wrapperPath)},
      {L"GPOPATH", gpoPath},
      {L"SETUPPATH", setupPath},
      {L"COMPLETE", L"TRUE"},
      {L"NEWLINE", L"\r\n"},
      {L"MINIMUM", L"FALSE"},
      {L"PERSONALIZED", L"FALSE"},
      {L"MODIFY", L"TRUE"},
      {L"GLASS", L"FALSE"},
      {L"REPAIR", L"FALSE"},
      {L"REMOVE", L"FALSE"},
      {L"ROOTDIR", session.paths.exeFolder},
      {L"TITLE", script.title},
      {L"COMPANY", script.publisher.publisher},
      {L"ADVERTISE", L"FALSE"},
      {L"DATE", FormatNow(true)},
      {L"TIME", FormatNow(false)},
      {L"TEMPDIR", session.paths.tempFolder},
      {L"ABORTONERROR", L"TRUE"},
      {L"ABORTEDONERROR", L"FALSE"},
      {L"SAVEDATA", L"FALSE"},
      {L"SUPPORTDIR", session.paths.supportFolder},
      {L"MSIFILE", session.paths.packagePath},
  };
  for (const auto& [name, value] : table) {
    // These two keep a value set before (by the command line of an earlier phase or the bootstrap).
    const bool onlyWhenUndefined = std::wstring_view(name) == L"NATIVE_ENGINE" || std::wstring_view(name) == L"OVERRIDECACHE";
    if (onlyWhenUndefined && variables.Exists(name)) continue;
    variables.Set(name, value, kSourceInitialization);
  }
  variables.Set(L"LANGUAGE", L"", kSourceInitialization);
}

void ApplyCommandLineVariables(const Session& session, Variables& variables) {
  const auto apply = [&](const std::vector<std::wstring>& pairs, std::wstring_view source) {
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      const std::wstring name = UpperCase(pairs[i]);
      if (variables.Exists(name))
        variables.ProtectedSet(name, pairs[i + 1], source);
      else
        variables.Set(name, pairs[i + 1], source);
    }
  };
  apply(session.commandLine.plainOverrides, kSourceOverride);
  apply(session.commandLine.strictOverrides, kSourceOverrideStrict);
}

void RefreshRunState(Session& session, Variables& variables, ComponentList& components) {
  Trace().SetPath(variables.Get(L"LOGGED"));
  session.silent = IsTrueFlag(variables.Get(L"SILENT"));
  session.title = variables.Get(L"TITLE");
  session.captionLogo = EqualsNoCase(variables.Get(L"QIVALOGO"), L"TRUE");
  RefreshCacheVariables(session, variables, components);
  // The clock is formatted again only when it has moved on by a second.
  static ULONGLONG lastSecond = 0;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG second = ((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10000000;
  if (second != lastSecond || !variables.Exists(L"TIME")) {
    lastSecond = second;
    variables.Set(L"DATE", FormatNow(true), kSourceInitialization);
    variables.Set(L"TIME", FormatNow(false), kSourceInitialization);
  }
}

}  // namespace qv
