// The run's own state, fixed during start-up and read by the interpreter:
// paths, command line, silent flag, caption, exit code and the script.
#pragma once

#include "bootstrap/CommandLine.h"
#include "script/Script.h"

#include <memory>
#include <string>

namespace qv {

// Process exit codes of the engine itself.
enum ExitCode : int {
  kExitNormal = 0,
  kExitStartupException = 11,
  kExitNoScript = 13,
  kExitPayloadMissing = 14,
  kExitPayloadBroken = 15,
  kExitCompileFailed = 314,
};

struct SessionPaths {
  std::wstring exePath;         // the running executable
  std::wstring exeFolder;       // with a trailing backslash
  std::wstring baseName;        // executable file name without extension
  std::wstring tempFolder;      // long form, trailing backslash
  std::wstring supportFolder;   // temp + "zel" + n + "\", empty until claimed
  std::wstring payloadArchive;  // exe folder + base name + ".res"
  std::wstring dataFolder;      // exe folder + "data\"
  std::wstring packagePath;     // support folder + base name + ".msi"
};

class Session {
public:
  CommandLine commandLine;
  SessionPaths paths;
  bool silent = false;
  bool showForms = false;     // splash and start-up window allowed (not silent, no "update")
  int exitCode = kExitNormal;
  bool secondInstance = false;
  std::unique_ptr<Script> script;

  // Caption state, refreshed by the interpreter from TITLE and QIVALOGO.
  std::wstring title;
  bool captionLogo = false;

  // The caption of every engine message box.
  std::wstring Caption() const;
  // An error message box, never in a silent run.
  void ShowError(const std::wstring& text) const;
};

}  // namespace qv
