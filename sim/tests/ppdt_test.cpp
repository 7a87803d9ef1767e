// The IEEE 1394 device socket: the device control codes, one request and one
// answer each, as the 1394 transport's backend sends them.
#include <chrono>
#include <thread>

#include "sim_fixture.h"
#include "tgx/wire/ppdt_device.h"

using namespace hostside;
namespace ppdt = tgx::wire::ppdt_device;

namespace {

struct Answer {
  std::uint32_t status = 0xFFFFFFFF;
  std::uint32_t returned = 0;
  Bytes data;
};

std::optional<Answer> ReadAnswer(Port& port) {
  Bytes header = port.Read(ppdt::kAnswerHeaderSize);
  ppdt::AnswerHeader h;
  if (header.size() != ppdt::kAnswerHeaderSize || !ppdt::ReadAnswerHeader(header.data(), h)) {
    return std::nullopt;
  }
  Answer answer{h.status, h.bytes_returned, port.Read(h.data_length)};
  if (answer.data.size() != h.data_length) return std::nullopt;
  return answer;
}

std::optional<Answer> Control(Port& port, std::uint32_t code, const Bytes& input = {},
                              std::uint32_t output_length = 0, const Bytes& output_data = {}) {
  Bytes frame(ppdt::kRequestHeaderSize);
  ppdt::WriteRequestHeader(frame.data(),
                           {code, static_cast<std::uint32_t>(input.size()), output_length,
                            static_cast<std::uint32_t>(output_data.size())});
  frame.insert(frame.end(), input.begin(), input.end());
  frame.insert(frame.end(), output_data.begin(), output_data.end());
  if (!port.Write(frame)) return std::nullopt;
  return ReadAnswer(port);
}

constexpr const char* kDevice =
    "[printer p]\n"
    "ppdt = fw0\n"
    "device_id = MFG:Arvona;MDL:F-30;CMD:1284.4;CLS:PRINTER;\n"
    "answer.3 = 0A 0B\n";

}  // namespace

class PpdtTest : public SimTest {
 protected:
  Port OpenDevice() {
    auto port = Port::ConnectUnix(Root() / "dev/ppdt/fw0");
    EXPECT_TRUE(port);
    if (!port) return Port(-1);
    auto open = ReadAnswer(*port);
    EXPECT_TRUE(open && open->status == 0);
    return std::move(*port);
  }
};

TEST_F(PpdtTest, OpensExclusivelyAndAnswersTheDeviceId) {
  Start(kDevice);
  Port device = OpenDevice();
  auto second = Port::ConnectUnix(Root() / "dev/ppdt/fw0");
  ASSERT_TRUE(second);
  auto refused = ReadAnswer(*second);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 32u);
  auto id = Control(device, ppdt::kGetDeviceId, {}, 256);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->status, 0u);
  EXPECT_EQ(std::string(id->data.begin(), id->data.end()),
            "MFG:Arvona;MDL:F-30;CMD:1284.4;CLS:PRINTER;");
  EXPECT_EQ(id->returned, id->data.size());
  auto cut = Control(device, ppdt::kGetDeviceId, {}, 4);
  ASSERT_TRUE(cut);
  EXPECT_EQ(std::string(cut->data.begin(), cut->data.end()), "MFG:");
}

TEST_F(PpdtTest, JobSessionWritesFlushesAndCloses) {
  Start(std::string(kDevice) + "ppdt_flush_delay_ms = 1500\n");
  Port device = OpenDevice();
  EXPECT_EQ(Control(device, ppdt::kJobWrite, {}, 3, {1, 2, 3})->status, 1u);  // no job open
  EXPECT_EQ(Control(device, ppdt::kJobOpen)->status, 0u);
  EXPECT_EQ(Control(device, ppdt::kJobOpen)->status, 170u);
  const Bytes data(ppdt::kMaxBuffer, 0x77);
  const auto written_at = std::chrono::steady_clock::now();
  auto write = Control(device, ppdt::kJobWrite, {}, ppdt::kMaxBuffer, data);
  ASSERT_TRUE(write);
  EXPECT_EQ(write->status, 0u);
  EXPECT_EQ(write->returned, ppdt::kMaxBuffer);
  EXPECT_TRUE(write->data.empty());
  auto early = Control(device, ppdt::kJobFlush, {}, 1);
  ASSERT_TRUE(early);
  ASSERT_EQ(early->data.size(), 1u);
  EXPECT_EQ(early->data[0], 0);  // not delivered yet
  // Poll as the transport does (with a pause here) until the byte turns nonzero.
  std::optional<Answer> flushed;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    flushed = Control(device, ppdt::kJobFlush, {}, 1);
    ASSERT_TRUE(flushed);
    ASSERT_EQ(flushed->returned, 1u);
  } while (flushed->data[0] == 0 &&
           std::chrono::steady_clock::now() - written_at < std::chrono::seconds(10));
  EXPECT_EQ(flushed->data, Bytes{1});
  EXPECT_GE(std::chrono::steady_clock::now() - written_at, std::chrono::milliseconds(1500));
  EXPECT_EQ(Control(device, ppdt::kJobClose)->status, 0u);
  EXPECT_EQ(Counter("job.bytes"), ppdt::kMaxBuffer);
  EXPECT_EQ(Counter("jobs.ended"), 1u);
  EXPECT_GE(Counter("ppdt.flush_polls"), 2u);
}

