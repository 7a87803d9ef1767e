// ARXPException: the one exception type through which the XML library reports
// failures to its callers.
#pragma once

#include <exception>
#include <string>

#include "arxp/export.h"
#include "arxp/xstring.h"

namespace arxp {

class ARXP_EXPORT ARXPException : public std::exception {
 public:
  enum Code {
    FILE_OPEN_ERR = 1,
    FILE_WRITE_ERR = 2,
    ALLOC_ERR = 3,
    FREE_ERR = 4,
    INTERNAL_ERR = 5,
    SYNTAX_ERR = 6,
    FORMAT_ERR = 7,
    INVALID_CHAR_ERR = 8,
    INVALID_ENTITY_REF_ERR = 9,
    UNBALANCED_TAG_ERR = 10,
    INVALID_XML_DECL_ERR = 11,
    UNEXPECTED_EOF_ERR = 12,
    FEATURE_NOT_RECOGNIZED_ERR = 13,
    FEATURE_NOT_SUPPORTED_ERR = 14,
    DOM_ERR = 15,
  };

  // The system code is the calling thread's last system error (errno) at this moment.
  ARXPException(int code, const Xstring& message);
  ARXPException(const ARXPException&) = default;
  ARXPException& operator=(const ARXPException&) = default;
  ~ARXPException() override;

  int getCode() const { return code_; }
  const Xstring& getMessage() const { return message_; }
  int getSysCode() const { return sys_code_; }
  // "<ARXPException::" followed by the code's name and ">".
  virtual Xstring toString() const;
  // The message in the OS encoding.
  const char* what() const noexcept override { return what_.c_str(); }

  // The name of a code: "FILE_OPEN_ERR" ... "DOM_ERR", "UNKNOWN_ERR" for any other.
  static const char* codeName(int code);

 private:
  int code_;
  Xstring message_;
  int sys_code_;
  std::string what_;
};

}  // namespace arxp
