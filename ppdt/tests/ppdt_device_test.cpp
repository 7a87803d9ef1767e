// The transport end to end, against printers played by printersim: ports
// shared between handles and processes, the worker's lifetime, sessions, the
// read-after-write rule across processes, job data at the printer, and a
// worker killed in the middle of a request.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "client_process.h"
#include "ppdt_probe.h"
#include "printersim/client.h"
#include "tgx/ppdt.h"

namespace tgx::ppdt::test {
namespace {

constexpr char kDeviceId[] = "MFG:Tessagraph;MDL:TG-1394;CMD:PJL;CLS:PRINTER;";

// An administration request the printer answers (management packet layout:
// magic 0xCDCA, version 0x10, flags "expects answer", opcode 1, transaction 7,
// no payload), and its length as the printer answers it.
constexpr char kManagementRequest[] = "cdca100400010007000000000000000000000000";
constexpr std::uint32_t kManagementAnswerSize = 20;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char digits[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

class PpdtDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jobFile_ = tgx::test::MakeTempDir("job") / "job.bin";
    std::ostringstream config;
    config << "[printer p1]\nport = none\nppdt = PRN1394\ndevice_id = " << kDeviceId
           << "\njob_file = " << jobFile_.string() << "\nppdt_flush_delay_ms = 100\n";
    for (int i = 2; i <= 6; ++i)
      config << "[printer p" << i << "]\nport = none\nppdt = D" << i << "\n";
    printersim::StartOptions options;
    options.config_text = config.str();
    std::string error;
    sim_ = printersim::Simulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
  }

  void TearDown() override {
    PPDT_Terminate();
    // No worker outlives its test: each ends once no process uses its port.
    EXPECT_TRUE(Eventually([] { return WorkerPids().empty(); }));
  }

  std::uint64_t Calls(std::uint32_t controlCode, const std::string& printer = "p1") {
    char name[40];
    std::snprintf(name, sizeof name, "ppdt.code.%08X", controlCode);
    return sim_->Counter(printer, name);
  }

  PPDT_HANDLE Open(const char* name) {
    PPDT_HANDLE handle = nullptr;
    EXPECT_EQ(PPDT_OpenPort(name, &handle), PPDT_OK) << name;
    return handle;
  }

