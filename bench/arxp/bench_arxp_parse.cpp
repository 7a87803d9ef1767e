// Parsing speed and tree memory of arxp beside expat, libxml2 and pugixml, on four
// generated documents: 20 MiB of records (UTF-8), 20 MiB of prose with entity and
// character references (UTF-8), 5 MiB of Japanese in UTF-16LE with a byte-order
// mark, and the same kind of document in Shift_JIS. Every parser reads the same
// files from a temporary directory.
//
// Prints per document and parser <doc>_<parser>_sax and <doc>_<parser>_dom (MiB/s
// of the file, best of the rounds, this thread's processor time), and
// <doc>_<parser>_dom_peak (MiB): the peak growth of the heap while one tree is
// built, counted by this program's own allocation functions, which every library
// calls (and _dom_tree, the heap the finished tree holds), each tree in a child
// process of its own. Then the goals as ratios
// (1 or more: met): <doc>_goal_sax_vs_libxml2 and _vs_expat (speed of arxp's SAX
// over theirs), <doc>_goal_dom_vs_libxml2 (speed), <doc>_goal_mem_vs_libxml2
// (libxml2's peak over arxp's). A parser without a reader for a document's
// encoding prints "unsupported" instead of a figure.
//
// SAX handlers count elements and character units; the element counts of all
// parsers must agree, or the program fails.
//
//   bench_arxp_parse [--rounds=N] [--scale=DIVISOR] [--docs=a,b] [--parsers=a,b]
#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <malloc.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "arxp/dom.h"
#include "arxp/parser.h"
#include "arxp/sax.h"
#include "parse_documents.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

struct Counts {
  long elements = 0;
  long characters = 0;  // in the parser's own units (UTF-16 or UTF-8)
};

struct DocumentFile {
  std::string label;
  std::string path;
  double mib = 0;
  bool shift_jis = false;
};

// ---- timing and memory ----

// Processor time of this thread, so that other work on a shared machine does not
// count.
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Heap use, counted by the allocation functions below while `g_counting` is set:
// the growth since counting began and its peak.
bool g_counting = false;
long g_heap_growth = 0;
long g_heap_peak = 0;

void StartCounting() {
  g_heap_growth = g_heap_peak = 0;
  g_counting = true;
}

void CountBlock(void* block, int sign) {
  if (!g_counting || !block) return;
  g_heap_growth += sign * static_cast<long>(malloc_usable_size(block));
  g_heap_peak = std::max(g_heap_peak, g_heap_growth);
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// ---- arxp ----

class ArxpCounter final : public arxp::DefaultHandler {
 public:
  explicit ArxpCounter(Counts& counts) : counts_(counts) {}
  void startElement(const arxp::Xstring&, const arxp::Xstring&, const arxp::Xstring&,
                    const arxp::Attributes&) override {
    ++counts_.elements;
  }
  void characters(const char16_t*, int, int length) override { counts_.characters += length; }

 private:
  Counts& counts_;
};

bool ArxpSax(const DocumentFile& doc, Counts& counts) {
  arxp::SAXParser parser;
  ArxpCounter counter(counts);
  parser.setContentHandler(&counter);
  arxp::InputSource input(doc.path.c_str());
  parser.parse(input);
  return true;
}

long ArxpElements(const arxp::Node* node) {
  long count = node->getNodeType() == arxp::Node::ELEMENT_NODE;
  for (const arxp::Node* child = node->getFirstChild(); child; child = child->getNextSibling())
    count += ArxpElements(child);
  return count;
}

// ---- expat ----

void XMLCALL ExpatStart(void* data, const XML_Char*, const XML_Char**) {
  ++static_cast<Counts*>(data)->elements;
}
void XMLCALL ExpatEnd(void*, const XML_Char*) {}
void XMLCALL ExpatText(void* data, const XML_Char*, int length) {
  static_cast<Counts*>(data)->characters += length;
}

// Shift_JIS for expat, which reads it through an unknown-encoding handler: the
// two-byte codes come from iconv's table.
class ShiftJisForExpat {
 public:
  ShiftJisForExpat() : pairs_(0x10000, -1) {
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsLead(lead)) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (const auto unit = bench::ShiftJisPair(lead, trail)) pairs_[lead << 8 | trail] = *unit;
      }
    }
  }

  static int XMLCALL Handler(void* self, const XML_Char* name, XML_Encoding* info) {
    if (strcasecmp(name, "Shift_JIS") != 0) return XML_STATUS_ERROR;
    for (int b = 0; b < 256; ++b) {
      if (b < 0x80)
        info->map[b] = b;
      else if (b >= 0xA1 && b <= 0xDF)
        info->map[b] = 0xFF61 + b - 0xA1;  // half-width katakana
      else
        info->map[b] = IsLead(b) ? -2 : -1;
    }
    info->data = self;
    info->convert = Convert;
    info->release = nullptr;
    return XML_STATUS_OK;
  }

 private:
  static bool IsLead(int b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
  static int XMLCALL Convert(void* self, const char* s) {
    const auto* table = static_cast<ShiftJisForExpat*>(self);
    return table->pairs_[static_cast<unsigned char>(s[0]) << 8 | static_cast<unsigned char>(s[1])];
  }

  std::vector<int> pairs_;
};

