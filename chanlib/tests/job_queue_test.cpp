// The background job queue of a connection on the real shared table: the
// objects its connection record names, the queue bytes, and a sender failure.
#include "job_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "chanlib/result_codes.h"
#include "local_handles.h"
#include "tgx/kobj.h"

namespace tgx::chanlib {
namespace {

namespace fs = std::filesystem;

constexpr int kConnection = 3;
constexpr std::uint32_t kPayload = 4090;

bool ThreadAlive(DWORD id) { return fs::exists("/proc/self/task/" + std::to_string(id)); }

bool WaitUntilThreadGone(DWORD id) {
  for (int tries = 0; tries < 500 && ThreadAlive(id); ++tries) Sleep(10);
  return !ThreadAlive(id);
}

struct JobQueueTest : ::testing::Test {
  void SetUp() override {
    set = SharedSet::Open(Family::kNt);
    ASSERT_TRUE(set);
    ConnectionRecord record{};
    record.state = kConnectionConnected;
    record.payloadSize = kPayload;
    record.queueAllocation = -1;
    set->table().connection(kConnection) = record;
  }
  ConnectionRecord Record() const { return set->table().connection(kConnection); }

  std::unique_ptr<SharedSet> set;
  JobQueue queue;
};

TEST_F(JobQueueTest, RecordNamesTheQueueObjectsOfThisProcess) {
  ASSERT_TRUE(queue.Start(*set, kConnection));
  const ConnectionRecord record = Record();
  EXPECT_EQ(kPayload * kQueuePackets, record.queueCapacity);
  EXPECT_GE(record.queueAllocation, 0);
  EXPECT_EQ((kPayload * kQueuePackets + kBlockSize - 1) / kBlockSize,
            static_cast<std::size_t>(BlocksInUse(set->mainPool())));

  const LocalHandles& handles = ProcessLocalHandles();
  const Handle* started = handles.Find(record.queueStartedEvent);
  const Handle* stop = handles.Find(record.queueStopEvent);
  const Handle* mutex = handles.Find(record.queueMutex);
  ASSERT_TRUE(started && stop && mutex);
  EXPECT_NE(started, stop);
  // The sender has answered: a manual-reset event stays signalled.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(*started, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(*started, 0));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(*stop, 0));

  // The sender is a live thread of this process, not the caller's.
  const DWORD sender = record.senderThread;
  EXPECT_NE(0u, sender);
  EXPECT_NE(GetCurrentThreadId(), sender);
  EXPECT_TRUE(ThreadAlive(sender));

  // The mutex the record names is the one that guards the queue: an append
  // waits while it is held here.
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(*mutex, 0));
  const std::vector<std::uint8_t> data(100, 0x42);
  auto append =
      std::async(std::launch::async, [&] { return queue.Append(*set, kConnection, data); });
  EXPECT_EQ(std::future_status::timeout, append.wait_for(std::chrono::milliseconds(200)));
  ASSERT_TRUE(ReleaseMutex(*mutex));
  EXPECT_EQ(100, append.get());
  EXPECT_EQ(100u, Record().bytesQueued);  // less than a payload: the sender waits for more
  queue.Cancel(*set, kConnection);
  EXPECT_EQ(0u, Record().bytesQueued);

  EXPECT_EQ(kOk, queue.Stop());
  const ConnectionRecord stopped = Record();
  EXPECT_EQ(0u, stopped.queueStartedEvent);
  EXPECT_EQ(0u, stopped.queueStopEvent);
  EXPECT_EQ(0u, stopped.senderThread);
  EXPECT_EQ(0u, stopped.queueMutex);
  EXPECT_EQ(-1, stopped.queueAllocation);
  EXPECT_EQ(0, BlocksInUse(set->mainPool()));
  // Closed objects are no longer found under their numbers.
  EXPECT_EQ(nullptr, handles.Find(record.queueStartedEvent));
  EXPECT_EQ(nullptr, handles.Find(record.queueMutex));
  EXPECT_TRUE(WaitUntilThreadGone(sender));

  // A second queue gets new numbers: a stale one never names its objects.
  ASSERT_TRUE(queue.Start(*set, kConnection));
  EXPECT_GT(Record().queueMutex, record.queueMutex);
  EXPECT_NE(sender, Record().senderThread);
}

TEST_F(JobQueueTest, SenderFailureIsReturnedByAppendAndStop) {
  ASSERT_TRUE(queue.Start(*set, kConnection));
  const DWORD sender = Record().senderThread;
  // A full payload goes to the sender, whose channel (none) cannot send.
  const std::vector<std::uint8_t> data(kPayload * kQueuePackets + 1, 0x17);
  EXPECT_EQ(static_cast<int>(kPayload * kQueuePackets), queue.Append(*set, kConnection, data));
  int appended = 0;
  for (int tries = 0; tries < 500 && appended >= 0; ++tries) {
    Sleep(10);
    appended = queue.Append(*set, kConnection, std::span(data).first(1));
  }
  EXPECT_EQ(kNoRing, appended);
  EXPECT_EQ(kNoRing, Record().senderResult);
  EXPECT_TRUE(WaitUntilThreadGone(sender));
  EXPECT_EQ(kNoRing, queue.Stop());
  EXPECT_FALSE(queue.running());
  EXPECT_EQ(0, BlocksInUse(set->mainPool()));
}

TEST_F(JobQueueTest, NoQueueWithoutAPayloadSize) {
  ConnectionRecord record = Record();
  record.payloadSize = 0;
  set->table().connection(kConnection) = record;
  EXPECT_FALSE(queue.Start(*set, kConnection));
  EXPECT_FALSE(queue.running());
  EXPECT_EQ(0u, Record().queueMutex);
  EXPECT_EQ(0, BlocksInUse(set->mainPool()));
}

}  // namespace
}  // namespace tgx::chanlib
