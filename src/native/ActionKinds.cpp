#include "native/ActionKinds.h"

namespace qv::native {

namespace {

const ActionKind* const kKinds[] = {
    &kCreateFolderAction,
    &kWriteRegistryAction,
    &kDeleteFilesAction,
    &kInstallFilesAction,
    &kInstallServiceAction,
    &kControlServiceAction,
    &kConfigureServiceAction,
    &kConfigureServiceFailureAction,
    &kInstallOdbcDriverAction,
    &kCreateOdbcDsnAction,
    &kCopyMoveLocalFilesAction,
    &kEditIniFileAction,
    &kSetEnvironmentAction,
    &kCreateShortcutAction,
    &kCreateFileTypeAction,
};

}  // namespace

const ActionKind* FindActionKind(std::wstring_view name) {
  for (const ActionKind* kind : kKinds)
    if (kind->name == name) return kind;
  return nullptr;
}

}  // namespace qv::native
