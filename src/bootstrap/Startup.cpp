#include "bootstrap/Startup.h"

#include "bootstrap/Session.h"
#include "bootstrap/StartupWindows.h"
#include "bootstrap/SupportFolder.h"
#include "bootstrap/TraceLog.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/Interpreter.h"
#include "media/ArchiveModule.h"
#include "script/StubSize.h"

#include <optional>

namespace qv {

namespace {

constexpr wchar_t kStartupLabel[] =
    L"Quorvane is preparing the Quorvane Wizard which will install this application. Please wait.";

// A start-up failure that ends the process with its own exit code and message.
struct StartupStop {
  int exitCode;
  const wchar_t* message;
};

bool IsWindows10OrLater() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW version{sizeof(version)};
  if (auto get = reinterpret_cast<RtlGetVersionFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")))
    get(&version);
  return version.dwMajorVersion >= 10;
}

// Lets the shell treat the setup as a host application (Windows 7 and later).
void RegisterWithShell(const std::wstring& exePath) {
  UniqueKey key;
  const std::wstring path = L"Applications\\" + FileNameOf(exePath);
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
      ERROR_SUCCESS)
    RegSetValueExW(key.get(), L"IsHostApp", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
}

void WriteLogoResource(const std::wstring& path) {
  HRSRC resource = FindResourceW(nullptr, L"ANTIVB", MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!resource) return;
  HGLOBAL data = LoadResource(nullptr, resource);
  const DWORD size = SizeofResource(nullptr, resource);
  if (!data || !size) return;
  try {
    WriteWholeFile(path, std::string_view(static_cast<const char*>(LockResource(data)), size));
  } catch (const Error&) {
    // the logo is decoration only
  }
}

class Startup {
public:
  int Run();

private:
  void ResolvePaths();
  void CreateForms();
  std::string ReadAppendedScript();
  void ExtractPayload();
  void PreloadDialogs();
  int Finish(RunOutcome outcome);
  int Stop(const StartupStop& stop);
  void RemoveSupportFolder();