bool ExpatSax(const DocumentFile& doc, Counts& counts) {
  static ShiftJisForExpat shift_jis;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &counts);
  XML_SetElementHandler(parser, ExpatStart, ExpatEnd);
  XML_SetCharacterDataHandler(parser, ExpatText);
  XML_SetUnknownEncodingHandler(parser, ShiftJisForExpat::Handler, &shift_jis);
  std::FILE* file = std::fopen(doc.path.c_str(), "rb");
  bool ok = file != nullptr;
  for (bool last = false; ok && !last;) {
    constexpr int kChunk = 64 * 1024;
    void* buffer = XML_GetBuffer(parser, kChunk);
    const std::size_t got = std::fread(buffer, 1, kChunk, file);
    last = got < kChunk;
    ok = XML_ParseBuffer(parser, static_cast<int>(got), last) == XML_STATUS_OK;
  }
  if (!ok)
    std::fprintf(stderr, "expat: %s: %s\n", doc.path.c_str(),
                 XML_ErrorString(XML_GetErrorCode(parser)));
  if (file) std::fclose(file);
  XML_ParserFree(parser);
  return ok;
}

// ---- libxml2 ----

void LibxmlStart(void* data, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**,
                 int, int, const xmlChar**) {
  ++static_cast<Counts*>(data)->elements;
}
void LibxmlEnd(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void LibxmlText(void* data, const xmlChar*, int length) {
  static_cast<Counts*>(data)->characters += length;
}

bool LibxmlSax(const DocumentFile& doc, Counts& counts) {
  xmlSAXHandler handler{};
  handler.initialized = XML_SAX2_MAGIC;
  handler.startElementNs = LibxmlStart;
  handler.endElementNs = LibxmlEnd;
  handler.characters = LibxmlText;
  return xmlSAXUserParseFile(&handler, &counts, doc.path.c_str()) == 0;
}

long LibxmlElements(const xmlNode* node) {
  long count = 0;
  for (; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE) count += 1 + LibxmlElements(node->children);
  return count;
}

// ---- pugixml ----

long PugixmlElements(const pugi::xml_node& node) {
  long count = node.type() == pugi::node_element;
  for (const pugi::xml_node child : node.children()) count += PugixmlElements(child);
  return count;
}

// ---- the runs ----

// A tree parser run in the child: parses, and returns the tree's element count
// after freeing it, or -1 on failure. `built` is called between the two, with
// the tree still alive.
using DomRun = std::function<long(const DocumentFile&, const std::function<void()>& built)>;

long ArxpDom(const DocumentFile& doc, const std::function<void()>& built) {
  arxp::DOMParser parser;
  arxp::Document* document = parser.parse(doc.path.c_str());
  built();
  const long elements = ArxpElements(document);
  parser.free(document);
  return elements;
}

long LibxmlDom(const DocumentFile& doc, const std::function<void()>& built) {
  xmlDoc* document = xmlReadFile(doc.path.c_str(), nullptr, XML_PARSE_NONET);
  if (!document) return -1;
  built();
  const long elements = LibxmlElements(xmlDocGetRootElement(document));
  xmlFreeDoc(document);
  return elements;
}

long PugixmlDom(const DocumentFile& doc, const std::function<void()>& built) {
  pugi::xml_document document;
  // White space between elements is kept as text, as the other trees keep it.
  const pugi::xml_parse_result result = document.load_file(
      doc.path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata, pugi::encoding_auto);
  if (!result) return -1;
  built();
  const long elements = PugixmlElements(document);
  return elements;
}

using SaxRun = bool (*)(const DocumentFile&, Counts&);

struct SaxParser {
  const char* name;
  SaxRun run;
};

struct DomParser {
  const char* name;
  DomRun run;
  bool reads_shift_jis;
};

struct Figure {
  double seconds = 0;
  long peak_bytes = 0;  // heap peak while building the tree
  long tree_bytes = 0;  // heap holding the built tree
  long elements = 0;
};

std::optional<Figure> TimeSax(const DocumentFile& doc, const SaxParser& parser, int rounds) {
  Figure figure;
  figure.seconds = 1e9;
  for (int round = 0; round < rounds; ++round) {
    Counts counts;
    const double start = ThreadSeconds();
    if (!parser.run(doc, counts)) return std::nullopt;
    figure.seconds = std::min(figure.seconds, ThreadSeconds() - start);
    figure.elements = counts.elements;
  }
  return figure;
}

// Each tree in a child of its own, so that one parser's heap does not carry over
// into another's.
std::optional<Figure> TimeDom(const DocumentFile& doc, const DomParser& parser, int rounds) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return std::nullopt;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    Figure figure;
    // One round for the memory, counted; then the timed rounds, not counted.
    StartCounting();
    const long counted = parser.run(doc, [&figure] { figure.tree_bytes = g_heap_growth; });
    g_counting = false;
    figure.peak_bytes = g_heap_peak;
    figure.seconds = 1e9;
    for (int round = 0; round < rounds && counted >= 0; ++round) {
      double seconds = 0;
      const double start = ThreadSeconds();
      const long elements = parser.run(doc, [&] { seconds = ThreadSeconds() - start; });
      if (elements < 0) _exit(1);
      figure.seconds = std::min(figure.seconds, seconds);
      figure.elements = elements;
    }
    if (counted < 0 || counted != figure.elements) _exit(1);
    const bool sent = write(pipe_ends[1], &figure, sizeof figure) == sizeof figure;
    _exit(sent ? 0 : 1);
  }
  close(pipe_ends[1]);
  Figure figure;
  const bool got = child > 0 && read(pipe_ends[0], &figure, sizeof figure) == sizeof figure;
  close(pipe_ends[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return figure;
}

struct Options {
  int rounds = 3;
  std::size_t scale = 1;
  std::vector<std::string> docs, parsers;  // empty: all
};

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  std::size_t from = 0;
  while (from <= list.size()) {
    const std::size_t comma = std::min(list.find(',', from), list.size());
    items.push_back(list.substr(from, comma - from));
    from = comma + 1;
  }
  return items;
}