  std::filesystem::path jobFile_;
  std::unique_ptr<printersim::Simulator> sim_;
};

TEST_F(PpdtDeviceTest, NamesDifferingInCaseShareOneEntryAndOneWorker) {
  PPDT_HANDLE first = Open("PRN1394");
  PPDT_HANDLE second = Open("prn1394");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  TableSnapshot table = ReadTable();
  EXPECT_EQ(table.counts[0], 2u);
  EXPECT_EQ(table.names[0], "PRN1394");
  EXPECT_EQ(table.counts[1], 0u);
  const std::vector<pid_t> workers = WorkerPids();
  EXPECT_EQ(workers.size(), 1u);

  EXPECT_EQ(PPDT_ClosePort(first), PPDT_OK);
  EXPECT_EQ(ReadTable().counts[0], 1u);
  char id[128];
  std::uint32_t count = 0;
  EXPECT_EQ(PPDT_GetDeviceID(second, id, sizeof id, &count), PPDT_OK) << "the device stays open";
  EXPECT_EQ(std::string(id, count), kDeviceId);
  EXPECT_EQ(WorkerPids(), workers);

  EXPECT_EQ(PPDT_ClosePort(second), PPDT_OK);
  EXPECT_EQ(ReadTable().counts[0], 0u);
  EXPECT_FALSE(CallingProcessMutexExists(0));
  EXPECT_TRUE(Eventually([] { return !WorkerPresent(0) && WorkerPids().empty(); }));
  EXPECT_EQ(PPDT_ClosePort(second), PPDT_E_HANDLE);
}

TEST_F(PpdtDeviceTest, ASixthNameFindsNoPortAndChangesNothing) {
  std::vector<PPDT_HANDLE> handles = {Open("PRN1394"), Open("D2"), Open("D3"), Open("D4"),
                                      Open("D5")};
  const TableSnapshot before = ReadTable();
  PPDT_HANDLE sixth = nullptr;
  EXPECT_EQ(PPDT_OpenPort("D6", &sixth), PPDT_E_NO_PORT);
  EXPECT_EQ(sixth, nullptr);
  const TableSnapshot after = ReadTable();
  for (int port = 0; port < kPortCount; ++port) {
    EXPECT_EQ(after.counts[port], 1u);
    EXPECT_EQ(after.names[port], before.names[port]);
  }
  EXPECT_EQ(WorkerPids().size(), 5u);
  // A name in use still opens.
  PPDT_HANDLE again = Open("d3");
  EXPECT_EQ(ReadTable().counts[2], 2u);
  handles.push_back(again);
  for (PPDT_HANDLE handle : handles) EXPECT_EQ(PPDT_ClosePort(handle), PPDT_OK);
}

TEST_F(PpdtDeviceTest, SessionKindsAreChecked) {
  PPDT_HANDLE handle = Open("PRN1394");
  std::uint8_t data[4] = {1, 2, 3, 4};
  std::uint32_t count = 0;
  EXPECT_EQ(PPDT_JobWrite(handle, data, 4, &count), PPDT_E_NO_SESSION);
  EXPECT_EQ(PPDT_JobFlush(handle), PPDT_E_NO_SESSION);
  EXPECT_EQ(PPDT_AdminRead(handle, data, 4, &count), PPDT_E_NO_SESSION);
  EXPECT_EQ(PPDT_ResClose(handle), PPDT_E_NO_SESSION);
  EXPECT_EQ(Calls(kControlJobWrite), 0u);

  ASSERT_EQ(PPDT_JobOpen(handle), PPDT_OK);
  EXPECT_EQ(PPDT_JobOpen(handle), PPDT_E_SESSION);
  EXPECT_EQ(PPDT_AdminOpen(handle), PPDT_E_SESSION);
  EXPECT_EQ(PPDT_AdminWrite(handle, data, 4, &count), PPDT_E_SESSION);
  EXPECT_EQ(PPDT_ResRead(handle, data, 4, &count), PPDT_E_SESSION);
  EXPECT_EQ(PPDT_AdminClose(handle), PPDT_E_SESSION);
  EXPECT_EQ(Calls(kControlJobOpen), 1u);
  EXPECT_EQ(Calls(kControlAdminOpen), 0u);
  // Data that is not there is refused before it reaches the block.
  EXPECT_EQ(PPDT_JobWrite(handle, nullptr, 4, &count), PPDT_E_ARGUMENT);
  EXPECT_EQ(Calls(kControlJobWrite), 0u);
  EXPECT_EQ(PPDT_JobCancel(handle), PPDT_OK);
  EXPECT_EQ(PPDT_JobClose(handle), PPDT_OK);
  EXPECT_EQ(PPDT_JobClose(handle), PPDT_E_NO_SESSION);

  // A close whose device call fails still ends the session.
  ASSERT_EQ(PPDT_ResOpen(handle), PPDT_OK);
  ASSERT_TRUE(sim_->Fault("p1", "ppdt-refuse 0x00222F84 170"));
  EXPECT_EQ(PPDT_ResClose(handle), PPDT_E_BUSY);
  EXPECT_EQ(PPDT_ResRead(handle, data, 4, &count), PPDT_E_NO_SESSION);
  ASSERT_TRUE(sim_->Fault("p1", "ppdt-refuse 0x00222F80 55"));
  EXPECT_EQ(PPDT_ResOpen(handle), PPDT_E_DEV_NOT_EXIST);
  EXPECT_EQ(PPDT_ResRead(handle, data, 4, &count), PPDT_E_NO_SESSION)
      << "a failed open opens nothing";
  EXPECT_EQ(PPDT_ClosePort(handle), PPDT_OK);
}

TEST_F(PpdtDeviceTest, DeviceIdNeedsNoSessionAndRefusesBadArguments) {
  PPDT_HANDLE handle = Open("PRN1394");
  char id[128];
  std::uint32_t count = 0;
  EXPECT_EQ(PPDT_GetDeviceID(handle, id, 0, &count), PPDT_E_ARGUMENT);
  EXPECT_EQ(PPDT_GetDeviceID(handle, nullptr, sizeof id, &count), PPDT_E_ARGUMENT);
  EXPECT_EQ(PPDT_GetDeviceID(handle, id, sizeof id, nullptr), PPDT_E_ARGUMENT);
  EXPECT_EQ(Calls(kControlGetDeviceId), 0u) << "nothing was sent";
  // A short buffer gets what fits, exactly as many bytes as reported.
  std::memset(id, '#', sizeof id);
  ASSERT_EQ(PPDT_GetDeviceID(handle, id, 8, &count), PPDT_OK);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(std::string(id, 9), std::string(kDeviceId, 8) + "#");
  EXPECT_EQ(PPDT_ClosePort(handle), PPDT_OK);
}

TEST_F(PpdtDeviceTest, JobDataArrivesByteExactAndFlushWaitsForDelivery) {
  PPDT_HANDLE handle = Open("PRN1394");
  ASSERT_EQ(PPDT_JobOpen(handle), PPDT_OK);
  std::vector<std::uint8_t> job(100000);
  std::mt19937 random(1394);
  for (auto& b : job) b = static_cast<std::uint8_t>(random());

  // One call carries at most 0x4000 bytes.
  std::uint32_t count = 0;
  ASSERT_EQ(PPDT_JobWrite(handle, job.data(), 20000, &count), PPDT_OK);
  EXPECT_EQ(count, static_cast<std::uint32_t>(PPDT_MAX_TRANSFER));
  for (std::size_t sent = count; sent < job.size(); sent += count) {
    const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(job.size() - sent, 16384));
    ASSERT_EQ(PPDT_JobWrite(handle, job.data() + sent, chunk, &count), PPDT_OK);
    ASSERT_GT(count, 0u);
  }
  const std::uint64_t pollsBefore = sim_->Counter("p1", "ppdt.flush_polls");
  EXPECT_EQ(PPDT_JobFlush(handle), PPDT_OK);
  // Delivery takes 100 ms after the last write: the byte was polled until set.
  EXPECT_GE(sim_->Counter("p1", "ppdt.flush_polls") - pollsBefore, 2u);
  EXPECT_EQ(PPDT_JobClose(handle), PPDT_OK);
  EXPECT_EQ(sim_->Counter("p1", "job.bytes"), job.size());

