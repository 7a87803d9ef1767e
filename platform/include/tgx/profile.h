// Settings files read the Windows way (GetPrivateProfileStringA,
// GetPrivateProfileIntA).
//
// A file name without a "/" is looked for in the current directory. Sections
// ("[name]") and keys ("key=value") are found without regard to ASCII case; the
// first of duplicate sections or keys wins. White space around keys and values
// and at line ends is dropped; a value enclosed in a matching pair of single or
// double quotes loses them. Lines starting with ";" are comments. Lines end at
// LF, CR LF or a lone CR; a NUL byte ends its line's text; lines of any length
// are read; a final line needs no line end; a UTF-8 byte-order mark is skipped.
#pragma once

#include "tgx/win32.h"

namespace tgx {

// Copies the value of key in section into the buffer, cut to size - 1
// characters and NUL-terminated, and returns the number of characters copied
// (without the NUL). When the file, section or key is missing, or the key has no
// "=", the default (null: "") is copied instead, without its trailing blanks.
// With section null the buffer receives every section name, with key null every
// key of the section, each NUL-terminated and the list ended by a second NUL; a
// list cut to the buffer still ends in two NULs and the result is then size - 2.
// Nothing is written beyond size bytes; size 0 returns 0.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* returned, DWORD size, const char* fileName);

// The value of key read as an integer: leading blanks, an optional sign, then
// decimal digits, or hexadecimal after "0x"; reading stops at the first other
// character ("12ab" gives 12, "abc" gives 0). A missing or empty value gives the
// default. Negative values come back as their UINT bit pattern.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);

}  // namespace tgx
