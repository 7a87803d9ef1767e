// The library in one process: initialisation and its clean-up, argument and
// handle checks, ports whose device is missing, exclusive-control handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client_process.h"
#include "ppdt_probe.h"
#include "tgx/ppdt.h"

namespace tgx::ppdt::test {
namespace {

TEST(PpdtLibrary, InitializeAndTerminate) {
  EXPECT_EQ(PPDT_Terminate(), 0);
  EXPECT_EQ(PPDT_Initialize(), 1);
  EXPECT_EQ(PPDT_Initialize(), 1);
  EXPECT_TRUE(ReadTable().present);
  EXPECT_EQ(PPDT_Terminate(), 1);
  EXPECT_EQ(PPDT_Terminate(), 0);
  EXPECT_FALSE(ReadTable().present) << "the last holder released the port table";
}

TEST(PpdtLibrary, FailedInitializationLeavesNoObjectOpen) {
  // An object of another kind under the name of port 3's request event makes
  // the events step fail after the port table and request blocks exist.
  Handle squatter =
      CreateMutexA(nullptr, FALSE, PortObjectNameFor(Names(), kRequestEventName, 3).c_str());
  ASSERT_TRUE(squatter);
  EXPECT_EQ(PPDT_Initialize(), 0);
  EXPECT_FALSE(ReadTable().present);
  for (int port = 0; port < kPortCount; ++port) {
    EXPECT_FALSE(OpenFileMappingA(FILE_MAP_WRITE, FALSE,
                                  PortObjectNameFor(Names(), kRequestBlockName, port).c_str()));
    EXPECT_FALSE(OpenEventA(EVENT_ALL_ACCESS, FALSE,
                            PortObjectNameFor(Names(), kDoneEventName, port).c_str()));
  }
  PPDT_HANDLE handle = nullptr;
  EXPECT_EQ(PPDT_OpenPort("P1", &handle), PPDT_E_INIT_FAILED);
  EXPECT_EQ(handle, nullptr);
  squatter.reset();
  EXPECT_EQ(PPDT_Initialize(), 1);
}

TEST(PpdtLibrary, AJoinerKeepsTheTableOfTheCreator) {
  ASSERT_EQ(PPDT_Initialize(), 1);
  {
    Handle mapping =
        OpenFileMappingA(FILE_MAP_WRITE, FALSE, ObjectNameFor(Names(), kPortTableName).c_str());
    MappedView view = MapViewOfFile(mapping, FILE_MAP_WRITE);
    PortTable(view.data()).entry(4).setName("marker");
  }
  ClientProcess joiner;
  EXPECT_EQ(joiner.Result("init"), 1);
  EXPECT_EQ(ReadTable().names[4], "marker");
  EXPECT_EQ(joiner.Result("term"), 1);
}

TEST(PpdtLibrary, CallsBeforeInitializationFailWithMinusTwo) {
  auto* unknown = reinterpret_cast<PPDT_HANDLE>(0x1000);
  std::uint8_t buffer[4];
  std::uint32_t count = 0;
  EXPECT_EQ(PPDT_ClosePort(unknown), PPDT_E_NOT_INITIALIZED);
  EXPECT_EQ(PPDT_JobOpen(unknown), PPDT_E_NOT_INITIALIZED);
  EXPECT_EQ(PPDT_JobWrite(unknown, buffer, 4, &count), PPDT_E_NOT_INITIALIZED);
  EXPECT_EQ(PPDT_AdminRead(unknown, buffer, 4, &count), PPDT_E_NOT_INITIALIZED);
  EXPECT_EQ(PPDT_GetDeviceID(unknown, buffer, 4, &count), PPDT_E_NOT_INITIALIZED);
}

TEST(PpdtLibrary, RefusesMissingArgumentsAndUnknownHandles) {
  PPDT_HANDLE handle = nullptr;
  EXPECT_EQ(PPDT_OpenPort(nullptr, &handle), PPDT_E_ARGUMENT);
  EXPECT_EQ(PPDT_OpenPort("P1", nullptr), PPDT_E_ARGUMENT);
  ASSERT_EQ(PPDT_Initialize(), 1);

  std::uint8_t buffer[4];
  std::uint32_t count = 0;
  for (PPDT_HANDLE unknown :
       {static_cast<PPDT_HANDLE>(nullptr), reinterpret_cast<PPDT_HANDLE>(buffer)}) {
    EXPECT_EQ(PPDT_ClosePort(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_JobOpen(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_JobClose(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_JobFlush(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_JobCancel(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_JobWrite(unknown, buffer, 4, &count), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_AdminOpen(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_AdminWrite(unknown, buffer, 4, &count), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_AdminRead(unknown, buffer, 4, &count), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_ResOpen(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_ResClose(unknown), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_ResRead(unknown, buffer, 4, &count), PPDT_E_HANDLE);
    EXPECT_EQ(PPDT_GetDeviceID(unknown, buffer, 4, &count), PPDT_E_HANDLE);
  }
  EXPECT_EQ(ReadTable().counts[0], 0u);
}

TEST(PpdtLibrary, RefusesPortNamesThatDoNotFitTheTable) {
  ASSERT_EQ(PPDT_Initialize(), 1);
  PPDT_HANDLE handle = nullptr;
  const std::string tooLong(PPDT_PORT_NAME_LIMIT, 'N');
  EXPECT_EQ(PPDT_OpenPort(tooLong.c_str(), &handle), PPDT_E_ARGUMENT);
  EXPECT_EQ(PPDT_OpenPort((tooLong + "MORE").c_str(), &handle), PPDT_E_ARGUMENT);
  EXPECT_EQ(handle, nullptr);
  const TableSnapshot table = ReadTable();
  for (int port = 0; port < kPortCount; ++port) {
    EXPECT_EQ(table.counts[port], 0u);
    EXPECT_EQ(table.names[port], "");
    EXPECT_FALSE(CallingProcessMutexExists(port));
    EXPECT_FALSE(WorkerPresent(port));
  }
}

TEST(PpdtLibrary, AMissingDeviceFailsTheOpenAndShutsTheNewWorkerDown) {
  ASSERT_EQ(PPDT_Initialize(), 1);
  PPDT_HANDLE handle = nullptr;
  // 23 characters: the longest name that fits; no simulator serves it.
  const std::string name(PPDT_PORT_NAME_LIMIT - 1, 'm');
  EXPECT_EQ(PPDT_OpenPort(name.c_str(), &handle), PPDT_E_DEVICE);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(ReadTable().counts[0], 0u);
  EXPECT_FALSE(CallingProcessMutexExists(0));
  EXPECT_TRUE(Eventually([] { return !WorkerPresent(0) && WorkerPids().empty(); }));
}

TEST(PpdtLibrary, AWorkerThatCannotBeStartedFailsTheOpenWithMinusFourteen) {
  // A copy of the library in a directory without ppdtport (nor on PATH).
  const auto lonely = tgx::test::MakeTempDir("lonely") / "libppdtlib.so";
  std::filesystem::copy_file(tgx::test::BinDir() / "libppdtlib.so", lonely);
  ClientProcess client({"PATH=/nonexistent"}, lonely.string());
  EXPECT_EQ(client.Command("open P1"), std::to_string(PPDT_E_WORKER_START) + " -1");
  EXPECT_FALSE(CallingProcessMutexExists(0));
  EXPECT_EQ(client.Result("init"), 1);
  EXPECT_EQ(ReadTable().counts[0], 0u);
}

TEST(PpdtExclusive, FormatsTheMutexNameFromTextAndNumber) {
  PPDT_EXCLUSIVE_HANDLE unnamed = PPDT_CreateExclusiveHandle(nullptr, 26);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_TRUE(MutexExists("Global\\QRS_PPDT1394__1A"));
  PPDT_EXCLUSIVE_HANDLE named = PPDT_CreateExclusiveHandle("Plotter", 0xBEEF);
  ASSERT_NE(named, nullptr);
  EXPECT_TRUE(MutexExists("Global\\QRS_PPDT1394_Plotter_BEEF"));
  EXPECT_EQ(PPDT_CloseExclusiveHandle(unnamed), 1);
  EXPECT_EQ(PPDT_CloseExclusiveHandle(named), 1);
  EXPECT_FALSE(MutexExists("Global\\QRS_PPDT1394__1A"));
  EXPECT_EQ(PPDT_CloseExclusiveHandle(named), 0) << "already closed";
}

TEST(PpdtExclusive, NoHandleAndUnknownHandles) {
  EXPECT_EQ(PPDT_ConfirmContinuation(nullptr), 1);
  EXPECT_EQ(PPDT_AcquireExclusiveControlRight(nullptr), 0);
  EXPECT_EQ(PPDT_ReleaseExclusiveControlRight(nullptr), 0);
  EXPECT_EQ(PPDT_CloseExclusiveHandle(nullptr), 0);
  int notAHandle = 0;
  EXPECT_EQ(PPDT_AcquireExclusiveControlRight(&notAHandle), 0);
  EXPECT_EQ(PPDT_ReleaseExclusiveControlRight(&notAHandle), 0);
  EXPECT_EQ(PPDT_ConfirmContinuation(&notAHandle), 1);
  EXPECT_EQ(PPDT_CloseExclusiveHandle(&notAHandle), 0);
}

TEST(PpdtExclusive, TwoProcessesTakeTurns) {
  PPDT_EXCLUSIVE_HANDLE ours = PPDT_CreateExclusiveHandle("Turns", 7);
  ASSERT_NE(ours, nullptr);
  ClientProcess other;
  ASSERT_EQ(other.Result("xcreate Turns 7"), 0);
  EXPECT_EQ(other.Result("xconfirm 0"), 1) << "nobody holds the right";

  ASSERT_EQ(other.Result("xacquire 0"), 1);
  EXPECT_EQ(other.Result("xconfirm 0"), 1) << "the holder goes on";
  EXPECT_EQ(PPDT_ConfirmContinuation(ours), 0) << "another process holds the right";

  // Our acquisition waits until the other process releases.
  other.Post("xrelease 0");
  EXPECT_EQ(PPDT_AcquireExclusiveControlRight(ours), 1);
  EXPECT_EQ(other.Answer(), "1");
  EXPECT_EQ(PPDT_ConfirmContinuation(ours), 1);
  EXPECT_EQ(other.Result("xconfirm 0"), 0);
  EXPECT_EQ(PPDT_ReleaseExclusiveControlRight(ours), 1);
  EXPECT_EQ(other.Result("xconfirm 0"), 1);
  EXPECT_EQ(PPDT_CloseExclusiveHandle(ours), 1);
}

TEST(PpdtExclusive, TheRightOfAProcessThatDiedPassesOn) {
  PPDT_EXCLUSIVE_HANDLE ours = PPDT_CreateExclusiveHandle("Crash", 1);
  ASSERT_NE(ours, nullptr);
  {
    ClientProcess holder;
    ASSERT_EQ(holder.Result("xcreate Crash 1"), 0);
    ASSERT_EQ(holder.Result("xacquire 0"), 1);
    EXPECT_EQ(PPDT_ConfirmContinuation(ours), 0);
  }  // killed while holding the right
  EXPECT_EQ(PPDT_ConfirmContinuation(ours), 1);
  EXPECT_EQ(PPDT_AcquireExclusiveControlRight(ours), 1);
  EXPECT_EQ(PPDT_ReleaseExclusiveControlRight(ours), 1);
  EXPECT_EQ(PPDT_CloseExclusiveHandle(ours), 1);
}

}  // namespace
}  // namespace tgx::ppdt::test
