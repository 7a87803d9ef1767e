// The device-ID query of the raw network port: the scanner that takes it out
// of the host's stream, its configuration, and the TCP endpoint answering it.
#include <fstream>
#include <iterator>
#include <random>

#include "config.h"
#include "id_query.h"
#include "sim_fixture.h"

using namespace hostside;
using printersim::DeviceIdQueryScanner;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// What the scanner made of a stream fed in the given pieces.
struct Scanned {
  Bytes data;
  std::size_t queries = 0;
  // Where in data each query was found.
  std::vector<std::size_t> query_offsets;
};

Scanned Scan(const Bytes& query, const std::vector<Bytes>& pieces) {
  DeviceIdQueryScanner scanner(query);
  Scanned out;
  auto on_data = [&out](std::span<const std::uint8_t> bytes) {
    EXPECT_FALSE(bytes.empty());
    out.data.insert(out.data.end(), bytes.begin(), bytes.end());
  };
  for (const Bytes& piece : pieces) {
    scanner.Feed(piece, on_data, [&out] {
      ++out.queries;
      out.query_offsets.push_back(out.data.size());
    });
  }
  scanner.Finish(on_data);
  return out;
}

// The same by plain searching: each leftmost occurrence goes, the search goes
// on behind it.
Scanned Reference(const Bytes& query, const Bytes& stream) {
  Scanned out;
  auto from = stream.begin();
  for (;;) {
    const auto at = std::search(from, stream.end(), query.begin(), query.end());
    out.data.insert(out.data.end(), from, at);
    if (at == stream.end()) return out;
    ++out.queries;
    out.query_offsets.push_back(out.data.size());
    from = at + static_cast<std::ptrdiff_t>(query.size());
  }
}

}  // namespace

TEST(IdQueryScannerTest, TakesQueriesOutWhereverTheStreamIsSplit) {
  const Bytes query = Text("\x1b*ID?\r\n");
  const Bytes stream = Text("job one\x1b*ID?\r\njob two\x1b*\x1b*ID?\r\n\x1b*ID?\r\n\x1b*ID");
  const Scanned expected = Reference(query, stream);
  ASSERT_EQ(expected.queries, 3u);
  EXPECT_EQ(expected.data, Text("job onejob two\x1b*\x1b*ID"));
  // Every place for one cut, and byte by byte.
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    const Scanned got = Scan(query, {Bytes(stream.begin(), stream.begin() + cut),
                                     Bytes(stream.begin() + cut, stream.end())});
    EXPECT_EQ(got.data, expected.data) << "cut at " << cut;
    EXPECT_EQ(got.query_offsets, expected.query_offsets) << "cut at " << cut;
  }
  std::vector<Bytes> bytes;
  for (std::uint8_t b : stream) bytes.push_back({b});
  const Scanned got = Scan(query, bytes);
  EXPECT_EQ(got.data, expected.data);
  EXPECT_EQ(got.query_offsets, expected.query_offsets);
}

TEST(IdQueryScannerTest, SelfOverlappingQueriesMatchAPlainSearch) {
  // Queries whose prefixes recur inside them, over streams of their own letters,
  // in random pieces.
  std::mt19937 random(7);
  for (const std::string text : {"aab", "abab", "abaab", "aaaa", "a", "abcabd"}) {
    const Bytes query = Text(text);
    for (int round = 0; round < 200; ++round) {
      Bytes stream(random() % 40);
      for (auto& b : stream) b = static_cast<std::uint8_t>('a' + random() % 3);
      std::vector<Bytes> pieces;
      for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 5, stream.size() - at);
        pieces.emplace_back(stream.begin() + at, stream.begin() + at + n);
        at += n;
      }
      const Scanned expected = Reference(query, stream);
      const Scanned got = Scan(query, pieces);
      ASSERT_EQ(got.data, expected.data)
          << text << " in " << std::string(stream.begin(), stream.end());
      ASSERT_EQ(got.query_offsets, expected.query_offsets) << text;
    }
  }
}