  std::ifstream in(jobFile_, std::ios::binary);
  const std::vector<std::uint8_t> received{std::istreambuf_iterator<char>(in), {}};
  EXPECT_TRUE(received == job) << "received " << received.size() << " bytes";
  EXPECT_EQ(PPDT_ClosePort(handle), PPDT_OK);
}

TEST_F(PpdtDeviceTest, TwoClientProcessesShareOnePortAndItsWorker) {
  ClientProcess a, b;
  ASSERT_EQ(a.Command("open PRN1394"), "0 0");
  // A handle value is nothing in another process.
  EXPECT_EQ(b.Result("init"), 1);
  EXPECT_EQ(b.Result("foreign " + a.Command("value 0")), PPDT_E_HANDLE);
  ASSERT_EQ(b.Command("open prn1394"), "0 0");
  EXPECT_EQ(ReadTable().counts[0], 2u);
  const std::vector<pid_t> workers = WorkerPids();
  ASSERT_EQ(workers.size(), 1u);

  EXPECT_EQ(a.Command("deviceid 0 256"), "0 " + std::to_string(strlen(kDeviceId)) + " " +
                                             Hex({kDeviceId, kDeviceId + strlen(kDeviceId)}));
  EXPECT_EQ(b.Result("deviceid 0 256"), 0);

  // Sessions are per handle: each process has its own.
  EXPECT_EQ(a.Result("jobopen 0"), 0);
  EXPECT_EQ(b.Result("jobwrite 0 00"), PPDT_E_NO_SESSION);
  EXPECT_EQ(a.Result("jobclose 0"), 0);

  EXPECT_EQ(a.Result("close 0"), 0);
  EXPECT_EQ(a.Exit(), 0);
  EXPECT_EQ(WorkerPids(), workers) << "the last user still has the port";
  EXPECT_EQ(b.Result("deviceid 0 256"), 0);
  EXPECT_EQ(b.Result("close 0"), 0);
  EXPECT_TRUE(Eventually([] { return WorkerPids().empty(); }));
  EXPECT_EQ(ReadTable().counts[0], 0u);
}

