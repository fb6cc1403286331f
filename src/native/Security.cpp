#include "native/Security.h"

#include "common/Text.h"

#include <aclapi.h>

#include <cstring>

namespace qv::native {

namespace {

constexpr SECURITY_INFORMATION kOwner = OWNER_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION kDacl = DACL_SECURITY_INFORMATION;

// The process token's user, read once.
PSID CurrentUser() {
  static const std::vector<BYTE> user = [] {
    std::vector<BYTE> buffer;
    UniqueHandle token;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return buffer;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    if (!size || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) buffer.clear();
    return buffer;
  }();
  return user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

// Taking ownership and handing it back to someone else need these two
// privileges in force; an administrator holds them disabled.
void EnableOwnershipPrivileges() {
  static const bool once = [] {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME}) {
      TOKEN_PRIVILEGES privileges{};
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
    return true;
  }();
  (void)once;
}

// A self-relative copy of the descriptor the security calls handed out
// (which is freed here).
std::vector<BYTE> Keep(PSECURITY_DESCRIPTOR descriptor) {
  UniqueLocal owned(descriptor);
  std::vector<BYTE> bytes(GetSecurityDescriptorLength(descriptor));
  std::memcpy(bytes.data(), descriptor, bytes.size());
  return bytes;
}

struct Parts {
  PSID owner = nullptr;
  PACL dacl = nullptr;  // nullptr: no access list (everyone has full access)
  bool protectedDacl = false;
};

Parts PartsOf(std::vector<BYTE>& descriptor) {
  Parts parts;
  if (descriptor.empty()) return parts;
  auto* sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(descriptor.data());
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorOwner(sd, &parts.owner, &defaulted);
  if (!GetSecurityDescriptorDacl(sd, &present, &parts.dacl, &defaulted) || !present) parts.dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(sd, &control, &revision)) parts.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  return parts;
}

SECURITY_INFORMATION DaclFlags(const Parts& parts) {
  return kDacl | (parts.protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION : 0);
}

// ---------------------------------------------------------------------------
// Files

DWORD ReadFileSecurity(const std::wstring& path, std::vector<BYTE>& descriptor) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD status =
      GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, kOwner | kDacl, nullptr, nullptr, nullptr, nullptr, &sd);
  if (status == ERROR_SUCCESS) descriptor = Keep(sd);
  return status;
}

DWORD SetFileOwner(const std::wstring& path, PSID owner) {
  return SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, kOwner, owner, nullptr, nullptr,
                               nullptr);
}

DWORD SetFileDacl(const std::wstring& path, const Parts& parts, PACL dacl) {
  return SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, DaclFlags(parts), nullptr, nullptr,
                               dacl, nullptr);
}

// ---------------------------------------------------------------------------
// Keys

DWORD OpenKey(HKEY root, const std::wstring& path, REGSAM access, UniqueKey& key) {
  return static_cast<DWORD>(RegOpenKeyExW(root, path.c_str(), 0, access, key.put()));
}

// Makes the current user the owner of the key (open for changing the owner).
DWORD TakeKeyOwnership(HKEY root, const std::wstring& path, REGSAM view) {
  UniqueKey key;
  if (DWORD status = OpenKey(root, path, WRITE_OWNER | view, key)) return status;
  return SetSecurityInfo(key.get(), SE_REGISTRY_KEY, kOwner, CurrentUser(), nullptr, nullptr, nullptr);
}

}  // namespace

SecurityPolicy SecurityPolicy::From(Variables& variables) {
  return {EqualsNoCase(variables.Get(L"NATIVE_OVERRIDE_PERMISSIONS"), L"TRUE"),
          EqualsNoCase(variables.Get(L"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS"), L"TRUE")};
}

std::vector<BYTE> WithFullAccessFirst(const ACL* dacl, PSID user) {
  if (!dacl || !user) return {};
  ACL_SIZE_INFORMATION info{};
  if (!GetAclInformation(const_cast<ACL*>(dacl), &info, sizeof(info), AclSizeInformation)) return {};
  const DWORD revision = dacl->AclRevision > ACL_REVISION ? dacl->AclRevision : DWORD{ACL_REVISION};
  const DWORD size = info.AclBytesInUse + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(user);
  std::vector<BYTE> bytes(size);
  auto* acl = reinterpret_cast<ACL*>(bytes.data());
  if (!InitializeAcl(acl, size, revision) || !AddAccessAllowedAce(acl, revision, GENERIC_ALL, user)) return {};
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &ace) ||
        !AddAce(acl, revision, MAXDWORD, ace, static_cast<const ACE_HEADER*>(ace)->AceSize))
      return {};
  }
  return bytes;
}

