// The setup executable's command line: switches, the "=" path forms and the
// NAME=VALUE / NAME:VALUE variable overrides. Nothing here can fail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct CommandLine {
  std::wstring raw;                 // the command line without the program name (CMDLINE)
  std::vector<std::wstring> arguments;  // split arguments, program name excluded
  bool silent = false;              // "/s", "/qn"
  bool noWindow = false;            // "/update", "/updatesetup"
  bool outOfProcessExtract = false; // first argument exactly "OutOfProcessExtract"
  std::wstring logPath;             // "/l=" or "-l=" (lower case, as given)
  std::wstring wrapperPath;         // "/m="
  std::wstring deploymentPath;      // "/g="
  std::wstring sourcePath;          // "/p=" or "-p="
  std::vector<std::wstring> plainOverrides;   // NAME, VALUE, ... from NAME=VALUE
  std::vector<std::wstring> strictOverrides;  // NAME, VALUE, ... from NAME:VALUE
};

// `processCommandLine` is the whole text as GetCommandLineW returns it.
CommandLine ParseCommandLine(std::wstring_view processCommandLine);

// The raw argument text: the command line without the program name.
std::wstring RawArguments(std::wstring_view processCommandLine);

}  // namespace qv