TEST_F(PpdtDeviceTest, TheWorkerEndsWhenItsLastUserDiesWithoutClosing) {
  ASSERT_EQ(PPDT_Initialize(), 1);  // keeps the port table
  {
    ClientProcess client;
    ASSERT_EQ(client.Command("open PRN1394"), "0 0");
    ASSERT_EQ(WorkerPids().size(), 1u);
    EXPECT_TRUE(CallingProcessMutexExists(0));
  }  // killed
  EXPECT_TRUE(Eventually([] { return WorkerPids().empty() && !WorkerPresent(0); }));
  EXPECT_FALSE(CallingProcessMutexExists(0));
  // Its count stays: the entry is not free, and the name shares it.
  EXPECT_EQ(ReadTable().counts[0], 1u);
}

TEST_F(PpdtDeviceTest, AReadRightAfterAnotherProcessWroteGetsAnEmptyAnswer) {
  ClientProcess a, b;
  ASSERT_EQ(a.Command("open PRN1394"), "0 0");
  ASSERT_EQ(b.Command("open PRN1394"), "0 0");
  ASSERT_EQ(a.Result("adminopen 0"), 0);
  ASSERT_EQ(b.Result("resopen 0"), 0);

  ASSERT_EQ(a.Command(std::string("adminwrite 0 ") + kManagementRequest), "0 20");
  // B's read right after A's write: success, nothing, the device untouched.
  EXPECT_EQ(b.Command("resread 0 64"), "0 0 -");
  EXPECT_EQ(Calls(kControlResRead), 0u);
  // B's next read reaches the device.
  EXPECT_EQ(b.Command("resread 0 64"), "0 0 -");
  EXPECT_EQ(Calls(kControlResRead), 1u);
  // A's own read after its write reaches the device and gets the answer.
  ASSERT_EQ(a.Command(std::string("adminwrite 0 ") + kManagementRequest), "0 20");
  std::istringstream answer(a.Command("adminread 0 64"));
  int result = -100;
  std::uint32_t count = 0;
  answer >> result >> count;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(count, 2 * kManagementAnswerSize);
  EXPECT_EQ(Calls(kControlAdminRead), 1u);
  EXPECT_EQ(a.Result("close 0"), 0);
  EXPECT_EQ(b.Result("close 0"), 0);
}