  Session session_;
  std::optional<StartupWindows> forms_;
};

void Startup::ResolvePaths() {
  SessionPaths& p = session_.paths;
  p.exePath = ModulePath();
  p.exeFolder = FolderOf(p.exePath);
  p.baseName = BaseNameOf(p.exePath);
  p.tempFolder = TemporaryFolder();
  p.payloadArchive = p.exeFolder + p.baseName + L".res";
}

void Startup::CreateForms() {
  if (!session_.showForms) return;
  forms_.emplace(session_.paths.exeFolder + L"setup.bmp", kStartupLabel,
                 IsWindows10OrLater() ? L"" : L"Quorvane Wizard");
  const std::wstring logo = session_.paths.supportFolder + L"quorvane.png";
  WriteLogoResource(logo);
  forms_->SetLogo(logo);
}

std::string Startup::ReadAppendedScript() {
  Trace().Write(L"    <StubSize>");
  const uint64_t stubSize = OwnStubSize();
  const uint64_t fileSize = FileSize(session_.paths.exePath);
  Trace().Write(L"    </StubSize>");
  if (fileSize <= stubSize) throw StartupStop{kExitNoScript, L"For internal use only"};

  // The appended bytes are read straight from the executable: no temporary
  // file that another process could share, replace or delete.
  Trace().Write(L"    <StubData>");
  UniqueFile file(CreateFileW(session_.paths.exePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) ThrowLastError(L"Cannot open " + session_.paths.exePath);
  LARGE_INTEGER offset;
  offset.QuadPart = static_cast<LONGLONG>(stubSize);
  CheckWin32(SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN), L"Cannot read the setup script");
  std::string bytes(static_cast<size_t>(fileSize - stubSize), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    CheckWin32(ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr),
               L"Cannot read the setup script");
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  Trace().Write(L"    </StubData>");
  return bytes;
}

void Startup::ExtractPayload() {
  Trace().Write(L"    <ExtractArchive>");
  const SessionPaths& p = session_.paths;
  if (!FileExists(p.payloadArchive)) throw StartupStop{kExitPayloadMissing, L"Setup resource not found"};
  bool extracted = false;
  try {
    ArchiveModule archives = ArchiveModule::Load(p.exeFolder);
    extracted = archives.ExtractAll(p.payloadArchive, p.supportFolder, L"", true);
  } catch (const Error&) {
    extracted = false;
  }
  if (!extracted) throw StartupStop{kExitPayloadBroken, L"Setup resource decompression failure"};
  if (forms_) forms_->SetLogo(p.supportFolder + L"quorvane.png");
  Trace().Write(L"    </ExtractArchive>");
}

void Startup::PreloadDialogs() {
  Trace().Write(L"    <Dialogs>");
  const Script& script = *session_.script;
  int count = 0;
  for (size_t row = 0; row < script.StatementCount(); ++row)
    if (script.names[row] == L"Display Dialog" && !script.IsCommentedOut(row)) ++count;
  if (forms_) {
    forms_->SetRange(count);
    forms_->SetPosition(1);
  }
  // The dialog host preloads each designed dialog here; until it exists
  // the count only drives the progress bar.
  Trace().Write(L"    </Dialogs>");
}

void Startup::RemoveSupportFolder() {
  if (!session_.paths.supportFolder.empty() && FolderExists(session_.paths.supportFolder))
    RemoveTree(session_.paths.supportFolder);
}

int Startup::Stop(const StartupStop& stop) {
  forms_.reset();
  session_.ShowError(stop.message);
  // The run never started: leave no empty or half-filled support folder behind.
  RemoveSupportFolder();
  return stop.exitCode;
}

int Startup::Finish(RunOutcome outcome) {
  if (outcome == RunOutcome::kCompileFailed) {
    // The script never ran: end at once, but leave no support folder behind.
    RemoveSupportFolder();
    return kExitCompileFailed;
  }
  Trace().Write(L"  </RunScript>");
  Trace().Write(L"  <Free>");
  session_.script.reset();
  Trace().Write(L"  </Free>");
  Trace().Write(L"  <CachedSupportDir>");
  RemoveSupportFolder();
  Trace().Write(L"  </CachedSupportDir>");
  if (outcome == RunOutcome::kEnded) {
    Trace().Write(L"  <RemovableMediaPrematureEject>");
    Trace().Write(L"  </RemovableMediaPrematureEject>");
  }
  Trace().Write(L"</Quorvane>");
  if (outcome == RunOutcome::kReturned && session_.secondInstance) return kExitNormal;
  return session_.exitCode;
}

int Startup::Run() {
  session_.commandLine = ParseCommandLine(GetCommandLineW());
  try {
    ResolvePaths();
    RegisterWithShell(session_.paths.exePath);
    const CommandLine& line = session_.commandLine;
    session_.silent = line.silent;
    session_.showForms = !line.silent && !line.noWindow;
    Trace().SetPath(line.logPath);

    Trace().Write(L"<Quorvane>");
    Trace().Write(L"    <SupportDir>");
    session_.paths.supportFolder = ClaimSupportFolder(session_.paths.tempFolder);
    Trace().Write(L"    </SupportDir>");

    Trace().Write(L"  <SetupSplash>");
    CreateForms();
    const std::string text = ReadAppendedScript();
    Trace().Write(L"    <GlobalLists>");
    session_.script = std::make_unique<Script>(ReadScript(text));
    Trace().Write(L"    </GlobalLists>");
    ExtractPayload();

    Trace().Write(L"    <ResourcePath>");
    SessionPaths& p = session_.paths;
    CopyPackageFiles(p.exeFolder, p.baseName, p.supportFolder);
    p.packagePath = p.supportFolder + p.baseName + L".msi";
    p.dataFolder = p.exeFolder + L"data\\";
    Trace().Write(L"    </ResourcePath>");
    PreloadDialogs();
    forms_.reset();
    Trace().Write(L"  </SetupSplash>");
  } catch (const StartupStop& stop) {
    return Stop(stop);
  } catch (const Error& error) {
    forms_.reset();
    session_.ShowError(L"Runtime error in install: " + error.message());
    RemoveSupportFolder();
    return kExitStartupException;
  } catch (const std::exception& error) {
    forms_.reset();
    session_.ShowError(L"Runtime error in install: " + Utf8ToWide(error.what()));
    RemoveSupportFolder();
    return kExitStartupException;
  }

  Trace().Write(L"  <RunScript>");
  return Finish(RunScript(session_));
}

}  // namespace

int RunSetup() {
  Startup startup;
  return startup.Run();
}

}  // namespace qv
