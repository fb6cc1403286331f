#include "script/StatementSchema.h"

#include <algorithm>

namespace qv {

namespace {

using K = ParameterKind;

// A parameter the source must give.
constexpr ParameterSpec Req(const wchar_t* name, ParameterKind kind) { return {name, kind, nullptr, nullptr}; }
// A parameter with the text written when the source leaves it out.
constexpr ParameterSpec Opt(const wchar_t* name, ParameterKind kind, const wchar_t* defaultText) {
  return {name, kind, defaultText, nullptr};
}
// A parameter written into the previous parameter's line after `separator`.
constexpr ParameterSpec Joined(const wchar_t* name, ParameterKind kind, const wchar_t* separator) {
  return {name, kind, nullptr, separator};
}

// The condition of If, Else If, While and Until.
constexpr std::array<ParameterSpec, kMaxParameters> kCondition = {
    Req(L"variable", K::VariableName), Opt(L"compare", K::Number, L"0"), Opt(L"value", K::Value, L""),
    Opt(L"negate", K::Flag, L"FALSE")};
constexpr std::array<ParameterSpec, kMaxParameters> kNone = {};

// One row per statement: name, one-line summary, parameters in block order.
// Keywords are short, lower case with dashes; flags default to "FALSE".
const StatementSpec kStatements[] = {
    // Control flow.
    {L"If", L"Opens a conditional block: variable compared with value by code 0-6, optionally negated", kCondition},
    {L"Else If", L"Next branch of the conditional chain", kCondition},
    {L"Else", L"Last branch of the conditional chain", kNone},
    {L"End", L"Closes a conditional block or a wizard loop", kNone},
    {L"While", L"Loop tested before each pass; closed by Wend", kCondition},
    {L"Wend", L"Closes a While loop", kNone},
    {L"Repeat", L"Loop tested after each pass; closed by Until", kNone},
    {L"Until", L"Closes a Repeat loop; leaves it when the condition holds", kCondition},
    {L"For Each", L"Assigns each item of a separated list to a loop variable; closed by Next",
     {Req(L"variable", K::VariableName), Req(L"separator", K::Value), Opt(L"list", K::Value, L"")}},
    {L"Next", L"Closes a For Each loop", kNone},
    {L"Break", L"Leaves the innermost loop", kNone},
    {L"Continue", L"Starts the next pass of the innermost loop", kNone},
    {L"Label", L"Jump target of GoTo Label", {Req(L"name", K::Raw)}},
    {L"GoTo Label", L"Continues at the named label", {Req(L"name", K::Raw)}},
    {L"Wizard Loop", L"Block of Display Dialog statements navigated with Next and Back", kNone},
    {L"Return from Include Script", L"Leaves an included script, giving its result variable a value",
     {Opt(L"value", K::Value, L"")}},
    {L"Terminate Install", L"Ends the run", kNone},
    {L"Terminate with Exit Code", L"Ends the run with the given process exit code", {Req(L"code", K::Value)}},
    {L"Comment", L"Does nothing; each text is one line", {Opt(L"text", K::Raw, L"")}, true},
    {L"Code Folding Region", L"Does nothing; marks a foldable region for editors",
     {Opt(L"collapsed", K::Flag, L"FALSE"), Opt(L"caption", K::Raw, L"")}},
    {L"Ignore", L"Passed over like a commented-out statement", {Opt(L"text", K::Raw, L"")}, true},

    // Conditions and arithmetic.
    {L"Evaluate Expression", L"Writes TRUE, FALSE or ERROR for a quoted boolean expression",
     {Req(L"expression", K::Expression), Req(L"result", K::VariableName)}},
    {L"Mathematics", L"One 64-bit integer operation (code 0-15) on two operands",
     {Req(L"a", K::Value), Opt(L"b", K::Value, L""), Req(L"operation", K::Number), Opt(L"result", K::VariableName, L"")}},

    // Strings and variables.
    {L"Set Variable", L"Assigns a value; remember=TRUE saves the variable for maintenance runs",
     {Req(L"name", K::VariableName), Joined(L"remember", K::Flag, L"$QIVA$QIVA$"), Opt(L"value", K::Value, L"")}},
    {L"Localization Variable", L"Assigns a value translated by the variable's name",
     {Req(L"name", K::VariableName), Opt(L"value", K::Value, L"")}},
    {L"Parse String", L"Splits a text in two at a delimiter (modes 0, 1) or a count (modes 2, 3)",
     {Req(L"source", K::Value), Req(L"delimiter", K::Value), Opt(L"first", K::PlainName, L""),
      Opt(L"second", K::PlainName, L""), Opt(L"mode", K::Number, L"0"), Opt(L"trim", K::Flag, L"FALSE"),
      Opt(L"ignore-case", K::Flag, L"FALSE")}},
    {L"Replace String", L"Replaces text inside a variable's value",
     {Req(L"variable", K::VariableName), Req(L"search", K::Value), Opt(L"replace", K::Value, L""),
      Opt(L"ignore-case", K::Flag, L"FALSE"), Opt(L"all", K::Flag, L"FALSE")}},
    {L"Convert Case", L"Upper- or lower-cases a variable's value",
     {Req(L"variable", K::PlainName), Req(L"upper", K::Flag)}},
    {L"Convert Path", L"Makes a variable's path absolute, in long or short form",
     {Req(L"variable", K::PlainName), Opt(L"long", K::Flag, L"TRUE")}},
    {L"Extract Path", L"Replaces a variable's path by one of its parts (code 0-6)",
     {Req(L"variable", K::PlainName), Req(L"part", K::Number)}},
    {L"Get Temporary File", L"Creates an empty temporary file and stores its path",
     {Req(L"result", K::VariableName)}},

    // Files and folders.
    {L"Does File/Folder Exist", L"TRUE when the file (file=TRUE) or folder exists",
     {Req(L"result", K::PlainName), Req(L"path", K::Path), Opt(L"file", K::Flag, L"FALSE")}},
    {L"Find All Files", L"Lists matching files, joined with |",
     {Req(L"mask", K::Path), Opt(L"subfolders", K::Flag, L"FALSE"), Opt(L"folders", K::Flag, L"FALSE"),
      Req(L"result", K::VariableName)}},
    {L"Delete Files Recursive", L"Deletes a folder tree at once", {Req(L"mask", K::Path)}},
    {L"Check Disk Space", L"Free space (free=TRUE) or total size of a volume in bytes",
     {Req(L"result", K::VariableName), Req(L"path", K::Path), Opt(L"free", K::Flag, L"TRUE")}},
    {L"Get File Version", L"Version resource of a file as a.b.c.d",
     {Req(L"file", K::Path), Req(L"result", K::VariableName)}},
    {L"Check File Version", L"TRUE when a file is newer than a version text or another file",
     {Req(L"result", K::PlainName), Req(L"file", K::Path), Opt(L"compare-file", K::Flag, L"FALSE"),
      Opt(L"reference-file", K::Path, L""), Opt(L"reference-version", K::Value, L"")}},
    {L"Is File Locked", L"TRUE when a file cannot be opened for exclusive use",
     {Req(L"file", K::Path), Req(L"result", K::PlainName)}},
    {L"Read from Text File", L"Reads the next line (or all lines with a #READALL\\ prefix)",
     {Req(L"file", K::Path), Req(L"result", K::PlainName), Opt(L"end-of-file", K::PlainName, L"")}},
    {L"Write to Text File", L"Appends a line to a text file, or inserts it at the top",
     {Req(L"file", K::Path), Opt(L"line", K::Value, L""), Opt(L"insert-at-top", K::Flag, L"FALSE")}},

    // INI and XML files.
    {L"Get INI File Settings", L"Reads a value from an INI file",
     {Req(L"result", K::PlainName), Req(L"file", K::Path), Req(L"section", K::Path), Req(L"key", K::Path)}},
    {L"Get XML File Settings", L"Reads an element's text or attribute from an XML file",
     {Req(L"result", K::PlainName), Req(L"file", K::Path), Req(L"element", K::Path), Opt(L"attribute", K::Value, L"")}},
    {L"Evaluate XPath Query", L"Evaluates an XPath query on an XML file",
     {Req(L"file", K::Path), Req(L"query", K::Path), Req(L"result", K::PlainName), Opt(L"kind", K::Number, L"0")}},
    {L"Edit XML File", L"Creates, changes or deletes elements and attributes of an XML file",
     {Req(L"file", K::Path), Opt(L"encoding", K::Raw, L"UTF-8"), Opt(L"format", K::Number, L"2"),
      Req(L"element", K::Path), Opt(L"text", K::Value, L""), Opt(L"attributes", K::Value, L""),
      Opt(L"mode", K::Number, L"0"), Opt(L"all", K::Flag, L"FALSE"), Opt(L"preserve-whitespace", K::Flag, L"FALSE"),
      Opt(L"backup", K::Flag, L"FALSE")}},

    // Registry and environment.
    {L"Read Registry", L"Reads a registry value (result may be followed by |computer)",
     {Req(L"result", K::Raw), Req(L"root", K::Number), Req(L"key", K::Path), Opt(L"value-name", K::Path, L"")}},
    {L"Check Registry", L"TRUE when a registry key or value exists",
     {Req(L"result", K::Raw), Req(L"root", K::Number), Req(L"key", K::Path), Opt(L"value-name", K::Path, L"")}},
    {L"Find All Registry", L"Lists the subkeys (subkeys=TRUE) or value names of a key",
     {Req(L"result", K::Raw), Req(L"root", K::Number), Req(L"key", K::Path), Opt(L"subkeys", K::Flag, L"FALSE")}},
    {L"Get Environment", L"Reads an environment variable (empty name: the whole environment)",
     {Opt(L"name", K::Value, L""), Req(L"result", K::VariableName)}},
    {L"Delete Registry", L"Deletes a registry value or key at once",
     {Req(L"root", K::Raw), Req(L"key", K::Path), Opt(L"value-name", K::Path, L""), Opt(L"whole-key", K::Flag, L"FALSE")}},

    // System information.
    {L"Get System Settings", L"One of the numbered system queries", {Req(L"result", K::PlainName), Req(L"setting", K::Number)}},
    {L"Get OS or SP Level", L"Windows name (name=TRUE) or service-pack number",
     {Req(L"result", K::PlainName), Opt(L"name", K::Flag, L"FALSE")}},
    {L"Get Folder Location", L"Path of a well-known folder",
     {Req(L"result", K::PlainName), Req(L"folder", K::Number), Opt(L"all-users", K::Flag, L"FALSE")}},
    {L"Check Computer", L"TRUE when another computer answers (computer may be followed by |seconds)",
     {Req(L"computer", K::Value), Req(L"result", K::PlainName)}},
    {L"Set 64 Bit Mode", L"Selects the 32-bit, Itanium or x64 file and registry view",
     {Opt(L"win32", K::Flag, L"FALSE"), Opt(L"ia64", K::Flag, L"FALSE"), Opt(L"x64", K::Flag, L"FALSE")}},

    // Processes and services.
    {L"Run Program", L"Starts a program, optionally waiting for its exit code",
     {Req(L"program", K::Path), Opt(L"hide", K::Flag, L"FALSE"), Opt(L"arguments", K::Path, L""),
      Opt(L"wait", K::Flag, L"TRUE"), Opt(L"result", K::PlainName, L"")}},
    {L"Run Light Mode Setup", L"Runs a light-mode package",
     {Req(L"package", K::Path), Opt(L"result", K::PlainName, L""), Opt(L"arguments", K::Path, L""),
      Opt(L"wait", K::Flag, L"TRUE")}},
    {L"Run Program As", L"Starts a program under another account",
     {Req(L"program", K::Path), Opt(L"folder", K::Path, L""), Opt(L"arguments", K::Path, L""),
      Opt(L"window", K::Number, L"1"), Req(L"user", K::Path), Opt(L"password", K::Path, L""),
      Opt(L"domain", K::Path, L""), Opt(L"result", K::PlainName, L""), Opt(L"wait", K::Flag, L"TRUE"),
      Opt(L"environment", K::Path, L"")}},
    {L"Remote Run Program", L"Starts a program on another computer",
     {Req(L"program", K::Path), Opt(L"arguments", K::Path, L""), Opt(L"user", K::Path, L""),
      Opt(L"password", K::Path, L""), Req(L"computer", K::Path), Opt(L"result", K::VariableName, L"")}},
    {L"Restart Applications", L"Shuts down (shutdown=TRUE) or restarts the programs using files",
     {Req(L"shutdown", K::Flag), Opt(L"files", K::Path, L""), Opt(L"force", K::Flag, L"FALSE"),
      Opt(L"unused", K::Raw, L""), Opt(L"result", K::VariableName, L"")}},
    {L"Check Process", L"TRUE when a process of that executable runs",
     {Req(L"executable", K::Value), Req(L"result", K::PlainName)}},
    {L"Terminate Process", L"Ends the processes of an executable",
     {Req(L"executable", K::Value), Opt(L"result", K::PlainName, L"")}},
    {L"Terminate Program", L"Closes the windows whose title and class contain the texts",
     {Opt(L"title", K::Path, L""), Opt(L"class", K::Path, L"")}},
    {L"Check Service", L"State of a service",
     {Req(L"service", K::Value), Opt(L"computer", K::Value, L""), Req(L"result", K::PlainName)}},
    {L"Reboot Computer", L"Restarts the computer at the end of the run", kNone},
    {L"Reboot and Resume", L"Restarts the computer and resumes the setup", kNone},

    // Installation.
    {L"Install Files", L"Installs the files given by source into the target folder",
     {Req(L"source", K::Raw), Opt(L"subfolders", K::Flag, L"TRUE"), Req(L"target", K::Path),
      Opt(L"read-only", K::Flag, L"FALSE"), Opt(L"hidden", K::Flag, L"FALSE"), Opt(L"system", K::Flag, L"FALSE"),
      Opt(L"stop-on-failure", K::Flag, L"FALSE"), Opt(L"reserved", K::Raw, L""),
      Opt(L"self-register", K::Flag, L"FALSE"), Opt(L"shared", K::Flag, L"FALSE"),
      Opt(L"permanent", K::Flag, L"FALSE"), Opt(L"only-if-absent", K::Flag, L"FALSE")}},
    {L"Create Folder", L"Creates a folder with its missing parents", {Req(L"folder", K::Path)}},
    {L"Write Registry", L"Writes a registry value; root 0-3 or 4 (by ALLUSERS), optionally |computer",
     {Opt(L"mode", K::Raw, L"0"), Req(L"root", K::Raw), Req(L"key", K::Path), Opt(L"value-name", K::Path, L""),
      Opt(L"data", K::Path, L""), Opt(L"string", K::Flag, L"TRUE"), Opt(L"type", K::Raw, L"FALSE")}},
    {L"Delete Files", L"Deletes the files matching a mask in one folder",
     {Req(L"folder", K::Path), Opt(L"mask", K::Value, L"*.*"), Opt(L"files", K::Flag, L"TRUE"),
      Opt(L"subfolders", K::Flag, L"FALSE")}},
    {L"Install Service", L"Installs a service program from source and creates the service",
     {Req(L"source", K::Raw), Req(L"target", K::Path), Opt(L"unused-3", K::Raw, L""), Req(L"name", K::Value),
      Opt(L"display-name", K::Value, L""), Opt(L"description", K::Value, L""), Opt(L"share-process", K::Number, L"0"),
      Opt(L"interactive", K::Flag, L"FALSE"), Opt(L"unused-9", K::Value, L""), Opt(L"dependencies", K::Value, L""),
      Opt(L"start", K::Number, L"1"), Opt(L"error-control", K::Number, L"1"), Opt(L"account", K::Value, L""),
      Opt(L"password", K::Value, L""), Opt(L"arguments", K::Value, L"")}},
    {L"Control Service", L"Starts (0), stops (1) or stops and deletes (2) a service; start type 10, 20, 30",
     {Req(L"service", K::Value), Opt(L"arguments", K::Path, L""), Opt(L"operation", K::Number, L"0"),
      Opt(L"start-type", K::Number, L"0"), Opt(L"wait", K::Flag, L"TRUE")}},
    {L"Configure Service", L"One service setting (operation 0-4) from two numbers or a [~]-separated text",
     {Req(L"service", K::Value), Opt(L"unused-2", K::Raw, L""), Opt(L"unused-3", K::Raw, L""),
      Opt(L"unused-4", K::Raw, L""), Req(L"operation", K::Number), Opt(L"first", K::Number, L"0"),
      Opt(L"second", K::Number, L"0"), Opt(L"text", K::Path, L"")}},
    {L"Configure Service Failure", L"Failure actions (comma text of label, action, delay) of a service",
     {Req(L"service", K::Value), Opt(L"unused-2", K::Raw, L""), Opt(L"unused-3", K::Raw, L""),
      Opt(L"unused-4", K::Raw, L""), Opt(L"reset-period", K::Number, L"0"), Opt(L"actions", K::Raw, L""),
      Opt(L"unused-7", K::Raw, L""), Opt(L"unused-8", K::Raw, L""), Opt(L"reboot-message", K::Value, L""),
      Opt(L"program", K::Value, L""), Opt(L"program-arguments", K::Value, L"")}},
    {L"Install ODBC Driver", L"Installs an ODBC driver's files and registers the driver",
     {Req(L"driver", K::Value), Req(L"source", K::Raw), Opt(L"setup-library", K::Raw, L""), Req(L"target", K::Path),
      Opt(L"unused-5", K::Raw, L""), Opt(L"attributes", K::Value, L"")}},
    {L"Create ODBC DSN", L"Adds a user or system data source through the driver's setup library",
     {Req(L"name", K::Value), Req(L"driver", K::Value), Opt(L"system", K::Flag, L"FALSE"),
      Opt(L"attributes", K::Value, L"")}},
    {L"Copy/Move Local Files", L"Copies (copy=TRUE) or moves the matching files of a folder",
     {Req(L"source", K::Path), Opt(L"mask", K::Value, L"*.*"), Req(L"target", K::Path), Opt(L"new-name", K::Path, L""),
      Opt(L"copy", K::Flag, L"TRUE"), Opt(L"unused-6", K::Raw, L""), Joined(L"recurse", K::Flag, L"|")}},
    {L"Edit INI File", L"Writes (0), writes if unset (1), deletes (2), prepends to (3) or removes from (4) an INI list",
     {Req(L"folder", K::Path), Req(L"file", K::Value), Opt(L"operation", K::Number, L"0"), Req(L"section", K::Value),
      Req(L"key", K::Value), Opt(L"value", K::Value, L"")}},
    {L"Set Environment", L"Sets (0), sets if missing (1) or deletes (2) a variable; position 0 before, 1 after, 2 replace",
     {Req(L"name", K::Value), Opt(L"value", K::Value, L""), Opt(L"operation", K::Number, L"0"),
      Opt(L"position", K::Number, L"2"), Opt(L"remove-at-uninstall", K::Flag, L"TRUE"),
      Opt(L"system", K::Flag, L"FALSE")}},
    {L"Create Shortcut", L"Creates folder\\name.lnk; window 0 normal, 1 maximised, 2 minimised",
     {Req(L"target", K::Path), Req(L"name", K::Value), Req(L"folder", K::Path), Opt(L"description", K::Value, L""),
      Opt(L"arguments", K::Path, L""), Opt(L"working-folder", K::Path, L""), Opt(L"icon-file", K::Path, L""),
      Opt(L"icon-index", K::Value, L"0"), Opt(L"window", K::Number, L"0")}},
    {L"Create File Type", L"Registers a program identifier with its extensions (comma text) and verbs",
     {Req(L"identifier", K::Path), Req(L"program", K::Path), Opt(L"description", K::Path, L""),
      Opt(L"icon-file", K::Path, L""), Opt(L"icon-index", K::Path, L""), Opt(L"extensions", K::Raw, L""),
      Opt(L"verbs", K::Raw, L"")}},
    {L"Is Native Setup Installed", L"TRUE when the product's native logs are present",
     {Req(L"product-code", K::Value), Req(L"result", K::VariableName)}},
    {L"Register Library", L"Registers (or unregisters) a library, program or type library at once; TRUE or FALSE",
     {Req(L"file", K::Path), Opt(L"register", K::Flag, L"TRUE"), Opt(L"result", K::VariableName, L"")}},
    {L"Apply Changes", L"Performs the queued installation actions",
     {Opt(L"dialog", K::Raw, L""), Opt(L"result", K::VariableName, L""), Opt(L"install", K::Flag, L"TRUE"),
      Opt(L"uninstall", K::Flag, L"FALSE")}},

    // Dialogs and messages.
    {L"Display Dialog", L"Shows a wizard dialog; wait=FALSE leaves it on screen and goes on",
     {Req(L"dialog", K::Raw), Opt(L"result", K::VariableName, L""), Opt(L"wait", K::Flag, L"TRUE"),
      Opt(L"condition", K::VariableName, L""), Opt(L"note", K::Raw, L""), Opt(L"skip", K::Flag, L"FALSE")}},
    {L"Hide Dialog", L"Takes the current dialog off the screen", kNone},
    {L"MessageBox", L"Modal message; icon 0-3, buttons 0-5; the answer word goes to result",
     {Opt(L"title", K::Value, L""), Opt(L"text", K::Value, L""), Opt(L"icon", K::Number, L"0"),
      Opt(L"buttons", K::Number, L"1"), Opt(L"result", K::PlainName, L"")}},
    {L"MessageBalloon", L"Notification balloon; icon 0-2, shown 10-30 seconds",
     {Opt(L"title", K::Value, L""), Opt(L"text", K::Value, L""), Opt(L"icon", K::Number, L"0"),
      Opt(L"seconds", K::Value, L"10")}},

    // Components.
    {L"Define Component", L"Defines or redefines a setup component",
     {Req(L"name", K::Value), Opt(L"selected", K::Flag, L"TRUE"), Opt(L"description", K::Value, L"")}},
    {L"Delete Component", L"Removes a component from the selection", {Req(L"name", K::Value)}},
    {L"Set Component Visibility", L"Shows or hides a component", {Req(L"name", K::Value), Opt(L"visible", K::Flag, L"TRUE")}},
    {L"Set Component Choice", L"Lets the user change a component's selection or not",
     {Req(L"name", K::Value), Opt(L"changeable", K::Flag, L"TRUE")}},
    {L"Set Component State", L"Selects or deselects a component", {Req(L"name", K::Value), Req(L"selected", K::Flag)}},
    {L"Set Component Space", L"Sets a component's size in bytes", {Req(L"name", K::Value), Req(L"size", K::Value)}},
    {L"Get Component State", L"TRUE when a component is selected",
     {Req(L"name", K::Value), Req(L"result", K::VariableName)}},
    {L"Get Component Space", L"Size of a component, or the space needed (empty name)",
     {Opt(L"name", K::Value, L""), Req(L"result", K::VariableName)}},
    {L"Save Feature Selections", L"Writes the component selections to a file", {Req(L"file", K::Value)}},
    {L"Load Feature Selections", L"Reads the component selections from a file", {Req(L"file", K::Value)}},

    // Media.
    {L"Web Media Block", L"Downloadable media block; urls holds one address per line ($NEWLINE$)",
     {Req(L"name", K::Raw), Req(L"urls", K::Value), Opt(L"note", K::Raw, L"")}},
};

}  // namespace

std::wstring_view ParameterKindName(ParameterKind kind) {
  switch (kind) {
    case ParameterKind::Value: return L"value";
    case ParameterKind::Path: return L"path";
    case ParameterKind::Expression: return L"expression";
    case ParameterKind::VariableName: return L"variable name";
    case ParameterKind::PlainName: return L"plain variable name";
    case ParameterKind::Flag: return L"flag";
    case ParameterKind::Number: return L"number";
    case ParameterKind::Raw: return L"text";
  }
  return L"text";
}

std::span<const ParameterSpec> StatementSpec::parameters() const {
  size_t count = 0;
  while (count < parameterArray.size() && parameterArray[count].name) ++count;
  return {parameterArray.data(), count};
}

int StatementSpec::FindParameter(std::wstring_view keyword) const {
  const auto params = parameters();
  for (size_t i = 0; i < params.size(); ++i)
    if (keyword == params[i].name) return static_cast<int>(i);
  return -1;
}

size_t StatementSpec::LineOf(size_t index) const {
  const auto params = parameters();
  size_t line = 0;
  for (size_t i = 0; i <= index && i < params.size(); ++i)
    if (!params[i].joinSeparator) ++line;
  return line;
}

size_t StatementSpec::LineCount() const { return parameters().empty() ? 0 : LineOf(parameters().size() - 1); }

const StatementSpec* FindStatement(std::wstring_view name) {
  for (const auto& row : kStatements)
    if (name == row.name) return &row;
  return nullptr;
}

std::span<const StatementSpec> AllStatements() { return kStatements; }

}  // namespace qv
