// The port monitor socket, as the simulator monitor plug-in uses it.
#include <chrono>

#include "printersim/wire.h"
#include "sim_fixture.h"
#include "tgx/wire/sim_monitor.h"

using namespace hostside;
namespace monitor = tgx::wire::sim_monitor;
namespace wire = printersim::wire;

namespace {

struct Reply {
  std::uint8_t op = 0;
  std::uint32_t status = 0xFFFFFFFF;
  Bytes payload;
};

std::optional<Reply> Request(Port& port, std::uint8_t op, const Bytes& payload) {
  Bytes frame(monitor::kRequestHeaderSize);
  wire::StoreLe32(frame.data(), static_cast<std::uint32_t>(1 + payload.size()));
  frame[monitor::kLengthSize] = op;
  frame.insert(frame.end(), payload.begin(), payload.end());
  if (!port.Write(frame)) return std::nullopt;
  Bytes header = port.Read(monitor::kReplyHeaderSize);
  if (header.size() != monitor::kReplyHeaderSize) return std::nullopt;
  const std::uint32_t length = wire::LoadLe32(header.data());
  Reply reply{header[monitor::kLengthSize], wire::LoadLe32(&header[monitor::kRequestHeaderSize]),
              port.Read(length - 5)};
  return reply;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes WritePayload(std::uint32_t timeout_ms, const Bytes& data) {
  Bytes payload(4);
  wire::StoreLe32(payload.data(), timeout_ms);
  payload.insert(payload.end(), data.begin(), data.end());
  return payload;
}

Bytes ReadPayload(std::uint32_t max, std::uint32_t timeout_ms) {
  Bytes payload(8);
  wire::StoreLe32(&payload[0], max);
  wire::StoreLe32(&payload[4], timeout_ms);
  return payload;
}

}  // namespace

class MonitorTest : public SimTest {
 protected:
  Port Connect() {
    auto port = Port::ConnectUnix(sim_->monitor_path());
    EXPECT_TRUE(port);
    return port ? std::move(*port) : Port(-1);
  }
};

TEST_F(MonitorTest, OpensByNameOnceAndAnswersTheDeviceId) {
  Start(kPacketPrinter);
  Port a = Connect();
  EXPECT_EQ(Request(a, monitor::kRead, ReadPayload(1, 0))->status, 6u);  // nothing open
  EXPECT_EQ(Request(a, monitor::kOpen, Text("nosuch"))->status, 2u);
  auto open = Request(a, monitor::kOpen, Text("p"));
  ASSERT_TRUE(open);
  EXPECT_EQ(open->op, monitor::kOpen | monitor::kReplyBit);
  EXPECT_EQ(open->status, 0u);
  EXPECT_EQ(Request(a, monitor::kOpen, Text("p"))->status, 87u);
  Port b = Connect();
  EXPECT_EQ(Request(b, monitor::kOpen, Text("p"))->status, 170u);
  auto id = Request(a, monitor::kGetDeviceId, {});
  ASSERT_TRUE(id);
  EXPECT_EQ(id->payload, Text("MFG:Arvona;MDL:TG-1;CMD:1284.4,PJL;CLS:PRINTER;"));
  EXPECT_EQ(Request(a, 0x77, {})->status, 1u);
  EXPECT_EQ(Request(a, monitor::kClose, {})->status, 0u);
  EXPECT_EQ(Request(b, monitor::kOpen, Text("p"))->status, 0u);
}

TEST_F(MonitorTest, WritesAndReadsCarryTheConversation) {
  Start(kPacketPrinter);
  Port port = Connect();
  ASSERT_EQ(Request(port, monitor::kOpen, Text("p"))->status, 0u);
  auto written = Request(port, monitor::kWrite, WritePayload(1000, Init(1)));
  ASSERT_TRUE(written);
  EXPECT_EQ(written->status, 0u);
  EXPECT_EQ(wire::LoadLe32(written->payload.data()), 8u);
  auto head = Request(port, monitor::kRead, ReadPayload(4, 1000));
  ASSERT_TRUE(head);
  EXPECT_EQ(head->payload, (Bytes{0, 0, 0, 9}));
  auto rest = Request(port, monitor::kRead, ReadPayload(100, 1000));
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->payload, (Bytes{1, 0, 0x80, 0, 1}));
  auto nothing = Request(port, monitor::kRead, ReadPayload(100, 100));
  ASSERT_TRUE(nothing);
  EXPECT_EQ(nothing->status, 1460u);
  EXPECT_TRUE(nothing->payload.empty());
  EXPECT_EQ(Counter("monitor.opens"), 1u);
}

TEST_F(MonitorTest, AStalledPrinterTimesWritesOut) {
  Start(kPacketPrinter);
  Port port = Connect();
  ASSERT_EQ(Request(port, monitor::kOpen, Text("p"))->status, 0u);
  ASSERT_TRUE(sim_->Fault("p", "stall on"));
  auto timed_out = Request(port, monitor::kWrite, WritePayload(100, Init(1)));
  ASSERT_TRUE(timed_out);
  EXPECT_EQ(timed_out->status, 1460u);
  EXPECT_EQ(wire::LoadLe32(timed_out->payload.data()), 0u);
  EXPECT_EQ(Counter("host.bytes_in"), 0u);
}

TEST_F(MonitorTest, AWriteHeldByAStallGoesOnWhenReleased) {
  Start(kPacketPrinter);
  Port port = Connect();
  ASSERT_EQ(Request(port, monitor::kOpen, Text("p"))->status, 0u);
  ASSERT_TRUE(sim_->Fault("p", "stall on"));
  Bytes frame(monitor::kRequestHeaderSize);
  const Bytes payload = WritePayload(10000, Init(1));
  wire::StoreLe32(frame.data(), static_cast<std::uint32_t>(1 + payload.size()));
  frame[monitor::kLengthSize] = monitor::kWrite;
  frame.insert(frame.end(), payload.begin(), payload.end());
  ASSERT_TRUE(port.Write(frame));
  EXPECT_TRUE(port.ReadAvailable(std::chrono::milliseconds(100)).empty());
  ASSERT_TRUE(sim_->Fault("p", "stall off"));
  Bytes reply = port.Read(monitor::kReplyHeaderSize + 4);
  ASSERT_EQ(reply.size(), monitor::kReplyHeaderSize + 4);
  EXPECT_EQ(wire::LoadLe32(&reply[monitor::kRequestHeaderSize]), 0u);
}

TEST_F(MonitorTest, HangupClosesTheConnectionAndUnknownsTheName) {
  Start(kPacketPrinter);
  Port port = Connect();
  ASSERT_EQ(Request(port, monitor::kOpen, Text("p"))->status, 0u);
  ASSERT_TRUE(sim_->Fault("p", "hangup"));
  EXPECT_TRUE(port.ReadAvailable(std::chrono::milliseconds(1000)).empty());  // end of file
  Port again = Connect();
  EXPECT_EQ(Request(again, monitor::kOpen, Text("p"))->status, 2u);
}

TEST_F(MonitorTest, AnOversizedFrameClosesTheConnection) {
  Start(kPacketPrinter);
  Port port = Connect();
  Bytes frame(5);
  wire::StoreLe32(frame.data(), monitor::kMaxFrame + 1);
  frame[4] = monitor::kWrite;
  ASSERT_TRUE(port.Write(frame));
  EXPECT_TRUE(port.ReadAvailable(std::chrono::milliseconds(1000)).empty());
  Port fresh = Connect();
  EXPECT_EQ(Request(fresh, monitor::kOpen, Text("p"))->status, 0u);
}
