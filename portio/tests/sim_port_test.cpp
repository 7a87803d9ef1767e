// Every port kind against printers played by printersim: USB and parallel
// devices, the simulator monitor and the raw TCP monitor, with the simulator's
// hang-up and stall faults.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "printersim/client.h"
#include "testsupport.h"
#include "tgx/portio.h"
#include "tgx/registry.h"
#include "tgx/win32.h"

namespace tgx::portio {
namespace {

constexpr uint32_t kReadWrite = VI1284_GENERIC_READ | VI1284_GENERIC_WRITE;
const std::string kId = "MFG:Arvona;MDL:TX-9;CMD:RAW,PJL;CLS:PRINTER;";
// What the network printer takes as "send your device ID", as configured on
// both sides: the port's DeviceIdQuery and the simulator's tcp_id_query.
const std::string kIdQuery = "\x1b*ID?\r\n";
constexpr const char* kIdQueryHex = "1b 2a 49 44 3f 0d 0a";

class SimPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    printersim::StartOptions options;
    options.config_text = "[printer p1]\nport = USB001\nprotocol = raw\ndevice_id = " + kId +
                          "\ntcp_id_query = " + kIdQueryHex +
                          "\n[printer p2]\nport = LPT1\nprotocol = raw\ndevice_id = " + kId + "\n";
    std::string error;
    sim_ = printersim::Simulator::Start(options, &error);
    ASSERT_NE(nullptr, sim_) << error;
  }

  // Opens and sets the time-outs the worker sets.
  VI1284_HANDLE Open(const char* name, const char* monitor = nullptr) {
    VI1284_HANDLE handle = 0;
    const int ok = monitor ? Vi1284_OpenPort2(name, monitor, kReadWrite, &handle)
                           : Vi1284_OpenPort(name, kReadWrite, &handle);
    EXPECT_TRUE(ok) << name << " " << GetLastError();
    const VI1284_COMMTIMEOUTS timeouts{100, 10, 500, 10, 3500};
    if (ok) {
      EXPECT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));
    }
    return handle;
  }

  static std::string DeviceId(VI1284_HANDLE handle, uint32_t code) {
    char id[256] = {};
    uint32_t returned = 0;
    EXPECT_TRUE(Vi1284_IoControlPort(handle, code, nullptr, 0, id, sizeof id, &returned))
        << GetLastError();
    return std::string(id);
  }

  // Writes a job and waits until the printer has all of it.
  void PrintJob(VI1284_HANDLE handle, const char* printer, std::size_t size) {
    const std::vector<char> job(size, 'J');
    uint32_t written = 0;
    ASSERT_TRUE(Vi1284_WritePort(handle, job.data(), static_cast<uint32_t>(size), &written))
        << GetLastError();
    EXPECT_EQ(size, written);
    EXPECT_TRUE(sim_->WaitForCounter(printer, "host.bytes_in", size));
  }

  std::string SimMonitor() const { return (tgx::test::BinDir() / "libportmon_sim.so").string(); }

  std::unique_ptr<printersim::Simulator> sim_;
};

TEST_F(SimPortTest, UsbPrinter) {
  const VI1284_HANDLE handle = Open("USB001");
  EXPECT_EQ(kId, DeviceId(handle, VI1284_IOCTL_PAR_QUERY_DEVICE_ID));
  EXPECT_EQ(kId, DeviceId(handle, VI1284_IOCTL_DEVICE_ID_9X));
  PrintJob(handle, "p1", 100000);
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST_F(SimPortTest, ParallelPrinter) {
  const VI1284_HANDLE handle = Open("LPT1");
  EXPECT_NE(std::string::npos, DeviceId(handle, 17).find("COMMAND SET:RAW,PJL;"));
  PrintJob(handle, "p2", 20000);
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST_F(SimPortTest, UnpluggedUsbPrinterRefusesReadsUntilClosed) {
  const VI1284_HANDLE handle = Open("USB001");
  ASSERT_TRUE(sim_->Fault("p1", "hangup"));
  char buffer[6];
  uint32_t count = 0;
  EXPECT_FALSE(Vi1284_ReadPort(handle, buffer, sizeof buffer, &count));
  const DWORD gone = GetLastError();
  EXPECT_TRUE(gone == ERROR_DEVICE_NOT_CONNECTED || gone == ERROR_GEN_FAILURE) << gone;
  EXPECT_FALSE(Vi1284_ReadPort(handle, buffer, sizeof buffer, &count));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(Vi1284_WritePort(handle, "x", 1, &count));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_TRUE(Vi1284_ClosePort(handle));
  // Gone means gone, until it is plugged in again.
  VI1284_HANDLE again = 0;
  EXPECT_FALSE(Vi1284_OpenPort("USB001", kReadWrite, &again));
  ASSERT_TRUE(sim_->Fault("p1", "plug"));
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &again)) << GetLastError();
  EXPECT_TRUE(Vi1284_ClosePort(again));
}

