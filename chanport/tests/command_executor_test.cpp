#include "command_executor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chanlib/buffer_pool.h"

namespace tgx::chanport {
namespace {

using chanlib::PortCommand;
using chanlib::PortCommandRecord;

// A port library that records its calls. Reads fill the buffer with 0xAB.
struct FakePortLibrary {
  std::vector<std::string> calls;
  std::vector<DWORD> openAccess;
  bool refuseReadAccess = false;
  bool failOpen = false;
  std::vector<std::uint8_t> written;
  DWORD reportedRead = 0;  // 0: as many as asked
  std::vector<std::uint8_t> controlAnswer;
  VI1284_COMMTIMEOUTS timeouts{};
  DWORD tick = 1000;
  std::vector<DWORD> sleeps;
};
FakePortLibrary* fake;

const PortFunctions kFakeFunctions{
    [](const char* name, DWORD access, DWORD* handle) -> BOOL {
      fake->calls.push_back(std::string("open ") + name);
      fake->openAccess.push_back(access);
      if (fake->failOpen || (fake->refuseReadAccess && (access & VI1284_GENERIC_READ))) {
        SetLastError(ERROR_ACCESS_DENIED);
        *handle = 0;
        return FALSE;
      }
      *handle = 42;
      return TRUE;
    },
    [](DWORD handle) -> BOOL {
      fake->calls.push_back("close " + std::to_string(handle));
      return handle == 42;
    },
    [](DWORD, void* buffer, DWORD length, DWORD* read) -> BOOL {
      fake->calls.push_back("read " + std::to_string(length));
      std::memset(buffer, 0xAB, length);
      *read = fake->reportedRead ? fake->reportedRead : length;
      return TRUE;
    },
    [](DWORD, const void* buffer, DWORD length, DWORD* written) -> BOOL {
      fake->calls.push_back("write " + std::to_string(length));
      const auto* bytes = static_cast<const std::uint8_t*>(buffer);
      fake->written.assign(bytes, bytes + length);
      *written = length;
      return TRUE;
    },
    [](DWORD, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
       DWORD* returned) -> BOOL {
      fake->calls.push_back("ioctl " + std::to_string(code) + " " + std::to_string(inputSize) +
                            " " + std::to_string(outputSize) + (input ? " in" : "") +
                            (output ? " out" : ""));
      const DWORD n = std::min<DWORD>(outputSize, static_cast<DWORD>(fake->controlAnswer.size()));
      if (n > 0) std::memcpy(output, fake->controlAnswer.data(), n);
      *returned = n;
      if (fake->controlAnswer.empty()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
      }
      return TRUE;
    },
    [](DWORD, const VI1284_COMMTIMEOUTS* timeouts) -> BOOL {
      fake->timeouts = *timeouts;
      return TRUE;
    },
};

const Clock kFakeClock{[] { return fake->tick; }, [](DWORD ms) { fake->sleeps.push_back(ms); }};

// The main table in plain memory; overflow pools are not available.
struct MemoryPools : PoolSource {
  std::vector<std::byte> memory = std::vector<std::byte>(chanlib::main_table::kSize);
  chanlib::PoolView main = chanlib::PoolView::OfMainTable(memory.data());
  const chanlib::PoolView* Pool(int number) override { return number == 0 ? &main : nullptr; }

  // Allocates and returns the locator of the allocation.
  std::int32_t Allocate(std::uint32_t size) {
    const int entry = chanlib::AllocateBlocks(main, size);
    EXPECT_GE(entry, 0);
    return chanlib::BufferLocator{0, main.table[static_cast<std::size_t>(entry)].firstBlock}
        .value();
  }
  std::byte* At(std::int32_t locator) {
    return main.blocks.data() + static_cast<std::size_t>(locator & 0xFFFF) * chanlib::kBlockSize;
  }
};

struct ExecutorTest : ::testing::Test {
  ExecutorTest() { fake = &port; }
  ~ExecutorTest() override { fake = nullptr; }

  PortCommandRecord Run(PortCommandRecord record) {
    EXPECT_TRUE(executor.Execute(record));
    return record;
  }
  PortCommandRecord OpenRecord(const std::string& name) {
    const std::int32_t locator = pools.Allocate(static_cast<std::uint32_t>(name.size() + 1));
    std::memcpy(pools.At(locator), name.c_str(), name.size() + 1);
    PortCommandRecord record{};
    record.command = static_cast<std::uint32_t>(PortCommand::kOpen);
    record.writeLength = static_cast<std::uint32_t>(name.size());
    record.bufferB = locator;
    return record;
  }

