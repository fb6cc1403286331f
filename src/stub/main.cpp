// The setup executable: hardens the library search before anything else is
// loaded, then hands over to the engine.
#include "bootstrap/Startup.h"

#include <windows.h>

int wmain() {
  // Only the system folder and explicitly named full paths are searched from
  // here on; the current folder and PATH never supply a library.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return qv::RunSetup();
}