bool Wanted(const std::vector<std::string>& list, const std::string& name) {
  return list.empty() || std::find(list.begin(), list.end(), name) != list.end();
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&arg](const char* key) -> std::optional<std::string> {
      const std::size_t n = std::strlen(key);
      if (arg.compare(0, n, key) != 0) return std::nullopt;
      return arg.substr(n);
    };
    if (auto v = value("--rounds=")) {
      options.rounds = std::max(1, std::atoi(v->c_str()));
    } else if (auto v = value("--scale=")) {
      options.scale = std::max(1, std::atoi(v->c_str()));
    } else if (auto v = value("--docs=")) {
      options.docs = SplitList(*v);
    } else if (auto v = value("--parsers=")) {
      options.parsers = SplitList(*v);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--rounds=N] [--scale=DIVISOR] [--docs=records,text,utf16,sjis] "
                   "[--parsers=arxp,expat,libxml2,pugixml]\n",
                   argv[0]);
      return std::nullopt;
    }
  }
  return options;
}

// The temporary directory of the documents, removed at the end.
class TempDir {
 public:
  TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_arxp_parse.XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

DocumentFile Write(const TempDir& dir, const std::string& label, const std::string& bytes,
                   bool shift_jis) {
  DocumentFile doc{label, dir.path() + "/" + label + ".xml",
                   static_cast<double>(bytes.size()) / kMiB, shift_jis};
  std::ofstream out(doc.path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::perror(doc.path.c_str());
    std::exit(1);
  }
  return doc;
}

void PrintGoal(const std::string& name, std::optional<double> ratio) {
  if (ratio)
    std::printf("%s=%.2f x\n", name.c_str(), *ratio);
  else
    std::printf("%s=unmeasured -\n", name.c_str());
}

}  // namespace

