// Security attributes of created named objects. The Windows structures are kept
// in shape so that callers build them as the design says; on Linux the only thing
// they decide is the file mode of the object: a discretionary ACL that allows
// Everyone gives 0666, anything else (or no attributes) the default 0600.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "tgx/win32.h"

namespace tgx {

inline constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;
inline constexpr DWORD ACL_REVISION = 2;
inline constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0;

struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_WORLD_SID_AUTHORITY = {{0, 0, 0, 0, 0, 1}};
inline constexpr DWORD SECURITY_WORLD_RID = 0;

// A SID with one sub-authority: all this system ever builds.
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};

struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};

struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  DWORD Mask;
  SID Sid;
};

// Header of an ACL; its ACEs follow it in the caller's buffer.
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};

struct SECURITY_DESCRIPTOR {
  BYTE Revision;
  bool DaclPresent;
  bool DaclDefaulted;
  ACL* Dacl;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  SECURITY_DESCRIPTOR* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

BOOL InitializeSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, DWORD revision);
BOOL InitializeAcl(ACL* acl, DWORD length, DWORD revision);
DWORD GetSidLengthRequired(BYTE subAuthorityCount);
BOOL InitializeSid(SID* sid, const SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount);
DWORD* GetSidSubAuthority(SID* sid, DWORD index);
BOOL AddAccessAllowedAce(ACL* acl, DWORD revision, DWORD mask, const SID* sid);
BOOL SetSecurityDescriptorDacl(SECURITY_DESCRIPTOR* descriptor, BOOL present, ACL* dacl,
                               BOOL defaulted);

// The file mode that created objects get for these attributes (null: default).
mode_t FileModeFor(const SECURITY_ATTRIBUTES* attributes);

}  // namespace tgx