  FakePortLibrary port;
  MemoryPools pools;
  CommandExecutor executor{kFakeFunctions, pools, Family::kNt, kFakeClock};
};

TEST_F(ExecutorTest, OpensAndSetsTheTimeoutsOfItsFamily) {
  const auto record = Run(OpenRecord("USB001"));
  EXPECT_EQ(1u, record.status);
  EXPECT_EQ(0u, record.extra);
  EXPECT_EQ(42u, executor.portHandle());
  EXPECT_EQ(VI1284_GENERIC_READ | VI1284_GENERIC_WRITE, port.openAccess.at(0));
  EXPECT_EQ(100u, port.timeouts.ReadIntervalTimeout);
  EXPECT_EQ(500u, port.timeouts.ReadTotalTimeoutConstant);
  EXPECT_EQ(3500u, port.timeouts.WriteTotalTimeoutConstant);
}

TEST_F(ExecutorTest, ParallelPortRefusingReadOpensWriteOnly) {
  port.refuseReadAccess = true;
  const auto record = Run(OpenRecord("LPT1:"));
  EXPECT_EQ(1u, record.status);
  EXPECT_EQ(chanlib::kExtraOpenedWriteOnly, record.extra);
  ASSERT_EQ(2u, port.openAccess.size());
  EXPECT_EQ(VI1284_GENERIC_WRITE, port.openAccess[1]);

  // Another kind of port gets no second try.
  port.openAccess.clear();
  const auto usb = Run(OpenRecord("USB002"));
  EXPECT_EQ(0u, usb.status);
  EXPECT_EQ(ERROR_ACCESS_DENIED, usb.error);
  EXPECT_EQ(1u, port.openAccess.size());
  EXPECT_EQ(0u, executor.portHandle());
}

TEST_F(ExecutorTest, ReadsIntoTheBufferAndKeepsReadsApart) {
  const std::int32_t buffer = pools.Allocate(600);
  PortCommandRecord read{};
  read.command = static_cast<std::uint32_t>(PortCommand::kRead);
  read.readLength = 88;
  read.bufferA = buffer;
  read.offsetA = 512;
  auto answer = Run(read);
  EXPECT_EQ(1u, answer.status);
  EXPECT_EQ(88u, answer.transferred);
  EXPECT_EQ(std::byte{0xAB}, pools.At(buffer)[512 + 87]);
  EXPECT_EQ(std::byte{0}, pools.At(buffer)[511]);
  EXPECT_TRUE(port.sleeps.empty());

  port.tick += 9;  // too soon after the last read
  Run(read);
  port.tick += 10;
  Run(read);
  EXPECT_EQ((std::vector<DWORD>{10}), port.sleeps);

  // A port library that claims more than was asked cannot inflate the count.
  port.reportedRead = 5000;
  EXPECT_EQ(88u, Run(read).transferred);
}

TEST_F(ExecutorTest, BuffersOutsideTheirAllocationAreNeverTouched) {
  const std::int32_t buffer = pools.Allocate(512);
  PortCommandRecord read{};
  read.command = static_cast<std::uint32_t>(PortCommand::kRead);
  read.readLength = 100;
  read.bufferA = buffer;
  read.offsetA = 413;  // one byte too far
  auto answer = Run(read);
  EXPECT_EQ(0u, answer.status);
  EXPECT_EQ(chanlib::kExtraNoReadBuffer, answer.extra);

  read.offsetA = 0;
  read.bufferA = chanlib::BufferLocator{0, 384}.value();
  EXPECT_EQ(chanlib::kExtraNoReadBuffer, Run(read).extra);
  read.bufferA = chanlib::BufferLocator{3, 0}.value();  // pool not available
  EXPECT_EQ(chanlib::kExtraNoReadBuffer, Run(read).extra);

  PortCommandRecord write{};
  write.command = static_cast<std::uint32_t>(PortCommand::kWriteData);
  write.writeLength = 0x10000;
  write.bufferB = buffer;
  answer = Run(write);
  EXPECT_EQ(0u, answer.status);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, answer.error);