TEST_F(PpdtTest, CancelEndsTheJobAndDiscardsLaterWrites) {
  Start(kDevice);
  Port device = OpenDevice();
  ASSERT_EQ(Control(device, ppdt::kJobOpen)->status, 0u);
  ASSERT_EQ(Control(device, ppdt::kJobWrite, {}, 2, {1, 2})->status, 0u);
  ASSERT_EQ(Control(device, ppdt::kJobCancel)->status, 0u);
  ASSERT_EQ(Control(device, ppdt::kJobWrite, {}, 2, {3, 4})->status, 0u);
  ASSERT_EQ(Control(device, ppdt::kJobClose)->status, 0u);
  EXPECT_EQ(Counter("jobs.cancelled"), 1u);
  EXPECT_EQ(Counter("job.bytes"), 2u);
  EXPECT_EQ(Counter("ppdt.discarded_bytes"), 2u);
}

TEST_F(PpdtTest, AdministrationAndResourceSessionsAnswerWritesOnRead) {
  Start(kDevice);
  Port device = OpenDevice();
  EXPECT_EQ(Control(device, ppdt::kAdminWrite, DevicePacket(4, 3, 9, {}))->status, 1u);
  for (auto [open, write, read, close] :
       {std::array{ppdt::kAdminOpen, ppdt::kAdminWrite, ppdt::kAdminRead, ppdt::kAdminClose},
        std::array{ppdt::kResOpen, ppdt::kResWrite, ppdt::kResRead, ppdt::kResClose}}) {
    ASSERT_EQ(Control(device, open)->status, 0u);
    EXPECT_EQ(Control(device, open)->status, 170u);
    const Bytes request = DevicePacket(4, 3, 9, {});
    auto written = Control(device, write, request);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->returned, request.size());
    auto head = Control(device, read, {}, 10);  // a read takes at most the caller's size
    ASSERT_TRUE(head);
    EXPECT_EQ(head->returned, 10u);
    auto rest = Control(device, read, {}, 100);
    ASSERT_TRUE(rest);
    ASSERT_EQ(rest->data.size(), 12u);
    EXPECT_EQ(Bytes(rest->data.begin(), rest->data.begin() + 10),  // carried bytes
              Bytes(request.begin() + 10, request.begin() + 20));
    EXPECT_EQ(head->data[3], 0x01);  // answer flag
    EXPECT_EQ(head->data[7], 9);     // transaction id
    EXPECT_EQ(Bytes(rest->data.end() - 2, rest->data.end()), (Bytes{0x0A, 0x0B}));
    auto empty = Control(device, read, {}, 100);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 0u);
    EXPECT_EQ(empty->returned, 0u);
    EXPECT_EQ(Control(device, close)->status, 0u);
  }
}

TEST_F(PpdtTest, RefusalsCarryTheConfiguredWin32Errors) {
  Start(std::string(kDevice) + "ppdt_refuse = 0x00222F08:55\n");
  Port device = OpenDevice();
  EXPECT_EQ(Control(device, ppdt::kJobOpen)->status, 55u);
  ASSERT_TRUE(sim_->Fault("p", "ppdt-refuse 0x0016000C 170"));
  EXPECT_EQ(Control(device, ppdt::kGetDeviceId, {}, 10)->status, 170u);
  ASSERT_TRUE(sim_->Fault("p", "ppdt-refuse 0x00222F08 0"));
  EXPECT_EQ(Control(device, ppdt::kJobOpen)->status, 0u);
  EXPECT_EQ(Control(device, 0x00229999)->status, 1u);
  EXPECT_EQ(Counter("ppdt.refused"), 2u);
}

TEST_F(PpdtTest, StallHoldsJobWritesAndFlushUntilReleased) {
  Start(kDevice);
  Port device = OpenDevice();
  ASSERT_EQ(Control(device, ppdt::kJobOpen)->status, 0u);
  ASSERT_TRUE(sim_->Fault("p", "stall on"));
  Bytes frame(ppdt::kRequestHeaderSize);
  ppdt::WriteRequestHeader(frame.data(), {ppdt::kJobWrite, 0, 1, 1});
  frame.push_back(7);
  ASSERT_TRUE(device.Write(frame));
  EXPECT_TRUE(device.ReadAvailable(std::chrono::milliseconds(200)).empty());
  ASSERT_TRUE(sim_->Fault("p", "stall off"));
  auto answer = ReadAnswer(device);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->returned, 1u);
}

TEST_F(PpdtTest, ABrokenFrameClosesTheConnectionAndIsCounted) {
  Start(kDevice);
  Port device = OpenDevice();
  Bytes frame(ppdt::kRequestHeaderSize);
  ppdt::WriteRequestHeader(frame.data(), {ppdt::kJobOpen, ppdt::kMaxBuffer + 1, 0, 0});
  ASSERT_TRUE(device.Write(frame));
  EXPECT_TRUE(device.ReadAvailable(std::chrono::milliseconds(2000)).empty());
  EXPECT_TRUE(WaitCounter("violation.ppdt_bad_frame", 1));
  // The device is free again.
  Port again = OpenDevice();
  EXPECT_EQ(Control(again, ppdt::kJobOpen)->status, 0u);
}

TEST_F(PpdtTest, HangupRemovesTheDeviceSocket) {
  Start(kDevice);
  Port device = OpenDevice();
  ASSERT_TRUE(sim_->Fault("p", "hangup"));
  EXPECT_FALSE(std::filesystem::exists(Root() / "dev/ppdt/fw0"));
  EXPECT_TRUE(device.ReadAvailable(std::chrono::milliseconds(1000)).empty());
  EXPECT_FALSE(Port::ConnectUnix(Root() / "dev/ppdt/fw0"));
}
