// The library's diagnostic output: reports of three severities, printed to the
// diagnostic stream as "ARXP warning : ...", "ARXP error : ..." or
// "ARXP fatal error : ...", passed to the report listener of a running parse, and
// thrown as ARXPException unless they are warnings.
#pragma once

#include <cstdarg>
#include <iosfwd>

#include "arxp/export.h"
#include "arxp/xstring.h"

namespace arxp {

constexpr int kSeverityWarning = 1;
constexpr int kSeverityError = 2;
constexpr int kSeverityFatal = 3;

// Where in a parse a report arose: printed as "%s : %s (%s) at line %d, col %d"
// after the message (message, file name, offending text, line, column).
struct ARXP_EXPORT Location {
  Xstring file;
  Xstring text;
  int line = 0;
  int column = 0;
};

// Receives every report while installed (the SAX parser's bridge to its error
// handler). May throw; the exception then replaces the report's own.
class ARXP_EXPORT ReportListener {
 public:
  virtual ~ReportListener();
  virtual void onReport(int severity, int code, const Xstring& message, const Location* where) = 0;
};

class ARXP_EXPORT Diagnostics {
 public:
  // Debug output (informational lines); set at load from ARXP_DEBUG.
  static bool debug();
  static void setDebug(bool on);

  // The diagnostic stream (the standard error stream unless set; nullptr restores it).
  static std::ostream& stream();
  static void setStream(std::ostream* stream);

  // The listener of the running parse, or nullptr.
  static ReportListener* listener();
  static void setListener(ReportListener* listener);

  // An informational line, printed as "ARXP " and the text when debugging is on.
  static void info(const char* format, ...) __attribute__((format(printf, 1, 2)));

  // Prints and delivers a warning; returns.
  static void warning(int code, const Xstring& message, const Location* where = nullptr);
  // Prints and delivers an error, then throws ARXPException(code, message).
  [[noreturn]] static void error(int code, const Xstring& message, const Location* where = nullptr);
  // Prints and delivers a fatal error, then throws ARXPException(code, message): a
  // library never ends its host because of its input or a lack of memory.
  [[noreturn]] static void fatal(int code, const Xstring& message, const Location* where = nullptr);
  // Prints a fatal error for a broken internal invariant and aborts.
  [[noreturn]] static void abortInvariant(const Xstring& message);

  // printf-style formatting of a message.
  static Xstring format(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // The printed line without its "ARXP <severity> : " prefix.
  static Xstring describe(const Xstring& message, const Location* where);
};

}  // namespace arxp
