#include "builder/Payload.h"

#include "common/Error.h"
#include "media/ArchiveModule.h"

namespace qv::build {

void PackPayload(const std::wstring& moduleFolder, const std::wstring& folder, const std::wstring& archivePath) {
  ArchiveModule module = ArchiveModule::Load(moduleFolder);
  if (!module.CreateFromFolder(archivePath, folder))
    throw Error(L"Packing the payload " + folder + L" into " + archivePath + L" failed: archive module error #" +
                std::to_wstring(module.LastError()));
}

}  // namespace qv::build
