#include "native/NativeEngine.h"

#include "native/UndoPass.h"

#include "bootstrap/Session.h"
#include "commands/VariableSeams.h"
#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <shlobj.h>

namespace qv::native {

namespace {

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? WithTrailingSlash(path)
                                                                                        : TemporaryFolder();
}

bool LoggingOff(std::wstring_view value) { return EqualsNoCase(value, L"FALSE"); }

// "Set Variable NATIVE_LOGGING" reaches the engine through this seam.
const bool kSeamInstalled = [] {
  Seams().nativeLogging = [](std::wstring_view value) { return AcceptLoggingValue(GlobalVariables(), value); };
  return true;
}();

}  // namespace

TNativeEngine& Engine() {
  static TNativeEngine engine;
  static const bool undoInstalled = (engine.undoPass = UndoPass, true);
  (void)undoInstalled;
  return engine;
}

std::wstring DefaultLogPrefix(const Variables& variables) {
  const Session* session = Engine().session;
  std::wstring folder = variables.Get(L"ENGINECACHE");
  if (folder.empty()) {
    const bool perMachine = IsTrueFlag(variables.Get(L"ALLUSERS"));
    const std::wstring revision = session && session->script ? session->script->revisionCode : L"";
    folder = ShellFolder(perMachine ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA) + revision;
  }
  const std::wstring base = session ? session->paths.baseName : BaseNameOf(variables.Get(L"EXEFILE"));
  return WithTrailingSlash(folder) + base;
}

std::wstring LogPrefix(const Variables& variables) {
  const std::wstring named = variables.Get(L"NATIVE_LOGGING");
  if (!named.empty() && !LoggingOff(named) && FolderExists(FolderOf(named)) && LogsPresent(named, false)) return named;
  return DefaultLogPrefix(variables);
}

std::wstring AcceptLoggingValue(Variables& variables, std::wstring_view value) {
  TNativeEngine& engine = Engine();
  if (LoggingOff(value)) {
    engine.logs.SetEnabled(false);
    return std::wstring(value);
  }
  engine.logs.SetEnabled(true);
  if (value.empty()) {
    engine.logs.FlushLogs(DefaultLogPrefix(variables));
    return L"";
  }
  if (!LogsPresent(value, true)) return L"";
  engine.logs.FlushLogs(value);
  return std::wstring(value);
}

}  // namespace qv::native
