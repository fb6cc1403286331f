// "Create Shortcut": record fields 0 name, 1 description, 2 folder, 3 target,
// 4 arguments, 5 working folder, 6 icon file, 7 icon index, 8 window code
// ("0" normal, "1" maximised, "2" minimised without activation). A missing
// folder is made by a nested "Create Folder"; the shortcut file records
// "Create File" before it is written, so an undo deletes it. The shell's
// link object writes the file.
#include "native/ActionKinds.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"

#include "common/Files.h"
#include "common/Text.h"

#include <objbase.h>
#include <objidl.h>
#include <shobjidl.h>

namespace qv::native {

namespace {

// The shell's link object (declared here rather than linking the GUID library).
constexpr CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
};

// COM for the worker thread for the duration of one shortcut.
struct ComScope {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComScope() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

std::wstring LinkPath(const Fields& fields) {
  std::wstring folder = Field(fields, 2);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder + Field(fields, 0) + L".lnk";
}

int ShowCommand(std::wstring_view code) {
  if (code == L"1") return SW_SHOWMAXIMIZED;
  if (code == L"2") return SW_SHOWMINNOACTIVE;
  return SW_SHOWNORMAL;
}

DWORD CodeOf(HRESULT hr) {
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return HRESULT_CODE(hr);
  return static_cast<DWORD>(hr);
}

DWORD SaveLink(const Fields& fields, const std::wstring& path) {
  ComPtr<IShellLinkW> link;
  HRESULT hr = CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                                reinterpret_cast<void**>(&link.p));
  if (FAILED(hr)) return CodeOf(hr);
  std::wstring working = Field(fields, 5);
  if (!working.empty() && working.back() != L'\\') working += L'\\';
  const std::wstring& icon = Field(fields, 6);
  if (FAILED(hr = link->SetPath(Field(fields, 3).c_str()))) return CodeOf(hr);
  if (FAILED(hr = link->SetWorkingDirectory(working.c_str()))) return CodeOf(hr);
  if (FAILED(hr = link->SetArguments(Field(fields, 4).c_str()))) return CodeOf(hr);
  if (FAILED(hr = link->SetDescription(Field(fields, 1).c_str()))) return CodeOf(hr);
  if (FAILED(hr = link->SetShowCmd(ShowCommand(Field(fields, 8))))) return CodeOf(hr);
  if (!icon.empty() && FAILED(hr = link->SetIconLocation(icon.c_str(), ParseInt32(Field(fields, 7)).value_or(0))))
    return CodeOf(hr);
  ComPtr<IPersistFile> file;
  if (FAILED(hr = link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&file.p)))) return CodeOf(hr);
  if (FAILED(hr = file->Save(path.c_str(), TRUE))) return CodeOf(hr);
  return 0;
}

std::wstring ProgressText(const Fields& fields) { return LinkPath(fields); }

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  if (!EnsureFolder(thread, Field(fields, 2))) return ActionResult::kAborted;
  const std::wstring path = MapPath(LinkPath(fields), thread.bitness());
  const ComScope com;
  const bool recorded = thread.RecordUndo(L"Create File", {path});
  const ActionResult result = thread.Attempt([&] { return SaveLink(fields, path); }, path);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"        < " + path + L" >");
  return result;
}

}  // namespace

const ActionKind kCreateShortcutAction = {L"Create Shortcut", ProgressText, Perform};

}  // namespace qv::native