TEST_F(SimPortTest, StalledUsbPrinterTimesTheWriteOutWithItsPartialCount) {
  const VI1284_HANDLE handle = Open("USB001");
  ASSERT_TRUE(sim_->Fault("p1", "stall on"));
  const VI1284_COMMTIMEOUTS timeouts{0, 0, 500, 0, 300};
  ASSERT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));
  const std::vector<char> job(8 << 20, 'S');
  uint32_t written = 0;
  ASSERT_TRUE(Vi1284_WritePort(handle, job.data(), static_cast<uint32_t>(job.size()), &written))
      << GetLastError();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, job.size());
  ASSERT_TRUE(sim_->Fault("p1", "stall off"));
  EXPECT_TRUE(sim_->WaitForCounter("p1", "host.bytes_in", written));
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST_F(SimPortTest, SimulatorMonitorPort) {
  const VI1284_HANDLE handle = Open("p1", SimMonitor().c_str());
  EXPECT_EQ(kId, DeviceId(handle, VI1284_IOCTL_PAR_QUERY_DEVICE_ID));
  PrintJob(handle, "p1", 3 << 20);
  char buffer[16];
  uint32_t count = 9;
  EXPECT_TRUE(Vi1284_ReadPort(handle, buffer, sizeof buffer, &count));
  EXPECT_EQ(0u, count) << "a raw printer has nothing to say";
  // The port is the opener's alone while it is open.
  VI1284_HANDLE second = 0;
  EXPECT_FALSE(Vi1284_OpenPort2("p1", SimMonitor().c_str(), kReadWrite, &second));
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_TRUE(Vi1284_ClosePort(handle));
  EXPECT_EQ(1u, sim_->Counter("p1", "monitor.opens"));

  EXPECT_FALSE(Vi1284_OpenPort2("nosuchprinter", SimMonitor().c_str(), kReadWrite, &second));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(SimPortTest, SimulatorMonitorPortLostOnHangUp) {
  const VI1284_HANDLE handle = Open("p1", SimMonitor().c_str());
  ASSERT_TRUE(sim_->Fault("p1", "hangup"));
  uint32_t count = 0;
  EXPECT_FALSE(Vi1284_WritePort(handle, "data", 4, &count));
  EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, GetLastError());
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST_F(SimPortTest, RawTcpMonitorToTheSimulatorsNetworkPort) {
  const auto info = sim_->Info("p1");
  ASSERT_TRUE(info && info->tcp_port != 0);
  RegKey monitor;
  ASSERT_EQ(ERROR_SUCCESS,
            monitor.Create(HKEY_LOCAL_MACHINE,
                           "System\\CurrentControlSet\\Control\\Print\\Monitors\\Raw TCP Port",
                           KEY_ALL_ACCESS));
  const char driver[] = "libportmon_rawtcp.so";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(monitor.get(), "Driver", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(driver), sizeof driver));
  RegKey port;
  ASSERT_EQ(ERROR_SUCCESS, port.Create(monitor.get(), "Ports\\SIMNET", KEY_ALL_ACCESS));
  const char host[] = "127.0.0.1";
  const DWORD number = info->tcp_port;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(port.get(), "HostName", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(host), sizeof host));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(port.get(), "PortNumber", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&number), sizeof number));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(port.get(), "DeviceIdQuery", 0, REG_BINARY,
                                          reinterpret_cast<const BYTE*>(kIdQuery.data()),
                                          static_cast<DWORD>(kIdQuery.size())));

  // The device ID asked for between two parts of a job: the printer answers
  // it, and the job holds the job's bytes alone.
  const VI1284_HANDLE handle = Open("SIMNET");
  PrintJob(handle, "p1", 128 << 10);
  EXPECT_EQ(kId, DeviceId(handle, 17));
  EXPECT_EQ(kId, DeviceId(handle, VI1284_IOCTL_PAR_QUERY_DEVICE_ID));
  PrintJob(handle, "p1", 256 << 10);
  EXPECT_TRUE(Vi1284_ClosePort(handle));
  EXPECT_TRUE(sim_->WaitForCounter("p1", "jobs.ended", 1));
  EXPECT_EQ(1u, sim_->Counter("p1", "tcp.connections"));
  EXPECT_EQ(2u, sim_->Counter("p1", "tcp.id_queries"));
  EXPECT_EQ(384u << 10, sim_->Counter("p1", "job.bytes"));
}

}  // namespace
}  // namespace tgx::portio
