#include "native/ActionRecord.h"

#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <utility>

namespace qv::native {

namespace {

using Fields = std::vector<std::wstring>;
using Builder = Fields (*)(const RecordSource&);

std::wstring Before(std::wstring_view text, wchar_t separator) {
  return std::wstring(text.substr(0, text.find(separator)));
}
std::wstring After(std::wstring_view text, wchar_t separator) {
  const size_t at = text.find(separator);
  return at == std::wstring_view::npos ? std::wstring() : std::wstring(text.substr(at + 1));
}
std::wstring Replace(std::wstring text, wchar_t from, std::wstring_view to) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == from)
      out.append(to);
    else
      out.push_back(c);
  }
  return out;
}

// Expanded (E), path-expanded (P), raw (R), split path-expanded (S).
std::wstring E(const RecordSource& s, size_t k) { return s.expand(s.raw(k)); }
std::wstring P(const RecordSource& s, size_t k) { return s.expandPath(s.raw(k)); }
std::wstring R(const RecordSource& s, size_t k) { return s.raw(k); }
std::wstring S(const RecordSource& s, size_t k) { return s.expandPath(Before(s.raw(k), L'|')); }
std::wstring T(const RecordSource& s, size_t k) {
  std::wstring text = s.raw(k);
  if (s.translate) text = s.translate(text);
  return s.expand(text);
}
std::wstring Bracketless(std::wstring text) { return Replace(Replace(std::move(text), L'[', L"$"), L']', L"$"); }

Fields WriteRegistry(const RecordSource& s) {
  std::wstring type = IsTrueFlag(R(s, 6)) ? L"STRING" : IsTrueFlag(R(s, 7)) ? L"INTEGER" : R(s, 7);
  return {R(s, 1) == L"10" ? L"TRUE" : L"FALSE", ResolveRootCode(R(s, 2), s.allUsers), P(s, 3), P(s, 4), P(s, 5),
          std::move(type)};
}
Fields InstallFiles(const RecordSource& s) {
  return {s.header, P(s, 3), R(s, 4), R(s, 5), R(s, 6), R(s, 7), R(s, 9), R(s, 10), R(s, 11), R(s, 12)};
}
Fields InstallAssembly(const RecordSource& s) { return {s.header, P(s, 3), R(s, 2)}; }
Fields InstallService(const RecordSource& s) {
  return {s.header, E(s, 4), E(s, 5), E(s, 6), E(s, 9), Replace(E(s, 10), L'~', L"$NULL$"), P(s, 2), R(s, 7), R(s, 8),
          R(s, 11), R(s, 12), E(s, 13), E(s, 14), E(s, 15)};
}
Fields InstallOdbcDriver(const RecordSource& s) { return {s.header, E(s, 1), P(s, 4), s.expand(Bracketless(R(s, 6)))}; }
Fields CreateOdbcDsn(const RecordSource& s) { return {E(s, 1), E(s, 2), R(s, 3), s.expand(Bracketless(R(s, 4)))}; }
Fields CreateShortcut(const RecordSource& s) {
  return {T(s, 2), T(s, 4), S(s, 3), S(s, 1), P(s, 5), S(s, 6), S(s, 7), Before(R(s, 8), L'|'), Before(R(s, 9), L'|')};
}
Fields CreateFileType(const RecordSource& s) { return {P(s, 1), P(s, 2), P(s, 3), P(s, 4), P(s, 5), R(s, 6), R(s, 7)}; }
Fields CreateFolder(const RecordSource& s) { return {P(s, 1)}; }
Fields EditIniFile(const RecordSource& s) {
  std::wstring file = P(s, 1);
  if (file.empty() || file.back() != L'\\') file += L'\\';
  return {file + E(s, 2), E(s, 4), E(s, 5), E(s, 6), E(s, 3)};
}
Fields SetEnvironment(const RecordSource& s) { return {E(s, 1), E(s, 2), R(s, 3), R(s, 4), R(s, 5), R(s, 6)}; }
Fields DeleteFiles(const RecordSource& s) { return {P(s, 1), E(s, 2)}; }
Fields CopyMoveLocalFiles(const RecordSource& s) {
  std::wstring recurse = After(R(s, 6), L'|');
  if (recurse.empty()) recurse = L"FALSE";
  return {P(s, 1), E(s, 2), P(s, 3), R(s, 5), std::move(recurse), P(s, 4)};
}
Fields ControlService(const RecordSource& s) { return {T(s, 1), P(s, 2), R(s, 3), R(s, 5), R(s, 4)}; }
Fields ConfigureService(const RecordSource& s) { return {T(s, 1), R(s, 5), R(s, 6), R(s, 7), S(s, 8)}; }
Fields ConfigureServiceFailure(const RecordSource& s) {
  const std::wstring program = E(s, 10);
  std::wstring command = program;
  if (!program.empty() && program != L"[~]") command = L"\"" + program + L"\" " + E(s, 11);
  return {E(s, 1), E(s, 9), std::move(command), R(s, 5), R(s, 6)};
}
Fields NoFields(const RecordSource&) { return {}; }

// One row per install statement: its name and the builder of its fields.
constexpr std::pair<std::wstring_view, Builder> kBuilders[] = {
    {L"Write Registry", WriteRegistry},
    {L"Install Files", InstallFiles},
    {L"Install Assembly", InstallAssembly},
    {L"Install Service", InstallService},
    {L"Install ODBC Driver", InstallOdbcDriver},
    {L"Create ODBC DSN", CreateOdbcDsn},
    {L"Create Shortcut", CreateShortcut},
    {L"Advertised Shortcut", NoFields},
    {L"Create File Type", CreateFileType},
    {L"Create Folder", CreateFolder},
    {L"Edit INI File", EditIniFile},
    {L"Set Environment", SetEnvironment},
    {L"Delete Files", DeleteFiles},
    {L"Copy/Move Local Files", CopyMoveLocalFiles},
    {L"Control Service", ControlService},
    {L"Configure Service", ConfigureService},
    {L"Configure Service Failure", ConfigureServiceFailure},
};

}  // namespace

bool IsPhaseCommand(std::wstring_view name) {
  return name == L"DELAYEDINSTALL" || name == L"ROLLBACK" || name == L"UNINSTALL";
}

bool IsInstallStatement(std::wstring_view name) {
  for (const auto& [statement, builder] : kBuilders)
    if (statement == name) return true;
  return false;
}

bool IsFileBearing(std::wstring_view name) {
  return name == L"Install Files" || name == L"Install Assembly" || name == L"Install Service" ||
         name == L"Install ODBC Driver";
}

std::vector<std::wstring> BuildRecordFields(std::wstring_view name, const RecordSource& source) {
  for (const auto& [statement, builder] : kBuilders)
    if (statement == name) return builder(source);
  return {};
}

std::wstring BuildRecord(std::wstring_view name, const RecordSource& source) {
  return ToCommaText(BuildRecordFields(name, source));
}

std::wstring ResolveRootCode(std::wstring_view rootAndMachine, bool allUsers) {
  const size_t bar = rootAndMachine.find(L'|');
  std::wstring code(rootAndMachine.substr(0, bar));
  const std::wstring machine = bar == std::wstring_view::npos ? L"" : std::wstring(rootAndMachine.substr(bar + 1));
  if (code == L"4") code = allUsers ? L"2" : L"1";
  return code + L"|" + machine;
}

}  // namespace qv::native
