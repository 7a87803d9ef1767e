// The worker program: its command line, its single instance per port, its
// ready signal and its end once no process uses the port.
#include <gtest/gtest.h>

#include <string>

#include "ppdt_probe.h"
#include "testsupport.h"
#include "tgx/named_objects.h"
#include "tgx/ppdt.h"
#include "tgx/process.h"

namespace tgx::ppdt::test {
namespace {

Handle StartWorker(const std::string& arguments) {
  const std::string program = (tgx::test::BinDir() / "ppdtport").string();
  const std::string commandLine = "ppdtport " + arguments;
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(program.c_str(), commandLine.c_str(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    return Handle();
  }
  return std::move(process.hProcess);
}

DWORD ExitCodeOf(const Handle& process) {
  if (WaitForSingleObject(process, 20000) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  return code;
}

TEST(PpdtPort, RefusesABadPortIndexWithExitCodeOneAndCreatesNothing) {
  for (const char* arguments : {"-PORT_IDX=5", "-PORT_IDX=-1", "", "-port_idx=1", "PORT_IDX=1",
                                "-PORT_IDX=99999999999999999999"}) {
    Handle worker = StartWorker(arguments);
    ASSERT_TRUE(worker);
    EXPECT_EQ(ExitCodeOf(worker), 1u) << arguments;
  }
  for (int port = 0; port < kPortCount; ++port) EXPECT_FALSE(WorkerPresent(port));
}

TEST(PpdtPort, ReadsTheIndexAsAtoiDoes) {
  // " 3x" reads as 3; with no shared objects the worker ends with 0.
  Handle worker = StartWorker("other \"-PORT_IDX= 3x\" -PORT_IDX=9");
  ASSERT_TRUE(worker);
  EXPECT_EQ(ExitCodeOf(worker), 0u);
}

TEST(PpdtPort, SignalsReadyServesAndEndsWhenNoProcessUsesThePort) {
  ASSERT_EQ(PPDT_Initialize(), 1);  // the shared objects the worker opens
  const int port = 2;
  EveryoneSecurity security;
  Handle calling =
      CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneMutexAccess), FALSE,
                   PortObjectNameFor(Names(), kCallingProcessMutexName, port).c_str());
  ASSERT_TRUE(calling);
  Handle done =
      OpenEventA(EVENT_ALL_ACCESS, FALSE, PortObjectNameFor(Names(), kDoneEventName, port).c_str());
  ASSERT_TRUE(done);

  Handle worker = StartWorker("-PORT_IDX=2");
  ASSERT_TRUE(worker);
  ASSERT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
  EXPECT_TRUE(WorkerPresent(port));

  // A second instance for the port ends with 2 and leaves the first alone.
  Handle second = StartWorker("-PORT_IDX=2");
  ASSERT_TRUE(second);
  EXPECT_EQ(ExitCodeOf(second), 2u);
  EXPECT_EQ(WaitForSingleObject(worker, 500), WAIT_TIMEOUT);
  EXPECT_TRUE(WorkerPresent(port));

  // Idle checks (scaled to 125 ms) keep it alive while the port has a user.
  Sleep(400);
  EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_TIMEOUT);
  calling.reset();
  EXPECT_EQ(ExitCodeOf(worker), 0u);
  EXPECT_FALSE(WorkerPresent(port));
}

TEST(PpdtPort, EndsWithZeroWhenTheSharedObjectsAreMissing) {
  Handle worker = StartWorker("-PORT_IDX=0");
  ASSERT_TRUE(worker);
  EXPECT_EQ(ExitCodeOf(worker), 0u);
  EXPECT_FALSE(WorkerPresent(0));
}

}  // namespace
}  // namespace tgx::ppdt::test
