// End to end without the service: a program calling the CBT functions of
// libchanlibNT.so prints through the chanportNT worker and libportio.so to the
// printer simulator.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chanlib/cbt.h"
#include "chanlib/result_codes.h"
#include "e2e_support.h"
#include "printersim/client.h"

namespace {

using namespace std::chrono_literals;

TEST(EndToEndCbt, PrintJobArrivesWhole) {
  std::string error;
  printersim::StartOptions options;
  options.config_text =
      "[printer p1]\nport = USB001\ndevice_id = MFG:Test;MDL:E2E;CMD:1284.4;\ntcp_port = none\n";
  const auto sim = printersim::Simulator::Start(options, &error);
  ASSERT_TRUE(sim) << error;

  const tgx::e2e::Bytes job = tgx::e2e::RandomBytes(1 << 20);

  const std::uint16_t socket = CBT_CreateSocket();
  ASSERT_NE(0xFFFF, socket);
  std::uint8_t bind[28] = {};
  std::string("USB001").copy(reinterpret_cast<char*>(bind + 4), 19);
  ASSERT_EQ(tgx::chanlib::kOk, CBT_Bind(socket, bind));
  std::uint8_t connect[26] = {};
  connect[2] = 0x10;
  ASSERT_EQ(0, CBT_Connect(socket, connect));

  std::size_t sent = 0;
  while (sent < job.size()) {
    const int n = CBT_Send(socket, job.data() + sent, static_cast<int>(job.size() - sent));
    ASSERT_GE(n, 0);
    sent += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(tgx::chanlib::kOk, CBT_CloseSocket(socket));  // waits for the queue to drain
  ASSERT_TRUE(sim->WaitForCounter("p1", "jobs.ended", 1, 20s));
  const auto counters = sim->Counters("p1");
  EXPECT_EQ(std::to_string(job.size()), counters.at("job.bytes"));
  EXPECT_EQ(printersim::JobSha256(job), counters.at("job.sha256"));
}

}  // namespace
