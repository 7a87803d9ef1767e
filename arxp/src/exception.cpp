#include "arxp/exception.h"

#include <cerrno>

#include "internal.h"

namespace arxp {
namespace {

constexpr const char* kCodeNames[] = {
    "FILE_OPEN_ERR",
    "FILE_WRITE_ERR",
    "ALLOC_ERR",
    "FREE_ERR",
    "INTERNAL_ERR",
    "SYNTAX_ERR",
    "FORMAT_ERR",
    "INVALID_CHAR_ERR",
    "INVALID_ENTITY_REF_ERR",
    "UNBALANCED_TAG_ERR",
    "INVALID_XML_DECL_ERR",
    "UNEXPECTED_EOF_ERR",
    "FEATURE_NOT_RECOGNIZED_ERR",
    "FEATURE_NOT_SUPPORTED_ERR",
    "DOM_ERR",
};

}  // namespace

ARXPException::ARXPException(int code, const Xstring& message)
    : code_(code), message_(message), sys_code_(errno), what_(detail::PrintableBytes(message)) {}

ARXPException::~ARXPException() = default;

const char* ARXPException::codeName(int code) {
  constexpr int kCount = sizeof kCodeNames / sizeof kCodeNames[0];
  return code >= 1 && code <= kCount ? kCodeNames[code - 1] : "UNKNOWN_ERR";
}

Xstring ARXPException::toString() const {
  Xstring text("<ARXPException::");
  text += codeName(code_);
  text += ">";
  return text;
}

}  // namespace arxp
