#include "arxp/xmldecl.h"

#include <array>

#include "arxp/encoding.h"
#include "arxp/exception.h"

namespace arxp {
namespace {

bool IsAsciiLetter(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= '0' && c <= '9'; }
char16_t FoldCase(char16_t c) { return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : c; }

bool EqualsIgnoringCase(const Xstring& s, const char* name) {
  const char16_t* units = s.data();
  int i = 0;
  for (; name[i] != '\0'; ++i)
    if (i >= s.length() || FoldCase(units[i]) != FoldCase(static_cast<char16_t>(name[i])))
      return false;
  return i == s.length();
}

template <typename Predicate>
bool AllOf(const Xstring& s, Predicate allowed) {
  for (int i = 0; i < s.length(); ++i)
    if (!allowed(s.data()[i])) return false;
  return true;
}

struct DeclaredEncoding {
  const char* name;
  int encoding;
  int required_detection;  // the detected encoding the name is allowed with
};

constexpr std::array<DeclaredEncoding, 5> kDeclaredEncodings{{
    {"UTF-8", kEncodingUtf8, kEncodingUtf8},
    {"UTF-16", kEncodingUtf16, kEncodingUtf16},
    {"Shift_JIS", kEncodingShiftJis, kEncodingUtf8},
    {"EUC-JP", kEncodingEucJp, kEncodingUtf8},
    {"ISO-2022-JP", kEncodingIso2022Jp, kEncodingUtf8},
}};

}  // namespace

int checkEncodingDecl(const Xstring& name, int detected, const Location* where) {
  constexpr int kCode = ARXPException::INVALID_XML_DECL_ERR;
  if (name.length() <= 0 || !IsAsciiLetter(name.data()[0]))
    Diagnostics::error(kCode, "illegal encoding first character", where);
  if (!AllOf(name, [](char16_t c) {
        return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '.' || c == '_' || c == '-';
      }))
    Diagnostics::error(kCode, "illegal encoding", where);
  for (const DeclaredEncoding& declared : kDeclaredEncodings) {
    if (!EqualsIgnoringCase(name, declared.name)) continue;
    if (detected != declared.required_detection)
      Diagnostics::error(kCode, "encoding decl not match to XML file format", where);
    return declared.encoding;
  }
  Diagnostics::error(kCode, "not supported encoding", where);
}

void checkVersionNum(const Xstring& version, const Location* where) {
  constexpr int kCode = ARXPException::INVALID_XML_DECL_ERR;
  if (version.length() <= 0) Diagnostics::error(kCode, "empty version number", where);
  if (!AllOf(version, [](char16_t c) {
        return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == '.' || c == ':' || c == '-';
      }))
    Diagnostics::error(kCode, "illegal version number", where);
}

bool checkStandalone(const Xstring& value, const Location* where) {
  if (value == "yes") return true;
  if (value == "no") return false;
  Diagnostics::error(ARXPException::INVALID_XML_DECL_ERR, "illegal standalone value", where);
}

void checkPubidLiteral(const Xstring& id, const Location* where) {
  constexpr char16_t kPunctuation[] = u"-'()+,./:=?;!*#@$_%";
  const bool valid = AllOf(id, [&](char16_t c) {
    if (c == 0x20 || c == 0x0D || c == 0x0A || IsAsciiLetter(c) || IsAsciiDigit(c)) return true;
    for (const char16_t* p = kPunctuation; *p; ++p)
      if (*p == c) return true;
    return false;
  });
  if (!valid) Diagnostics::error(ARXPException::INVALID_CHAR_ERR, "illegal public id", where);
}

}  // namespace arxp