SavedSecurity OverrideSecurity(const SecurityPolicy& policy, const std::wstring& path) {
  SavedSecurity saved;
  if (!policy.on || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || !CurrentUser()) return saved;
  EnableOwnershipPrivileges();
  saved.path = path;
  const DWORD read = ReadFileSecurity(path, saved.descriptor);
  // Security that cannot be read cannot be put back: taken over only when
  // the script allows a change that stays.
  if (read != ERROR_SUCCESS && !(read == ERROR_ACCESS_DENIED && policy.nonRestorable)) return saved;
  if (SetFileOwner(path, CurrentUser()) != ERROR_SUCCESS) return saved;
  saved.overridden = true;
  std::vector<BYTE> current = saved.descriptor;
  if (current.empty()) ReadFileSecurity(path, current);  // as the owner now
  const Parts parts = PartsOf(current);
  std::vector<BYTE> opened = WithFullAccessFirst(parts.dacl, CurrentUser());
  if (!opened.empty() && SetFileDacl(path, parts, reinterpret_cast<PACL>(opened.data())) != ERROR_SUCCESS) {
    // Nothing half done: the owner goes back as well.
    RestoreSecurity(saved);
  }
  return saved;
}

SavedSecurity OverrideSecurity(const SecurityPolicy& policy, HKEY root, const std::wstring& keyPath, REGSAM view) {
  SavedSecurity saved;
  if (!policy.on || !CurrentUser()) return saved;
  EnableOwnershipPrivileges();
  UniqueKey key;
  DWORD status = OpenKey(root, keyPath, READ_CONTROL | view, key);
  if (status == ERROR_ACCESS_DENIED && policy.nonRestorable && TakeKeyOwnership(root, keyPath, view) == ERROR_SUCCESS) {
    saved.overridden = true;  // the old owner is lost for good
    status = OpenKey(root, keyPath, READ_CONTROL | view, key);
  }
  if (status != ERROR_SUCCESS) return saved;  // missing, or not ours to take
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(key.get(), SE_REGISTRY_KEY, kOwner | kDacl, nullptr, nullptr, nullptr, nullptr, &sd) ==
      ERROR_SUCCESS)
    saved.descriptor = Keep(sd);
  const REGSAM change = READ_CONTROL | WRITE_DAC | WRITE_OWNER | view;
  status = OpenKey(root, keyPath, change, saved.key);
  if (status == ERROR_ACCESS_DENIED && (!saved.descriptor.empty() || policy.nonRestorable) &&
      TakeKeyOwnership(root, keyPath, view) == ERROR_SUCCESS) {
    saved.overridden = true;
    status = OpenKey(root, keyPath, change, saved.key);
  }
  if (status != ERROR_SUCCESS) {
    saved.key.reset();
    if (saved.overridden && !saved.descriptor.empty()) {
      // The owner was taken but the key cannot be changed: give it back.
      UniqueKey owner;
      if (OpenKey(root, keyPath, WRITE_OWNER | view, owner) == ERROR_SUCCESS)
        SetSecurityInfo(owner.get(), SE_REGISTRY_KEY, kOwner, PartsOf(saved.descriptor).owner, nullptr, nullptr,
                        nullptr);
    }
    saved.overridden = false;
    return saved;
  }
  if (SetSecurityInfo(saved.key.get(), SE_REGISTRY_KEY, kOwner, CurrentUser(), nullptr, nullptr, nullptr) ==
      ERROR_SUCCESS)
    saved.overridden = true;
  const Parts parts = PartsOf(saved.descriptor);
  std::vector<BYTE> opened = WithFullAccessFirst(parts.dacl, CurrentUser());
  if (!opened.empty() && SetSecurityInfo(saved.key.get(), SE_REGISTRY_KEY, DaclFlags(parts), nullptr, nullptr,
                                         reinterpret_cast<PACL>(opened.data()), nullptr) == ERROR_SUCCESS)
    saved.overridden = true;
  return saved;
}

void RestoreSecurity(SavedSecurity& saved, bool newFile) {
  if (!saved.overridden) return;
  saved.overridden = false;
  if (saved.descriptor.empty()) {  // nothing known to put back
    saved.key.reset();
    return;
  }
  const Parts parts = PartsOf(saved.descriptor);
  if (saved.key) {
    SetSecurityInfo(saved.key.get(), SE_REGISTRY_KEY, DaclFlags(parts), nullptr, nullptr, parts.dacl, nullptr);
    SetSecurityInfo(saved.key.get(), SE_REGISTRY_KEY, kOwner, parts.owner, nullptr, nullptr, nullptr);
    saved.key.reset();
    return;
  }
  if (saved.path.empty() || GetFileAttributesW(saved.path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (newFile) SetFileOwner(saved.path, CurrentUser());
  // The access list first, while the file is still ours to change.
  SetFileDacl(saved.path, parts, parts.dacl);
  SetFileOwner(saved.path, parts.owner);
}

}  // namespace qv::native