// Every allocation of the process, the libraries' included, passes here, so that
// each tree is measured the same way.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);

void* malloc(std::size_t size) {
  void* block = __libc_malloc(size);
  CountBlock(block, 1);
  return block;
}
void* calloc(std::size_t count, std::size_t size) {
  void* block = __libc_calloc(count, size);
  CountBlock(block, 1);
  return block;
}
void* realloc(void* block, std::size_t size) {
  CountBlock(block, -1);
  void* moved = __libc_realloc(block, size);
  // A failed realloc leaves the old block in place.
  CountBlock(moved ? moved : (size ? block : nullptr), 1);
  return moved;
}
void free(void* block) {
  CountBlock(block, -1);
  __libc_free(block);
}
void* memalign(std::size_t alignment, std::size_t size) {
  void* block = __libc_memalign(alignment, size);
  CountBlock(block, 1);
  return block;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  void* block = memalign(alignment, size);
  if (!block) return ENOMEM;
  *out = block;
  return 0;
}
void* valloc(std::size_t size) { return memalign(sysconf(_SC_PAGESIZE), size); }
void* pvalloc(std::size_t size) {
  const std::size_t page = sysconf(_SC_PAGESIZE);
  return memalign(page, (size + page - 1) / page * page);
}
}  // extern "C"

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) return 2;
  xmlInitParser();

  TempDir dir;
  const std::size_t big = (20u << 20) / options->scale, small = (5u << 20) / options->scale;
  struct Source {
    const char* label;
    std::function<std::string()> make;
    bool shift_jis;
  };
  const Source sources[] = {
      {"records", [big] { return bench::RecordDocument(big); }, false},
      {"text", [big] { return bench::TextDocument(big); }, false},
      {"utf16", [small] { return bench::JapaneseDocument(small, "UTF-16"); }, false},
      {"sjis", [small] { return bench::JapaneseDocument(small, "Shift_JIS"); }, true},
  };
  std::vector<DocumentFile> docs;
  for (const Source& source : sources)
    if (Wanted(options->docs, source.label))
      docs.push_back(Write(dir, source.label, source.make(), source.shift_jis));

  const SaxParser sax_parsers[] = {{"arxp", ArxpSax}, {"expat", ExpatSax}, {"libxml2", LibxmlSax}};
  const DomParser dom_parsers[] = {
      {"arxp", ArxpDom, true}, {"libxml2", LibxmlDom, true}, {"pugixml", PugixmlDom, false}};

  std::printf("loadavg_start=%s 1/5/15-min\n", LoadAverage().c_str());
  int failures = 0, goals = 0, goals_met = 0;
  for (const DocumentFile& doc : docs) {
    std::printf("%s_size=%.1f MiB\n", doc.label.c_str(), doc.mib);
    std::map<std::string, Figure> sax, dom;
    std::optional<long> elements;
    auto check = [&](const char* what, const Figure& figure) {
      if (!elements) elements = figure.elements;
      if (*elements == figure.elements) return;
      std::fprintf(stderr, "%s %s: %ld elements, others saw %ld\n", doc.label.c_str(), what,
                   figure.elements, *elements);
      ++failures;
    };
    for (const SaxParser& parser : sax_parsers) {
      if (!Wanted(options->parsers, parser.name)) continue;
      const std::string name = doc.label + "_" + parser.name + "_sax";
      const std::optional<Figure> figure = TimeSax(doc, parser, options->rounds);
      if (!figure) {
        std::printf("%s=failed -\n", name.c_str());
        ++failures;
        continue;
      }
      check(name.c_str(), *figure);
      sax[parser.name] = *figure;
      std::printf("%s=%.1f MiB/s\n", name.c_str(), doc.mib / figure->seconds);
      std::fflush(stdout);
    }
    for (const DomParser& parser : dom_parsers) {
      if (!Wanted(options->parsers, parser.name)) continue;
      const std::string name = doc.label + "_" + parser.name + "_dom";
      if (doc.shift_jis && !parser.reads_shift_jis) {
        std::printf("%s=unsupported (no Shift_JIS reader)\n", name.c_str());
        continue;
      }
      const std::optional<Figure> figure = TimeDom(doc, parser, options->rounds);
      if (!figure) {
        std::printf("%s=failed -\n", name.c_str());
        ++failures;
        continue;
      }
      check(name.c_str(), *figure);
      dom[parser.name] = *figure;
      std::printf("%s=%.1f MiB/s\n", name.c_str(), doc.mib / figure->seconds);
      std::printf("%s_peak=%.1f MiB\n", name.c_str(),
                  static_cast<double>(figure->peak_bytes) / kMiB);
      std::printf("%s_tree=%.1f MiB\n", name.c_str(),
                  static_cast<double>(figure->tree_bytes) / kMiB);
      std::fflush(stdout);
    }
    auto speed = [](const std::map<std::string, Figure>& figures, const char* ours,
                    const char* theirs) -> std::optional<double> {
      if (!figures.count(ours) || !figures.count(theirs)) return std::nullopt;
      return figures.at(theirs).seconds / figures.at(ours).seconds;
    };
    std::optional<double> memory;
    if (dom.count("arxp") && dom.count("libxml2") && dom["arxp"].peak_bytes > 0)
      memory = static_cast<double>(dom["libxml2"].peak_bytes) / dom["arxp"].peak_bytes;
    const std::pair<const char*, std::optional<double>> ratios[] = {
        {"sax_vs_libxml2", speed(sax, "arxp", "libxml2")},
        {"sax_vs_expat", speed(sax, "arxp", "expat")},
        {"dom_vs_libxml2", speed(dom, "arxp", "libxml2")},
        {"mem_vs_libxml2", memory}};
    for (const auto& [goal, ratio] : ratios) {
      PrintGoal(doc.label + "_goal_" + goal, ratio);
      if (!ratio) continue;
      ++goals;
      goals_met += *ratio >= 1.0;
    }
  }
  std::printf("goals_met=%d of %d\n", goals_met, goals);
  std::printf("loadavg_end=%s 1/5/15-min\n", LoadAverage().c_str());
  xmlCleanupParser();
  return failures == 0 ? 0 : 1;
}
