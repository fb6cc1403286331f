// "Create File Type": record fields 0 program identifier, 1 program path,
// 2 description, 3 icon file, 4 icon index, 5 extension list (comma text),
// 6 verb list (comma text of comma texts: verb, arguments, DDE command, DDE
// application, DDE topic). Every value is a nested "Write Registry" under
// HKEY_CLASSES_ROOT that records its own undo, so an uninstall takes each
// value and each key it created back out, and nothing that was there before.
#include "native/ActionKinds.h"
#include "native/Executor.h"

#include "common/Text.h"

#include <shlobj.h>

namespace qv::native {

namespace {

// The default value of `key` under HKEY_CLASSES_ROOT; false when aborted.
bool WriteDefault(TNativeThread& thread, const std::wstring& key, const std::wstring& data) {
  return thread.RunAction(L"Write Registry", ToCommaText({L"FALSE", L"0|", key, L"", data, L"STRING"}));
}

std::wstring Describe(const Fields& f) { return Field(f, 0) + L": " + Field(f, 2) + L"/" + Field(f, 1); }

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring& id = Field(fields, 0);
  const std::wstring& program = Field(fields, 1);
  const std::wstring& icon = Field(fields, 3);
  const std::wstring& iconIndex = Field(fields, 4);
  if (!WriteDefault(thread, id, Field(fields, 2))) return ActionResult::kAborted;
  if (!icon.empty() && !WriteDefault(thread, id + L"\\DefaultIcon", iconIndex.empty() ? icon : icon + L"," + iconIndex))
    return ActionResult::kAborted;
  for (std::wstring extension : FromCommaText(Field(fields, 5))) {
    if (extension.empty()) continue;
    if (extension.front() != L'.') extension.insert(0, 1, L'.');
    if (!WriteDefault(thread, extension, id)) return ActionResult::kAborted;
  }
  for (const std::wstring& entry : FromCommaText(Field(fields, 6))) {
    const Fields verb = FromCommaText(entry);
    if (Field(verb, 0).empty()) continue;
    const std::wstring verbKey = id + L"\\Shell\\" + Field(verb, 0);
    if (!WriteDefault(thread, verbKey + L"\\Command", L"\"" + program + L"\" " + Field(verb, 1)))
      return ActionResult::kAborted;
    if (Field(verb, 2).empty()) continue;
    if (!WriteDefault(thread, verbKey + L"\\ddeexec", Field(verb, 2)) ||
        !WriteDefault(thread, verbKey + L"\\ddeexec\\application", Field(verb, 3)) ||
        !WriteDefault(thread, verbKey + L"\\ddeexec\\topic", Field(verb, 4)))
      return ActionResult::kAborted;
  }
  // Explorer caches associations until told.
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  thread.Log(L"        < " + Describe(fields) + L" >");
  return ActionResult::kDone;
}

}  // namespace

const ActionKind kCreateFileTypeAction = {L"Create File Type", Describe, Perform};

}  // namespace qv::native
