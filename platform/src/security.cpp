// The security structures, kept in Windows shape, and the file mode they decide.
#include "tgx/security.h"

#include <cstring>

namespace tgx {
namespace {

constexpr DWORD kSidSize = sizeof(SID);
constexpr DWORD kAceSize = sizeof(ACCESS_ALLOWED_ACE);

bool IsEveryone(const SID& sid) {
  return sid.SubAuthorityCount == 1 &&
         std::memcmp(sid.IdentifierAuthority.Value, SECURITY_WORLD_SID_AUTHORITY.Value, 6) == 0 &&
         sid.SubAuthority[0] == SECURITY_WORLD_RID;
}

const ACCESS_ALLOWED_ACE* AceAt(const ACL* acl, WORD index) {
  const auto* base = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  return reinterpret_cast<const ACCESS_ALLOWED_ACE*>(base + index * kAceSize);
}

}  // namespace

BOOL InitializeSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, DWORD revision) {
  if (!descriptor || revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *descriptor = SECURITY_DESCRIPTOR{static_cast<BYTE>(revision), false, false, nullptr};
  return TRUE;
}

BOOL InitializeAcl(ACL* acl, DWORD length, DWORD revision) {
  if (!acl || length < sizeof(ACL) || length > 0xFFFF || revision != ACL_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *acl = ACL{static_cast<BYTE>(revision), 0, static_cast<WORD>(length), 0, 0};
  return TRUE;
}

DWORD GetSidLengthRequired(BYTE subAuthorityCount) { return subAuthorityCount == 1 ? kSidSize : 0; }

BOOL InitializeSid(SID* sid, const SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount) {
  if (!sid || !authority || subAuthorityCount != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  sid->Revision = 1;
  sid->SubAuthorityCount = subAuthorityCount;
  sid->IdentifierAuthority = *authority;
  sid->SubAuthority[0] = 0;
  return TRUE;
}

DWORD* GetSidSubAuthority(SID* sid, DWORD index) {
  return (sid && index < sid->SubAuthorityCount) ? &sid->SubAuthority[index] : nullptr;
}

BOOL AddAccessAllowedAce(ACL* acl, DWORD revision, DWORD mask, const SID* sid) {
  if (!acl || !sid || revision != acl->AclRevision || sid->SubAuthorityCount != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::size_t used = sizeof(ACL) + static_cast<std::size_t>(acl->AceCount) * kAceSize;
  if (used + kAceSize > acl->AclSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  ACCESS_ALLOWED_ACE ace{};
  ace.Header = ACE_HEADER{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(kAceSize)};
  ace.Mask = mask;
  ace.Sid = *sid;
  std::memcpy(reinterpret_cast<BYTE*>(acl) + used, &ace, kAceSize);
  ++acl->AceCount;
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(SECURITY_DESCRIPTOR* descriptor, BOOL present, ACL* dacl,
                               BOOL defaulted) {
  if (!descriptor || descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  descriptor->DaclPresent = present != FALSE;
  descriptor->Dacl = present ? dacl : nullptr;
  descriptor->DaclDefaulted = defaulted != FALSE;
  return TRUE;
}

mode_t FileModeFor(const SECURITY_ATTRIBUTES* attributes) {
  constexpr mode_t kDefault = 0600;
  if (!attributes || !attributes->lpSecurityDescriptor) return kDefault;
  const SECURITY_DESCRIPTOR& descriptor = *attributes->lpSecurityDescriptor;
  if (!descriptor.DaclPresent || !descriptor.Dacl) return kDefault;
  for (WORD i = 0; i < descriptor.Dacl->AceCount; ++i) {
    const ACCESS_ALLOWED_ACE* ace = AceAt(descriptor.Dacl, i);
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && IsEveryone(ace->Sid)) return 0666;
  }
  return kDefault;
}

}  // namespace tgx
