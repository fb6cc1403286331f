#include "native/SourceAcquisition.h"

#include "bootstrap/Session.h"
#include "common/Files.h"
#include "common/Text.h"
#include "dialogs/MessageBoxes.h"
#include "interpreter/VariableStore.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace qv::native {

namespace {

bool HoldsHeader(const std::wstring& folder, std::wstring_view header) {
  return FolderExists(folder + std::wstring(header));
}

// The shell's folder chooser, owned by the dialog on screen. The progress
// display is hidden while it is up, and shown again afterwards.
std::optional<std::wstring> ShellChooser(const Session& session) {
  HWND progress = ProgressWindow();
  const bool hide = progress && IsWindowVisible(progress);
  if (hide) ShowWindow(progress, SW_HIDE);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::optional<std::wstring> chosen;
  BROWSEINFOW info{};
  info.hwndOwner = hide ? nullptr : progress;
  const std::wstring title = L"Please select the folder that holds the installation files of " + session.Caption();
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info)) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(list, path)) chosen = std::wstring(path);
    CoTaskMemFree(list);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  if (hide) ShowWindow(progress, SW_SHOW);
  return chosen;
}

}  // namespace

FolderChooser& SourceFolderChooser() {
  static FolderChooser chooser = ShellChooser;
  return chooser;
}

std::optional<std::wstring> DataFolderIn(const std::wstring& chosen, std::wstring_view header) {
  if (chosen.empty()) return std::nullopt;
  const std::wstring folder = WithTrailingSlash(chosen);
  if (HoldsHeader(folder, header)) return folder;
  if (HoldsHeader(folder + L"data\\", header)) return folder + L"data\\";
  return std::nullopt;
}

std::optional<std::wstring> AcquireSources(const Session& session, const Variables& variables,
                                           const std::wstring& dataFolder, std::wstring_view header) {
  if (header.empty() || HoldsHeader(dataFolder, header)) return dataFolder;
  // Outside maintenance the data is where the setup was started, or nowhere;
  // build kind 2 keeps its data in the engine cache.
  if (!IsTrueFlag(variables.Get(L"MAINTENANCE")) || (session.script && session.script->buildKind == 2))
    return dataFolder;
  if (session.silent) return std::nullopt;
  for (;;) {
    const std::optional<std::wstring> chosen = SourceFolderChooser()(session);
    if (!chosen) return std::nullopt;
    if (auto found = DataFolderIn(*chosen, header)) return found;
  }
}

}  // namespace qv::native