  auto open = OpenRecord("USB001");
  open.offsetB = 0xFFFFFFF0;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Run(open).error);
  EXPECT_TRUE(port.calls.empty());
}

TEST_F(ExecutorTest, WritesFromBufferB) {
  const std::int32_t buffer = pools.Allocate(512);
  std::memcpy(pools.At(buffer) + 10, "hello", 5);
  PortCommandRecord write{};
  write.command = static_cast<std::uint32_t>(PortCommand::kWriteTransaction);
  write.writeLength = 5;
  write.bufferB = buffer;
  write.offsetB = 10;
  const auto answer = Run(write);
  EXPECT_EQ(1u, answer.status);
  EXPECT_EQ(5u, answer.transferred);
  EXPECT_EQ((std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}), port.written);
}

TEST_F(ExecutorTest, IoControlReusesThePreviousBuffersForNegativeLocators) {
  const std::int32_t output = pools.Allocate(256);
  port.controlAnswer = {'M', 'F', 'G', ':'};
  PortCommandRecord control{};
  control.command = static_cast<std::uint32_t>(PortCommand::kIoControl);
  control.controlCode = 0x16000C;
  control.readLength = 256;
  control.bufferA = -1;  // no input: size 0
  control.bufferB = output;
  auto answer = Run(control);
  EXPECT_EQ(1u, answer.status);
  EXPECT_EQ(4u, answer.transferred);
  EXPECT_EQ(std::byte{'G'}, pools.At(output)[2]);
  EXPECT_EQ("ioctl 1441804 0 256 out", port.calls.back());

  control.bufferB = -1;  // the previous output buffer
  control.readLength = 100;
  EXPECT_EQ(1u, Run(control).status);
  control.readLength = 257;  // larger than the previous buffer
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Run(control).error);

  port.controlAnswer.clear();
  control.readLength = 10;
  answer = Run(control);
  EXPECT_EQ(0u, answer.status);
  EXPECT_EQ(ERROR_INVALID_FUNCTION, answer.error);
}

TEST_F(ExecutorTest, CloseExitAndUnknownCommands) {
  Run(OpenRecord("USB001"));
  PortCommandRecord close{};
  close.command = static_cast<std::uint32_t>(PortCommand::kClose);
  EXPECT_EQ(1u, Run(close).status);
  EXPECT_EQ(0u, executor.portHandle());
  EXPECT_EQ(0u, Run(close).status);

  PortCommandRecord unknown{};
  unknown.command = 6;
  unknown.readLength = 77;
  unknown.status = 5;
  const auto answer = Run(unknown);
  EXPECT_EQ(0, std::memcmp(&unknown, &answer, sizeof answer));

  PortCommandRecord exit{};
  exit.command = static_cast<std::uint32_t>(PortCommand::kExit);
  EXPECT_FALSE(executor.Execute(exit));
}

struct Executor9xTest : ExecutorTest {
  CommandExecutor executor9x{kFakeFunctions, pools, Family::k9x, kFakeClock};
};

TEST_F(Executor9xTest, UsbPortsWithTheKnownDescriptorGetTheirOwnTimeouts) {
  port.controlAnswer = {18, 1, 0, 1, 0, 0, 0, 8, 0x98, 0x05, 0x00, 0x01, 0, 0, 0, 0, 0, 1};
  auto open = OpenRecord("lpt_usb1");
  executor9x.Execute(open);
  EXPECT_EQ("ioctl 2228232 0 18 out", port.calls.back());
  EXPECT_EQ(2000u, port.timeouts.ReadTotalTimeoutConstant);
  EXPECT_EQ(500u, port.timeouts.WriteTotalTimeoutMultiplier);

  port.controlAnswer[9] = 0x06;  // another vendor
  auto other = OpenRecord("LPT_USB2");
  executor9x.Execute(other);
  EXPECT_EQ(80u, port.timeouts.ReadTotalTimeoutConstant);

  auto parallel = OpenRecord("LPT1");
  executor9x.Execute(parallel);
  EXPECT_EQ(80u, port.timeouts.ReadIntervalTimeout);
  EXPECT_EQ("open LPT1", port.calls.back());
}

}  // namespace
}  // namespace tgx::chanport
