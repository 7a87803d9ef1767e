// The control socket, the client library and start-up.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>

#include "sim_fixture.h"

using namespace hostside;
using Clock = std::chrono::steady_clock;

class ControlTest : public SimTest {};

TEST_F(ControlTest, DevicesArePresentWithinAHundredMilliseconds) {
  // The best of a few starts, so that a loaded machine does not decide the result.
  auto best = std::chrono::milliseconds::max();
  for (int i = 0; i < 5; ++i) {
    printersim::StartOptions options;
    options.config_text = std::string(kPacketPrinter) + "ppdt = fw\n";
    options.root = tgx::test::MakeTempDir("start");
    std::string error;
    const auto start = Clock::now();
    auto sim = printersim::Simulator::Start(options, &error);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    ASSERT_NE(sim, nullptr) << error;
    ASSERT_TRUE(std::filesystem::exists(options.root / "dev/usb/lp0"));
    ASSERT_TRUE(std::filesystem::exists(options.root / "dev/ppdt/fw"));
    best = std::min(best, took);
  }
  EXPECT_LT(best.count(), 100);
}

TEST_F(ControlTest, ListsPrintersWithTheirEndpoints) {
  Start(std::string(kPacketPrinter) +
        "ppdt = fw\n[printer q]\nport = LPT3\ndevice_id = CMD:PCL;\ntcp_port = none\n");
  auto p = sim_->Info("p");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->port, "USB001");
  EXPECT_EQ(p->device, Root() / "dev/usb/lp0");
  EXPECT_EQ(p->protocol, "1284.4");
  EXPECT_NE(p->tcp_port, 0);
  EXPECT_EQ(p->ppdt, Root() / "dev/ppdt/fw");
  EXPECT_EQ(p->monitor, sim_->monitor_path());
  EXPECT_TRUE(p->present);
  auto q = sim_->Info("q");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->port, "LPT3");
  EXPECT_EQ(q->device, Root() / "dev/lp2");
  EXPECT_EQ(q->protocol, "raw");
  EXPECT_EQ(q->tcp_port, 0);
  EXPECT_FALSE(sim_->Info("r"));
}

TEST_F(ControlTest, BadCommandsAnswerErrorsAndTheConnectionGoesOn) {
  Start(kPacketPrinter);
  std::string error;
  EXPECT_FALSE(sim_->Command("frobnicate", &error));
  EXPECT_NE(error.find("unknown command"), std::string::npos);
  EXPECT_FALSE(sim_->Command("counters nosuch", &error));
  EXPECT_NE(error.find("no printer"), std::string::npos);
  EXPECT_FALSE(sim_->Fault("p", "credit lavish", &error));
  EXPECT_FALSE(sim_->Fault("p", "slow forever", &error));
  EXPECT_FALSE(sim_->Fault("p", "refuse 0x999 3", &error));
  EXPECT_FALSE(sim_->Send("p", "open 1", &error));
  EXPECT_FALSE(sim_->Command("notify p zz", &error));
  EXPECT_FALSE(sim_->Command("", &error));
  auto help = sim_->Command("help");
  ASSERT_TRUE(help);
  EXPECT_GT(help->size(), 5u);
}

TEST_F(ControlTest, ResetForgetsCountersAndTheSink) {
  Start(std::string(kPacketPrinter) + "protocol = raw\n");
  {
    Port port = OpenUsb();
    port.Write({1, 2, 3});
  }
  ASSERT_TRUE(WaitCounter("sink.bytes", 3));
  ASSERT_TRUE(sim_->Command("reset p"));
  const auto counters = sim_->Counters("p");
  EXPECT_EQ(counters.at("sink.bytes"), "0");
  EXPECT_EQ(counters.at("job.sha256"),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(counters.count("host.bytes_in"), 0u);
}

TEST_F(ControlTest, RawPrintersRefusePacketFaults) {
  Start("[printer p]\nport = USB002\ndevice_id = CMD:PCL;\n");
  std::string error;
  EXPECT_FALSE(sim_->Fault("p", "error", &error));
  EXPECT_NE(error.find("raw printer"), std::string::npos);
  EXPECT_TRUE(sim_->Fault("p", "stall on"));
}

TEST_F(ControlTest, ABadConfigurationFailsTheStartWithAReason) {
  printersim::StartOptions options;
  options.config_text = "[printer p]\nport = USB000\n";
  options.root = tgx::test::MakeTempDir("bad");
  std::string error;
  EXPECT_EQ(printersim::Simulator::Start(options, &error), nullptr);
  EXPECT_NE(error.find("status 2"), std::string::npos) << error;
}

TEST_F(ControlTest, StopRemovesEveryDeviceAndSocket) {
  Start(std::string(kPacketPrinter) + "ppdt = fw\n");
  const auto root = Root();
  const int status = sim_->Stop();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(std::filesystem::exists(root / "dev/usb/lp0"));
  EXPECT_FALSE(std::filesystem::exists(root / "sys/class/usbmisc/lp0"));
  EXPECT_FALSE(std::filesystem::exists(root / "dev/ppdt/fw"));
  EXPECT_FALSE(std::filesystem::exists(root / "run/printersim/control"));
  EXPECT_FALSE(std::filesystem::exists(root / "run/printersim/monitor"));
}

TEST_F(ControlTest, SigtermStopsTheSimulatorCleanly) {
  Start(kPacketPrinter);
  kill(sim_->pid(), SIGTERM);
  const int status = sim_->Stop();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_FALSE(std::filesystem::exists(Root() / "dev/usb/lp0"));
}

TEST_F(ControlTest, AnswersWrittenBeforeStopReachAHostThatStillHoldsTheDevice) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  port.Write(Init(1));
  ASSERT_TRUE(WaitCounter("command.Init", 1));
  ASSERT_TRUE(sim_->Command("quit"));
  auto reply = port.ReadPacket();  // the master stays open until this read
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->code(), 0x80);
}
