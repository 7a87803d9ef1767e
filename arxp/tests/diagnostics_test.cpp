#include "arxp/diagnostics.h"
#include "arxp/encoding.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "arxp/exception.h"
#include "arxp/memory.h"
#include "arxp/xmldecl.h"
#include "test_util.h"
#include "testsupport.h"

namespace arxp {
namespace {

using test::Ascii;
using test::CapturedDiagnostics;

Location Where() {
  Location where;
  where.file = "in.xml";
  where.text = u"日本";
  where.line = 3;
  where.column = 14;
  return where;
}

TEST(Diagnostics, PrintsEachSeverityWithItsPrefix) {
  CapturedDiagnostics diagnostics;
  Diagnostics::warning(ARXPException::SYNTAX_ERR, "just so");
  EXPECT_THROW(Diagnostics::error(ARXPException::SYNTAX_ERR, "parse error"), ARXPException);
  const Location where = Where();
  EXPECT_THROW(Diagnostics::fatal(ARXPException::ALLOC_ERR, "out", &where), ARXPException);
  EXPECT_EQ(
      "ARXP warning : just so\n"
      "ARXP error : parse error\n"
      "ARXP fatal error : out : in.xml (\x93\xFA\x96\x7B) at line 3, col 14\n",
      diagnostics.text());
}

TEST(Diagnostics, ErrorsThrowTheirCodeMessageAndSystemCode) {
  CapturedDiagnostics diagnostics;
  for (auto raise : {&Diagnostics::error, &Diagnostics::fatal}) {
    errno = ENOENT;
    try {
      raise(ARXPException::FILE_OPEN_ERR, Diagnostics::format("file (%s) cannot open", "x"),
            nullptr);
      FAIL() << "returned";
    } catch (const ARXPException& e) {
      EXPECT_EQ(ARXPException::FILE_OPEN_ERR, e.getCode());
      EXPECT_EQ("file (x) cannot open", Ascii(e.getMessage()));
      EXPECT_STREQ("file (x) cannot open", e.what());
      EXPECT_EQ(ENOENT, e.getSysCode());
    }
  }
}

TEST(Diagnostics, InformationNeedsDebugging) {
  CapturedDiagnostics diagnostics;
  Diagnostics::info("quiet %d", 1);
  Diagnostics::setDebug(true);
  Diagnostics::info("loud %d", 2);
  EXPECT_EQ("ARXP loud 2\n", diagnostics.text());
}

class Recorder : public ReportListener {
 public:
  void onReport(int severity, int code, const Xstring& message, const Location* where) override {
    log += std::to_string(severity) + "/" + std::to_string(code) + "/" + Ascii(message) + "/" +
           (where ? std::to_string(where->line) : "-") + ";";
    if (throw_on_error && severity >= kSeverityError) throw std::runtime_error("handler");
  }
  std::string log;
  bool throw_on_error = false;
};

TEST(Diagnostics, DeliversReportsToTheListener) {
  CapturedDiagnostics diagnostics;
  Recorder recorder;
  Diagnostics::setListener(&recorder);
  const Location where = Where();
  Diagnostics::warning(7, "w", &where);
  EXPECT_THROW(Diagnostics::error(8, "e"), ARXPException);
  recorder.throw_on_error = true;
  EXPECT_THROW(Diagnostics::fatal(5, "f"), std::runtime_error);  // the handler's own wins
  Diagnostics::setListener(nullptr);
  EXPECT_EQ("1/7/w/3;2/8/e/-;3/5/f/-;", recorder.log);
}

TEST(ARXPException, NamesEveryCode) {
  const char* names[] = {"UNKNOWN_ERR",
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
                         "UNKNOWN_ERR"};
  for (int code = 0; code <= 16; ++code) EXPECT_STREQ(names[code], ARXPException::codeName(code));
  EXPECT_STREQ("UNKNOWN_ERR", ARXPException::codeName(-1));
  EXPECT_TRUE(ARXPException(ARXPException::DOM_ERR, "x").toString() == "<ARXPException::DOM_ERR>");
}

TEST(Memory, RoundsRequestsAndCountsThem) {
  Memory::setStatisticsEnabled(false);
  Memory::setStatisticsEnabled(true);
  const MemoryStatistics before = Memory::statistics();
  EXPECT_EQ(0, before.count);
  void* a = Memory::allocate(5);
  void* b = Memory::allocate(12);
  a = Memory::reallocate(a, 30);
  const MemoryStatistics s = Memory::statistics();
  EXPECT_EQ(3, s.count);
  EXPECT_EQ(32, s.max_size);
  EXPECT_EQ(8 + 12 + 32, s.total_size);
  EXPECT_LE(s.lower, reinterpret_cast<std::uintptr_t>(b));
  EXPECT_GE(s.upper, reinterpret_cast<std::uintptr_t>(b));
  EXPECT_EQ(before.heap_blocks + 2, s.heap_blocks);
  Memory::release(a);
  Memory::release(b);
  EXPECT_EQ(before.heap_blocks, Memory::statistics().heap_blocks);

  CapturedDiagnostics diagnostics;
  Memory::printStatistics();
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "memory statistics :\n"
                "    heap block alloc count = %ld\n"
                "    heap total size = %ld\n"
                "    arxp_malloc lower = %zx\n"
                "    arxp_malloc upper = %zx\n"
                "    arxp_malloc count = 3\n"
                "    arxp_malloc max size = 32\n"
                "    arxp_malloc total size = 52\n",
                before.heap_blocks, Memory::statistics().heap_bytes, s.lower, s.upper);
  EXPECT_EQ(expected, diagnostics.text());
  Memory::setStatisticsEnabled(false);
}

TEST(Memory, OutOfMemoryIsThrownNotFatalToTheHost) {
  CapturedDiagnostics diagnostics;
  EXPECT_THROW(Memory::allocate(SIZE_MAX / 2), ARXPException);
  void* block = Memory::allocate(8);
  EXPECT_THROW(block = Memory::reallocate(block, SIZE_MAX / 2), ARXPException);
  Memory::release(block);  // still the caller's after the failed realloc
  EXPECT_EQ(0u, diagnostics.text().rfind("ARXP fatal error : malloc failed : size = ", 0));
  EXPECT_NE(std::string::npos, diagnostics.text().find("ARXP fatal error : realloc failed"));
}

TEST(MemoryDeathTest, IllegalFreesAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(Memory::release(nullptr), "ARXP fatal error : free illegal pointer \\(0\\)");
  EXPECT_DEATH(Memory::release(reinterpret_cast<void*>(~std::uintptr_t{0} - 7)),
               "free illegal pointer \\(fffffffffffffff8\\)");
  EXPECT_DEATH(
      {
        Memory::setStatisticsEnabled(true);
        static int on_the_stack_or_data;
        Memory::allocate(4);
        Memory::release(&on_the_stack_or_data);
      },
      "free illegal pointer");
}

struct DeclCase {
  const char* name;
  int detected;
  int result;  // 0: an error with `message`
  const char* message;
};

TEST(XmlDecl, MatchesEncodingNamesToTheDetectedEncoding) {
  const DeclCase cases[] = {
      {"UTF-8", kEncodingUtf8, kEncodingUtf8, nullptr},
      {"utf-8", kEncodingUtf8, kEncodingUtf8, nullptr},
      {"UTF-16", kEncodingUtf16, kEncodingUtf16, nullptr},
      {"shift_jis", kEncodingUtf8, kEncodingShiftJis, nullptr},
      {"Euc-Jp", kEncodingUtf8, kEncodingEucJp, nullptr},
      {"ISO-2022-JP", kEncodingUtf8, kEncodingIso2022Jp, nullptr},
      {"UTF-8", kEncodingUtf16, 0, "encoding decl not match to XML file format"},
      {"UTF-16", kEncodingUtf8, 0, "encoding decl not match to XML file format"},
      {"Shift_JIS", kEncodingUtf16, 0, "encoding decl not match to XML file format"},
      {"latin1", kEncodingUtf8, 0, "not supported encoding"},
      {"Shift_JISX", kEncodingUtf8, 0, "not supported encoding"},
      {"8bit", kEncodingUtf8, 0, "illegal encoding first character"},
      {"", kEncodingUtf8, 0, "illegal encoding first character"},
      {"UTF 8", kEncodingUtf8, 0, "illegal encoding"},
  };
  for (const DeclCase& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedDiagnostics diagnostics;
    if (c.result) {
      EXPECT_EQ(c.result, checkEncodingDecl(c.name, c.detected));
      continue;
    }
    try {
      checkEncodingDecl(c.name, c.detected);
      ADD_FAILURE() << "accepted";
    } catch (const ARXPException& e) {
      EXPECT_EQ(ARXPException::INVALID_XML_DECL_ERR, e.getCode());
      EXPECT_EQ(c.message, Ascii(e.getMessage()));
    }
  }
}

std::string DeclError(void (*check)(const Xstring&), const Xstring& value, int code) {
  CapturedDiagnostics diagnostics;
  try {
    check(value);
  } catch (const ARXPException& e) {
    EXPECT_EQ(code, e.getCode());
    return Ascii(e.getMessage());
  }
  return "";
}

TEST(XmlDecl, ChecksVersionStandaloneAndPublicIds) {
  constexpr int kDecl = ARXPException::INVALID_XML_DECL_ERR;
  auto version = [](const Xstring& v) { checkVersionNum(v); };
  auto standalone = [](const Xstring& v) { checkStandalone(v); };
  auto pubid = [](const Xstring& v) { checkPubidLiteral(v); };
  EXPECT_EQ("", DeclError(version, "1.0", kDecl));
  EXPECT_EQ("", DeclError(version, "a_b:c-d.0", kDecl));
  EXPECT_EQ("empty version number", DeclError(version, "", kDecl));
  EXPECT_EQ("illegal version number", DeclError(version, "1 0", kDecl));
  EXPECT_EQ("illegal version number", DeclError(version, u"1.０", kDecl));
  EXPECT_TRUE(checkStandalone("yes"));
  EXPECT_FALSE(checkStandalone("no"));
  EXPECT_EQ("illegal standalone value", DeclError(standalone, "YES", kDecl));
  EXPECT_EQ("illegal standalone value", DeclError(standalone, "", kDecl));
  constexpr int kChar = ARXPException::INVALID_CHAR_ERR;
  EXPECT_EQ("", DeclError(pubid, "-//W3C//DTD XHTML 1.0 Strict//EN'()+,./:=?;!*#@$_%\r\n", kChar));
  EXPECT_EQ("illegal public id", DeclError(pubid, "a\"b", kChar));
  EXPECT_EQ("illegal public id", DeclError(pubid, "a\tb", kChar));
  EXPECT_EQ("illegal public id", DeclError(pubid, u"日本", kChar));
}

// The environment is read when the library loads: a helper process shows it.
std::string RunHelper(const std::string& environment) {
  const std::string command =
      environment + " " + (tgx::test::BinDir() / "arxp_helper_load").string() + " 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string output;
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  return output;
}

TEST(Library, ReadsDebugAndStatisticsSwitchesAtLoad) {
  EXPECT_EQ("helper done\n", RunHelper("env -u ARXP_DEBUG -u ARXP_MEMSTAT"));
  EXPECT_EQ("ARXP os encoding = SJIS\nARXP machine byte order = LITTLE_ENDIAN\nhelper done\n",
            RunHelper("env -u ARXP_MEMSTAT ARXP_DEBUG="));
  const std::string stats = RunHelper("env -u ARXP_DEBUG ARXP_MEMSTAT=1");
  EXPECT_EQ(0u, stats.rfind("helper done\nmemory statistics :\n", 0)) << stats;
  EXPECT_NE(std::string::npos, stats.find("    arxp_malloc count = 2\n")) << stats;
  EXPECT_NE(std::string::npos, stats.find("    arxp_malloc total size = 56\n")) << stats;
}

}  // namespace
}  // namespace arxp
