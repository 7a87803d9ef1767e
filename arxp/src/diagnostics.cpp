#include "arxp/diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "arxp/exception.h"
#include "internal.h"

namespace arxp {
namespace {

// Library-wide and unguarded: one parse at a time.
bool g_debug = false;
std::ostream* g_stream = nullptr;
ReportListener* g_listener = nullptr;

const char* SeverityLabel(int severity) {
  switch (severity) {
    case kSeverityWarning: return "warning : ";
    case kSeverityError: return "error : ";
    default: return "fatal error : ";
  }
}

void Print(int severity, const Xstring& message, const Location* where) {
  Diagnostics::stream() << "ARXP " << SeverityLabel(severity)
                        << detail::PrintableBytes(Diagnostics::describe(message, where)) << '\n'
                        << std::flush;
}

// Prints and delivers a report, keeping errno for the exception that may follow.
void Report(int severity, int code, const Xstring& message, const Location* where) {
  const int system_error = errno;
  Print(severity, message, where);
  if (g_listener) g_listener->onReport(severity, code, message, where);
  errno = system_error;
}

}  // namespace

namespace detail {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

}  // namespace detail

ReportListener::~ReportListener() = default;

bool Diagnostics::debug() { return g_debug; }
void Diagnostics::setDebug(bool on) { g_debug = on; }

std::ostream& Diagnostics::stream() { return g_stream ? *g_stream : std::cerr; }
void Diagnostics::setStream(std::ostream* stream) { g_stream = stream; }

ReportListener* Diagnostics::listener() { return g_listener; }
void Diagnostics::setListener(ReportListener* listener) { g_listener = listener; }

void Diagnostics::info(const char* format, ...) {
  if (!g_debug) return;
  va_list args;
  va_start(args, format);
  const std::string text = detail::FormatV(format, args);
  va_end(args);
  stream() << "ARXP " << text << '\n' << std::flush;
}

void Diagnostics::warning(int code, const Xstring& message, const Location* where) {
  Report(kSeverityWarning, code, message, where);
}

void Diagnostics::error(int code, const Xstring& message, const Location* where) {
  Report(kSeverityError, code, message, where);
  throw ARXPException(code, message);
}

void Diagnostics::fatal(int code, const Xstring& message, const Location* where) {
  Report(kSeverityFatal, code, message, where);
  throw ARXPException(code, message);
}

void Diagnostics::abortInvariant(const Xstring& message) {
  Print(kSeverityFatal, message, nullptr);
  std::abort();
}

Xstring Diagnostics::format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = detail::FormatV(format, args);
  va_end(args);
  return Xstring(text.c_str());
}

Xstring Diagnostics::describe(const Xstring& message, const Location* where) {
  if (!where) return message;
  Xstring text = message;
  text += " : ";
  text += where->file;
  text += " (";
  text += where->text;
  text += Diagnostics::format(") at line %d, col %d", where->line, where->column).c_str();
  return text;
}

}  // namespace arxp
