#include "sys/security.h"

#include <aclapi.h>
#include <sddl.h>

#include "sys/paths.h"
#include "sys/wide_text.h"

// SYSTEM and Administrators only: another user can neither read the payload and its report nor
// hold a file open that the clean-up must remove.
const char PrivateSecurityText[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464, the TrustedInstaller service.
const struct {
  BYTE Revision, SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY Authority;
  DWORD SubAuthority[6];
} TrustedInstaller = {SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80, 956008885, 3418522649, 1831038044, 1853292631,
                                                                  2271478464}};

// Not the runner's own user: an administrator's objects may have been made by any program of their
// session that runs without elevation. A run as SYSTEM trusts itself through the first test.
bool IsTrustedSid(PSID sid) {
  if (!sid || !IsValidSid(sid)) return false;
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         EqualSid(sid, const_cast<void*>(static_cast<const void*>(&TrustedInstaller)));
}

// Rights that let their holder swap or redirect what the folder holds.
constexpr DWORD TakeOverRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;

SECURITY_ATTRIBUTES PrivateAttributes() {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, PrivateSecurity(), FALSE};
  return attributes;
}

}  // namespace

PSECURITY_DESCRIPTOR PrivateSecurity() {
  static PSECURITY_DESCRIPTOR descriptor = [] {
    PSECURITY_DESCRIPTOR built = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(PrivateSecurityText, SDDL_REVISION_1, &built, nullptr))
      return PSECURITY_DESCRIPTOR(nullptr);
    return built;
  }();
  return descriptor;
}

bool IsTrustedSecurity(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrustedSid(owner))
    return false;
  // No DACL at all grants everyone everything.
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const ACE_HEADER& header = *static_cast<ACE_HEADER*>(ace);
    if (header.AceFlags & INHERIT_ONLY_ACE || header.AceType == ACCESS_DENIED_ACE_TYPE) continue;
    // Grants of other kinds (object, callback) are not read: they count as untrusted.
    if (header.AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto& allowed = *static_cast<ACCESS_ALLOWED_ACE*>(ace);
    DWORD mask = allowed.Mask;
    MapGenericMask(&mask, &mapping);
    PSID sid = &allowed.SidStart;
    if ((mask & TakeOverRights) && !IsTrustedSid(sid) && !IsWellKnownSid(sid, WinCreatorOwnerSid))
      return false;
  }
  return true;
}

bool IsTrustedFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  HANDLE folder = OpenPath(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool trusted = GetFileInformationByHandle(folder, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                 !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                 IsTrustedSecurity(descriptor);
  if (descriptor) LocalFree(descriptor);
  CloseHandle(folder);
  return trusted;
}

bool MakePrivateFolder(const std::string& path) {
  SECURITY_ATTRIBUTES attributes = PrivateAttributes();
  return attributes.lpSecurityDescriptor && CreateDirectoryW(WidePath(path).c_str(), &attributes);
}

