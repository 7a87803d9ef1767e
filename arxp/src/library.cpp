// Library-wide settings made at load, and the work done at unload.
#include <cstdlib>
#include <iostream>  // the diagnostic stream must exist before the load lines

#include "arxp/diagnostics.h"
#include "arxp/encoding.h"
#include "arxp/memory.h"
#include "internal.h"

namespace arxp {
namespace {

constexpr const char* kEncodingNames[] = {"UTF-8", "UTF-16", "Shift_JIS", "EUC-JP", "ISO-2022-JP"};

int g_os_encoding = kEncodingShiftJis;
int g_byte_order = kByteOrderLittle;

// Load reads the environment; unload frees the scratch buffer and prints the
// memory statistics when they are on.
class LibraryLifetime {
 public:
  LibraryLifetime() {
    g_os_encoding = kEncodingShiftJis;
    g_byte_order = kByteOrderLittle;
    Diagnostics::setDebug(std::getenv("ARXP_DEBUG") != nullptr);
    Memory::setStatisticsEnabled(std::getenv("ARXP_MEMSTAT") != nullptr);
    Diagnostics::info("os encoding = SJIS");
    Diagnostics::info("machine byte order = %s", byteOrderName(g_byte_order));
  }
  ~LibraryLifetime() {
    Xstring::releaseScratch();
    if (Memory::statisticsEnabled()) Memory::printStatistics();
  }
};

LibraryLifetime g_lifetime;

}  // namespace

const char* encodingName(int encoding) {
  return encoding >= kEncodingUtf8 && encoding <= kEncodingIso2022Jp ? kEncodingNames[encoding - 1]
                                                                     : nullptr;
}

const char* byteOrderName(int order) {
  switch (order) {
    case kByteOrderBig: return "BIG_ENDIAN";
    case kByteOrderLittle: return "LITTLE_ENDIAN";
    default: return "DON'T CARE";
  }
}

int osEncoding() { return g_os_encoding; }
int machineByteOrder() { return g_byte_order; }

}  // namespace arxp
