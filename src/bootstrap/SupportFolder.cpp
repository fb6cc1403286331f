#include "bootstrap/SupportFolder.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"

#include <sddl.h>

#include <vector>

namespace qv {

namespace {

std::wstring CurrentUserSid() {
  UniqueHandle token;
  CheckWin32(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()), L"OpenProcessToken");
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  CheckWin32(GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size), L"GetTokenInformation");
  LPWSTR text = nullptr;
  CheckWin32(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text),
             L"ConvertSidToStringSid");
  std::wstring sid(text);
  LocalFree(text);
  return sid;
}

}  // namespace

std::wstring PrivateFolderSddl() {
  const std::wstring user = CurrentUserSid();
  return L"O:" + user + L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}

std::wstring ClaimSupportFolder(const std::wstring& temporaryFolder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  CheckWin32(ConvertStringSecurityDescriptorToSecurityDescriptorW(PrivateFolderSddl().c_str(), SDDL_REVISION_1,
                                                                  &descriptor, nullptr),
             L"Cannot build the support folder's access list");
  UniqueLocal descriptorOwner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  for (unsigned n = 1; n < 100000; ++n) {
    const std::wstring path = temporaryFolder + L"zel" + std::to_wstring(n);
    if (CreateDirectoryW(path.c_str(), &attributes)) return path + L"\\";
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED)
      ThrowWin32(error, L"Cannot create the support folder " + path);
  }
  throw Error(L"Cannot create a support folder in " + temporaryFolder);
}

void CopyPackageFiles(const std::wstring& exeFolder, const std::wstring& baseName, const std::wstring& supportFolder) {
  for (const wchar_t* extension : {L".msi", L".msp"}) {
    const std::wstring source = exeFolder + baseName + extension;
    const std::wstring target = supportFolder + baseName + extension;
    if (!FileExists(source)) continue;
    if (CopyFileW(source.c_str(), target.c_str(), FALSE)) SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace qv