TEST_F(PpdtDeviceTest, AWorkerKilledMidRequestFailsItAndTheLibraryGoesOn) {
  PPDT_HANDLE ours = Open("PRN1394");
  const std::vector<pid_t> workers = WorkerPids();
  ASSERT_EQ(workers.size(), 1u);
  // The client waits 1 s for an answer (300000 ms divided by 300).
  ClientProcess client({"TGX_TIMEOUT_DIVISOR=300"});
  ASSERT_EQ(client.Command("open PRN1394"), "0 0");
  ASSERT_EQ(PPDT_ClosePort(ours), PPDT_OK);
  ASSERT_EQ(client.Result("jobopen 0"), 0);

  // The printer takes the data but answers only after a minute; the worker
  // is killed while it waits.
  ASSERT_TRUE(sim_->Fault("p1", "slow 60000"));
  client.Post("jobwrite 0 0102030405");
  ASSERT_TRUE(sim_->WaitForCounter("p1", "ppdt.code.00222F12", 1));
  ASSERT_EQ(kill(workers[0], SIGKILL), 0);
  EXPECT_EQ(client.Answer(), std::to_string(PPDT_E_TIMEOUT) + " 0");
  ASSERT_TRUE(sim_->Fault("p1", "slow 0"));

  // The library goes on: the close frees the entry (its requests time out).
  EXPECT_EQ(client.Result("jobclose 0"), PPDT_E_TIMEOUT);
  EXPECT_EQ(client.Result("close 0"), 0);
  EXPECT_EQ(ReadTable().counts[0], 0u);

  // A later open starts a new worker that serves the port.
  PPDT_HANDLE again = Open("PRN1394");
  ASSERT_NE(again, nullptr);
  const std::vector<pid_t> now = WorkerPids();
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(now[0], workers[0]);
  char id[128];
  std::uint32_t count = 0;
  EXPECT_EQ(PPDT_GetDeviceID(again, id, sizeof id, &count), PPDT_OK);
  EXPECT_EQ(PPDT_ClosePort(again), PPDT_OK);
}

TEST_F(PpdtDeviceTest, UnloadingReleasesEveryOpenHandle) {
  ClientProcess client;
  ASSERT_EQ(client.Command("open PRN1394"), "0 0");
  ASSERT_EQ(client.Command("open prn1394"), "0 1");
  ASSERT_EQ(client.Command("open D2"), "0 2");
  ASSERT_EQ(client.Result("jobopen 1"), 0);
  EXPECT_EQ(WorkerPids().size(), 2u);
  EXPECT_EQ(client.Command("unload"), "1");
  const TableSnapshot table = ReadTable();
  EXPECT_FALSE(table.present) << "the library let go of the port table";
  EXPECT_TRUE(Eventually([] { return WorkerPids().empty(); }));
  EXPECT_FALSE(CallingProcessMutexExists(0));
  EXPECT_FALSE(CallingProcessMutexExists(1));
  // Nothing of the unloaded library runs on in the client.
  EXPECT_EQ(client.Exit(), 0);
}

TEST_F(PpdtDeviceTest, TheWorkerClampsGarbageLengthsInTheRequestBlock) {
  PPDT_HANDLE handle = Open("PRN1394");
  // A rogue process posts a request with lengths far beyond the areas.
  {
    Handle mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE,
                                      PortObjectNameFor(Names(), kRequestBlockName, 0).c_str());
    MappedView view = MapViewOfFile(mapping, FILE_MAP_WRITE);
    Handle access = OpenMutexA(MUTEX_ALL_ACCESS, FALSE,
                               PortObjectNameFor(Names(), kAccessMutexName, 0).c_str());
    Handle request = OpenEventA(EVENT_ALL_ACCESS, FALSE,
                                PortObjectNameFor(Names(), kRequestEventName, 0).c_str());
    Handle done =
        OpenEventA(EVENT_ALL_ACCESS, FALSE, PortObjectNameFor(Names(), kDoneEventName, 0).c_str());
    ASSERT_TRUE(view && access && request && done);
    NamedMutexLock lock(access);
    RequestBlock block(view.data());
    block.setRequestCode(kRequestControl);
    block.setControlCode(kControlGetDeviceId);
    block.setInputLength(0xFFFFFFFF);
    block.setOutputLength(0x7FFFFFFF);
    block.setSuccess(0);
    ResetEvent(done);
    SetEvent(request);
    ASSERT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(block.success(), 1u);
    EXPECT_EQ(block.byteCount(), strlen(kDeviceId));
  }
  char id[128];
  std::uint32_t count = 0;
  EXPECT_EQ(PPDT_GetDeviceID(handle, id, sizeof id, &count), PPDT_OK) << "the worker serves on";
  EXPECT_EQ(PPDT_ClosePort(handle), PPDT_OK);
}

}  // namespace
}  // namespace tgx::ppdt::test