TEST(IdQueryScannerTest, ConfigurationTakesHexBytesAndRefusesBadOnes) {
  auto config = printersim::ParseConfig("[printer a]\ntcp_id_query = 1b 2a 49:44\n");
  ASSERT_TRUE(config.config) << config.error;
  EXPECT_EQ(config.config->printers[0].tcp_id_query, (Bytes{0x1b, 0x2a, 0x49, 0x44}));
  config = printersim::ParseConfig("[printer a]\n");
  ASSERT_TRUE(config.config);
  EXPECT_TRUE(config.config->printers[0].tcp_id_query.empty());
  for (const std::string& bad : {std::string("1b 2"), std::string("ID?"), std::string(514, 'a')}) {
    config = printersim::ParseConfig("[printer a]\ntcp_id_query = " + bad + "\n");
    EXPECT_FALSE(config.config) << bad;
    EXPECT_NE(config.error.find("line 2: tcp_id_query"), std::string::npos) << config.error;
  }
  config = printersim::ParseConfig("[printer a]\ntcp_id_query = " + std::string(512, 'a') + "\n");
  EXPECT_TRUE(config.config) << "256 bytes is the most: " << config.error;
}

class TcpIdQueryTest : public SimTest {
 protected:
  static constexpr const char* kId = "MFG:Arvona;MDL:TX-2;CMD:PCL;";
  const std::string kQuery = "\x1b*ID?\r\n";

  Port Connect(const std::string& extra) {
    job_file_ = tgx::test::MakeTempDir("job") / "job";
    Start(std::string("[printer p]\nport = none\ndevice_id = ") + kId +
          "\njob_file = " + job_file_.string() + "\n" + extra);
    const auto info = sim_->Info("p");
    EXPECT_TRUE(info && info->tcp_port != 0);
    auto port = Port::ConnectTcp(info ? info->tcp_port : 0);
    EXPECT_TRUE(port);
    return port ? std::move(*port) : Port(-1);
  }
  std::string Job() const {
    std::ifstream in(job_file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path job_file_;
};

TEST_F(TcpIdQueryTest, TheQueryIsAnsweredWithTheIdAndAFormFeedAndLeftOutOfTheJob) {
  Port port = Connect("tcp_id_query = 1b 2a 49 44 3f 0d 0a\n");
  ASSERT_TRUE(port.Write(Text("%!PS page 1\n" + kQuery.substr(0, 3))));
  // The rest of the query in a later segment: the answer waits for it.
  EXPECT_TRUE(port.ReadAvailable(100ms).empty());
  ASSERT_TRUE(port.Write(Text(kQuery.substr(3) + "%!PS page 2\n")));
  const std::string answer = std::string(kId) + "\f";
  const Bytes got = port.Read(answer.size());
  EXPECT_EQ(std::string(got.begin(), got.end()), answer);
  // A query's beginning at the very end of the job was job data after all.
  ASSERT_TRUE(port.Write(Text(kQuery + "tail" + kQuery.substr(0, 4))));
  EXPECT_EQ(port.Read(answer.size()).size(), answer.size());
  { Port closing = std::move(port); }
  ASSERT_TRUE(WaitCounter("jobs.ended", 1));
  EXPECT_EQ(Counter("tcp.id_queries"), 2u);
  EXPECT_EQ(Job(), "%!PS page 1\n%!PS page 2\ntail" + kQuery.substr(0, 4));
  EXPECT_EQ(Counter("job.bytes"), Job().size());
}

TEST_F(TcpIdQueryTest, WithoutAConfiguredQueryEveryByteIsJobData) {
  Port port = Connect("");
  ASSERT_TRUE(port.Write(Text("job" + kQuery)));
  EXPECT_TRUE(port.ReadAvailable(200ms).empty());
  { Port closing = std::move(port); }
  ASSERT_TRUE(WaitCounter("jobs.ended", 1));
  EXPECT_EQ(Job(), "job" + kQuery);
  EXPECT_EQ(Counter("tcp.id_queries"), 0u);
}
