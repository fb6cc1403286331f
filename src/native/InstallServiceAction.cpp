// "Install Service": record fields 0 header, 1 service name, 2 display name,
// 3 description, 4 (not read), 5 dependencies ("$NULL$" separating the
// names), 6 target folder, 7 share-process flag ("0" own process),
// 8 interactive flag, 9 start code (0 automatic, 1 on demand, else
// disabled), 10 error control (0 ignore, 1 normal, else severe), 11 account,
// 12 password, 13 arguments. The header's files are placed first; the last
// one is the service's program. The description goes to the service's
// registry key by a nested "Write Registry", so that it is undone like any
// other value. The undo entry "Create Service" is recorded before the
// service is created and dropped again when the creation fails for good, so
// that an undo never deletes a service this action did not create.
#include "native/ActionKinds.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"

#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"

namespace qv::native {

namespace {

constexpr std::wstring_view kNull = L"$NULL$";

std::wstring ProgressText(const Fields& fields) { return Field(fields, 1); }

// The dependencies as a list of names each ending in NUL, plus the final
// NUL; empty when there are none. Line breaks separate names as well.
std::wstring DependencyList(std::wstring_view text) {
  std::wstring list, name;
  const auto flush = [&] {
    if (!name.empty()) list += name + L'\0';
    name.clear();
  };
  for (size_t i = 0; i < text.size();) {
    if (text.substr(i, kNull.size()) == kNull) {
      flush();
      i += kNull.size();
    } else if (text[i] == L'\r' || text[i] == L'\n') {
      flush();
      ++i;
    } else {
      name += text[i++];
    }
  }
  flush();
  if (!list.empty()) list += L'\0';
  return list;
}

DWORD ServiceType(const Fields& f) {
  const std::wstring& share = Field(f, 7);
  const bool own = share.empty() || share == L"0" || EqualsNoCase(share, L"FALSE");
  DWORD type = own ? SERVICE_WIN32_OWN_PROCESS : SERVICE_WIN32_SHARE_PROCESS;
  if (IsTrueFlag(Field(f, 8))) type |= SERVICE_INTERACTIVE_PROCESS;
  return type;
}

DWORD StartType(std::wstring_view code) {
  return code == L"0" ? SERVICE_AUTO_START : code == L"1" ? SERVICE_DEMAND_START : SERVICE_DISABLED;
}

DWORD ErrorControl(std::wstring_view code) {
  return code == L"0" ? SERVICE_ERROR_IGNORE : code == L"1" ? SERVICE_ERROR_NORMAL : SERVICE_ERROR_SEVERE;
}

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

ActionResult CreateTheService(TNativeThread& thread, const Fields& fields, const std::wstring& program) {
  const std::wstring& name = Field(fields, 1);
  const std::wstring& display = Field(fields, 2);
  const std::wstring& arguments = Field(fields, 13);
  const std::wstring& account = Field(fields, 11);
  const std::wstring password = account.empty() ? L"" : Field(fields, 12);
  const std::wstring dependencies = DependencyList(Field(fields, 5));
  const std::wstring command = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);

  UniqueService manager;
  ActionResult result = OpenServiceManager(thread, manager);
  if (result != ActionResult::kDone) return result;

  const bool recorded = thread.RecordUndo(L"Create Service", {name});
  result = thread.Attempt(
      [&]() -> DWORD {
        UniqueService service(CreateServiceW(manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                             ServiceType(fields), StartType(Field(fields, 9)),
                                             ErrorControl(Field(fields, 10)), command.c_str(), nullptr, nullptr,
                                             OrNull(dependencies), OrNull(account), OrNull(password)));
        return service ? 0 : GetLastError();
      },
      name);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  return ActionResult::kDone;
}

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring& name = Field(fields, 1);
  const std::wstring& description = Field(fields, 3);
  const std::wstring folder = WithTrailingSlash(MapPath(Field(fields, 6), thread.bitness()));

  ActionResult outcome = ActionResult::kDone;
  std::wstring program;
  for (const DataFile& file : DataFilesOf(thread, Field(fields, 0))) {
    std::wstring target = folder;
    if (!file.companion.empty()) target += WithTrailingSlash(file.companion);
    target += FileNameOf(file.source);
    const ActionResult placed = PlaceActionFile(thread, file.source, target);
    if (placed == ActionResult::kAborted) return placed;
    if (placed == ActionResult::kFailed) outcome = placed;
    program = target;
  }
  if (program.empty()) {
    // A service without a program: the statement's block holds no file.
    return thread.Attempt([] { return DWORD{ERROR_FILE_NOT_FOUND}; }, name);
  }

  const ActionResult created = CreateTheService(thread, fields, program);
  if (created != ActionResult::kDone) return created;
  if (!description.empty()) {
    const Fields write = {L"FALSE", L"2|", L"SYSTEM\\CurrentControlSet\\Services\\" + name, L"Description",
                          description, L"STRING"};
    if (!thread.RunAction(L"Write Registry", ToCommaText(write))) return ActionResult::kAborted;
  }
  thread.Log(L"        < " + name + L", " + Field(fields, 2) + L", " + description + L" >");
  return outcome;
}

}  // namespace

const ActionKind kInstallServiceAction = {L"Install Service", ProgressText, Perform};

}  // namespace qv::native
