// Command handling of a session against the in-process fake channel library:
// validation, the reply built from the request, every command's action, the
// stored connect result, packet sizes, read pacing and closing the channel.
#include <gtest/gtest.h>

#include "fake_channel.h"
#include "messages.h"
#include "session.h"

namespace tgx::agent {
namespace {

using test::Bytes;
using test::Fake;

ChannelDescriptor DescriptorFor(std::uint16_t channel, const std::string& port) {
  ChannelDescriptor d;
  const Bytes b = test::Descriptor(channel, port);
  std::copy(b.begin(), b.end(), d.begin());
  return d;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetFake(); }

  void Open(std::uint16_t channel, bool with_library = true, bool with_job_cancel = true) {
    api_ = test::FakeApi(with_job_cancel);
    session_ = std::make_unique<Session>(DescriptorFor(channel, "USB001"),
                                         with_library ? &api_ : nullptr, [this] { return now_; });
  }

  // Sends one message from a client and returns everything it was answered.
  Bytes Exchange(ClientId client, const Bytes& message) {
    Bytes replies;
    EXPECT_EQ(session_->Receive(client, message, replies), Session::Outcome::kOk);
    return replies;
  }
  static std::uint32_t Result(const Bytes& reply) { return MessageResult(reply.data()); }

  void CreateAndConnect(ClientId client) {
    ASSERT_EQ(
        Result(Exchange(client, test::CreateSocketRequest(session_->service_channel(), "USB001"))),
        0u);
    const std::uint32_t r = Result(Exchange(client, test::ConnectRequest()));
    ASSERT_FALSE(result::Failed(r));
  }

  std::uint32_t now_ = 50000;
  ChannelApi api_;
  std::unique_ptr<Session> session_;
};

TEST_F(SessionTest, CreateSocketCreatesTheChannelOnce) {
  Open(kSharedManagementChannel);
  const Bytes request = test::CreateSocketRequest(0x20, "USB001");
  const Bytes first = Exchange(1, request);
  ASSERT_EQ(first.size(), 44u);
  EXPECT_EQ(Result(first), 0u);
  EXPECT_EQ(LoadLe32(first.data() + create_socket::kSocketId), 0x41u);
  EXPECT_TRUE(std::equal(request.begin() + 12, request.begin() + 38, first.begin() + 12));
  // A repeated CreateSocket and a second client get the same identifier.
  EXPECT_EQ(Exchange(1, request), first);
  EXPECT_EQ(Exchange(2, request), first);
  EXPECT_EQ(Fake().Count("CreateSocket"), 1);
  EXPECT_EQ(Fake().Count("Bind"), 1);
}

TEST_F(SessionTest, FailedCreateSocketDetachesAndClosesTheChannel) {
  Open(kPrintJobChannel);
  Fake().bind_result = -1;
  const Bytes reply = Exchange(1, test::CreateSocketRequest(0x10, "USB001"));
  EXPECT_EQ(Result(reply), result::kChannelNotOpen);
  EXPECT_FALSE(session_->has_clients());
  EXPECT_EQ(Fake().calls, (std::vector<std::string>{"CreateSocket", "Bind", "CloseSocket"}));

  test::ResetFake();
  Fake().create_result = 0xFFFF;
  EXPECT_EQ(Result(Exchange(1, test::CreateSocketRequest(0x10, "USB001"))),
            result::kChannelNotOpen);
  EXPECT_EQ(Fake().calls, (std::vector<std::string>{"CreateSocket"}));
}

TEST_F(SessionTest, ConnectStoresItsResultAndPacketSizes) {
  Open(kSharedManagementChannel);
  EXPECT_EQ(Result(Exchange(1, test::GetPacketSizeRequest())), result::kChannelNotOpen);
  CreateAndConnect(1);
  EXPECT_EQ(Fake().Count("SetTimeout(100,100)"), 1);
  const Bytes sizes = Exchange(1, test::GetPacketSizeRequest());
  EXPECT_EQ(Result(sizes), 0u);
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kSendingSize), 4096);
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kReceivingSize), 512);
  // A second client's Connect answers the stored result without a channel call.
  Exchange(2, test::CreateSocketRequest(0x20, "USB001"));
  EXPECT_EQ(Result(Exchange(2, test::ConnectRequest())), 0u);
  EXPECT_EQ(Fake().Count("Connect"), 1);
}

TEST_F(SessionTest, RawPortConnectKeepsDefaultSizes) {
  Open(kPrintJobChannel);
  Fake().connect_result = 1;
  Exchange(1, test::CreateSocketRequest(0x10, "USB001"));
  EXPECT_EQ(Result(Exchange(1, test::ConnectRequest())), result::kRawPort);
  EXPECT_EQ(Result(Exchange(1, test::ConnectRequest())), result::kRawPort);
  const Bytes sizes = Exchange(1, test::GetPacketSizeRequest());
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kSendingSize), 1024);
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kReceivingSize), 1024);
  EXPECT_EQ(Fake().Count("GetPacketSizeFromSocket"), 0);
}

TEST_F(SessionTest, BusyAndFailedConnectsDetachTheClient) {
  for (const auto& [rc, expected] :
       {std::pair{-50, result::kBusy}, {-402, result::kBusy}, {-999, result::kChannelNotOpen}}) {
    test::ResetFake();
    Open(kPrintJobChannel);
    Fake().connect_result = rc;
    Exchange(1, test::CreateSocketRequest(0x10, "USB001"));
    EXPECT_EQ(Result(Exchange(1, test::ConnectRequest())), expected) << rc;
    EXPECT_FALSE(session_->has_clients());
    EXPECT_EQ(Fake().calls.back(), "CloseSocket");
  }
}

TEST_F(SessionTest, ValidationAnswersMalformed) {
  Open(kPrintJobChannel);
  Bytes short_timeout = test::Request(code::kSetTimeout, 16);
  const Bytes reply = Exchange(1, short_timeout);
  ASSERT_EQ(reply.size(), 20u);
  EXPECT_EQ(Result(reply), result::kMalformed);
  EXPECT_EQ(MessageCode(reply.data()), code::kSetTimeout);
  EXPECT_TRUE(std::all_of(reply.begin() + 12, reply.end(), [](std::uint8_t b) { return !b; }));
  // Unknown codes get no reply.
  EXPECT_TRUE(Exchange(1, test::Request(0x402, 12)).empty());
}

TEST_F(SessionTest, UnsoundMessagesCloseTheConnection) {
  Open(kPrintJobChannel);
  Bytes replies;
  Bytes stream = test::ConnectRequest();  // answered before the bad one
  Bytes bad = test::SendRequest(Bytes(4, 1));
  StoreLe32(bad.data() + send::kCount, 100);
  stream.insert(stream.end(), bad.begin(), bad.end());
  EXPECT_EQ(session_->Receive(1, stream, replies), Session::Outcome::kClose);
  EXPECT_EQ(replies.size(), 12u);
}

TEST_F(SessionTest, SendOnThePrintJobChannel) {
  Open(kPrintJobChannel);
  EXPECT_EQ(Result(Exchange(1, test::SendRequest({}))), 0u);  // n = 0, not even connected
  EXPECT_EQ(Result(Exchange(1, test::SendRequest(Bytes(3, 1)))), result::kChannelNotOpen);
  CreateAndConnect(1);
  EXPECT_EQ(Result(Exchange(1, test::SendRequest({}))), 0u);
  EXPECT_EQ(Fake().Count("Send"), 0);

  Fake().send_results = {100, 200, 0};
  EXPECT_EQ(Result(Exchange(1, test::SendRequest(Bytes(1000, 2)))), 0x40100000u + 300);
  Fake().send_results = {400, 600};
  EXPECT_EQ(Result(Exchange(1, test::SendRequest(Bytes(1000, 3)))), 0u);
  EXPECT_EQ(Fake().sent.size(), 1300u);
  // Data on the print-job channel is not parsed.
  EXPECT_EQ(Fake().sent[299], 2);

  Fake().send_results = {-25};
  EXPECT_EQ(Result(Exchange(1, test::SendRequest(Bytes(10, 3)))), result::kChannelNotOpen);
  EXPECT_EQ(Fake().calls.back(), "CloseSocket");
  EXPECT_EQ(Result(Exchange(1, test::RecvRequest(10))), result::kChannelNotOpen);
}

TEST_F(SessionTest, RecvDeliversAtMost4096BytesAndKeepsTheRest) {
  Open(kPrintJobChannel);
  CreateAndConnect(1);
  EXPECT_EQ(LoadLe32(Exchange(1, test::RecvRequest(100)).data() + recv::kCount), 0u);
  // 3 packets of 2020 bytes from the printer.
  Bytes held;
  for (int i = 0; i < 3; ++i) {
    const Bytes p = test::DevicePacket(3, 1, packet::kFlagAnswer, Bytes(2000, std::uint8_t(i)));
    held.insert(held.end(), p.begin(), p.end());
  }
  Fake().held = held;
  now_ += 1000;
  const Bytes first = Exchange(1, test::RecvRequest(100000));
  ASSERT_EQ(first.size(), 4112u);
  EXPECT_EQ(Result(first), 0u);
  EXPECT_EQ(LoadLe32(first.data() + recv::kCount), 4096u);
  const Bytes second = Exchange(1, test::RecvRequest(100000));
  EXPECT_EQ(LoadLe32(second.data() + recv::kCount), held.size() - 4096);
  Bytes got = test::RecvData(first);
  const Bytes rest = test::RecvData(second);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, held);
}

TEST_F(SessionTest, RecvPacesActivePolls) {
  Open(kPrintJobChannel);
  CreateAndConnect(1);
  auto modes = [] {
    std::vector<std::string> polls;
    for (const auto& c : Fake().calls) {
      if (c.rfind("GetDataSizeInSocket", 0) == 0) polls.push_back(c);
    }
    Fake().calls.clear();
    return polls;
  };
  modes();
  Exchange(1, test::RecvRequest(10));  // first read: active
  now_ += 50;
  Exchange(1, test::RecvRequest(10));  // within 100 ms: collect only
  now_ += 60;
  Exchange(1, test::RecvRequest(10));  // 110 ms after the active one
  EXPECT_EQ(modes(), (std::vector<std::string>{"GetDataSizeInSocket(1)", "GetDataSizeInSocket(0)",
                                               "GetDataSizeInSocket(1)"}));
  // While a job channel is open, active polls are a second apart.
  Fake().job_open = 1;
  now_ += 500;
  Exchange(1, test::RecvRequest(10));
  now_ += 501;
  Exchange(1, test::RecvRequest(10));
  EXPECT_EQ(modes(),
            (std::vector<std::string>{"GetDataSizeInSocket(0)", "GetDataSizeInSocket(1)"}));
}

TEST_F(SessionTest, LastClientLeavingClosesTheChannelWithJobCancelFirstWhenAsked) {
  for (const std::uint32_t cancel : {1u, 0u}) {
    test::ResetFake();
    Open(kPrintJobChannel);
    CreateAndConnect(1);
    Fake().calls.clear();
    EXPECT_EQ(Result(Exchange(1, test::DeleteSocketRequest(cancel))), 0u);
    EXPECT_FALSE(session_->has_clients());
    EXPECT_FALSE(session_->connected());
    if (cancel) {
      EXPECT_EQ(Fake().calls, (std::vector<std::string>{"JobCancel", "CloseSocket"}));
    } else {
      EXPECT_EQ(Fake().calls, (std::vector<std::string>{"CloseSocket"}));
    }
  }
}

TEST_F(SessionTest, LibraryWithoutJobCancelStillCloses) {
  Open(kPrintJobChannel, true, false);
  CreateAndConnect(1);
  Fake().calls.clear();
  Exchange(1, test::DeleteSocketRequest(1));
  EXPECT_EQ(Fake().calls, (std::vector<std::string>{"CloseSocket"}));
}

TEST_F(SessionTest, MissingLibraryAnswersNotLoaded) {
  Open(kSharedManagementChannel, false);
  EXPECT_EQ(Result(Exchange(1, test::CreateSocketRequest(0x20, "USB001"))), result::kNoLibrary);
  EXPECT_EQ(Result(Exchange(1, test::ConnectRequest())), result::kNoLibrary);
  EXPECT_EQ(Result(Exchange(1, test::RecvRequest(1))), result::kNoLibrary);
  EXPECT_EQ(Result(Exchange(1, test::GetPacketSizeRequest())), result::kChannelNotOpen);
  EXPECT_EQ(Result(Exchange(1, test::DeleteSocketRequest(0))), result::kNoLibrary);
}

TEST_F(SessionTest, SecondClientOnASingleClientChannelIsRefused) {
  Open(kPrintJobChannel);
  CreateAndConnect(1);
  Bytes stream = test::CreateSocketRequest(0x10, "USB001");
  for (const Bytes& m :
       {test::ConnectRequest(), test::SendRequest(Bytes(5, 1)), test::RecvRequest(5),
        test::DeleteSocketRequest(0), test::Request(0x999, 12)}) {
    stream.insert(stream.end(), m.begin(), m.end());
  }
  const Bytes replies = Exchange(2, stream);
  ASSERT_EQ(replies.size(), 44u + 12 + 12 + 4112 + 16);
  EXPECT_EQ(Result(replies), result::kRefused);
  EXPECT_EQ(MessageResult(replies.data() + 44), result::kRefused);
  EXPECT_EQ(MessageResult(replies.data() + 56), result::kNotServed);
  EXPECT_EQ(MessageResult(replies.data() + 68), result::kNotServed);
  EXPECT_EQ(MessageCode(replies.data() + 68), code::kRecv);
  EXPECT_EQ(MessageResult(replies.data() + 68 + 4112), 0u);
  EXPECT_EQ(Fake().Count("CreateSocket"), 1);
  // Once the first client has gone, the next message attaches.
  session_->Disconnect(1);
  EXPECT_EQ(Result(Exchange(2, test::CreateSocketRequest(0x10, "USB001"))), 0u);
}

TEST_F(SessionTest, SixteenClientsShareTheManagementChannel) {
  Open(kSharedManagementChannel);
  for (ClientId c = 1; c <= 16; ++c) CreateAndConnect(c);
  EXPECT_EQ(Result(Exchange(17, test::CreateSocketRequest(0x20, "USB001"))), result::kRefused);
  // Each client's request comes back to it alone, by the slot in its identifier.
  for (ClientId c = 1; c <= 16; ++c) {
    EXPECT_EQ(Result(Exchange(c, test::SendRequest(test::DevicePacket(3, 5, 4, {})))), 0u);
  }
  Bytes answers;
  for (const Bytes& sent : Fake().sends) {
    Bytes answer = sent;
    answer[packet::kFlags] = packet::kFlagAnswer;
    answers.insert(answers.begin(), answer.begin(), answer.end());  // reversed order
  }
  Fake().held = answers;
  now_ += 1000;
  for (ClientId c = 1; c <= 16; ++c) {
    const Bytes reply = Exchange(c, test::RecvRequest(4096));
    const Bytes data = test::RecvData(reply);
    ASSERT_EQ(data.size(), 20u) << c;
    EXPECT_EQ(packet::Transaction(data.data()), 5);
  }
  EXPECT_EQ(session_->multiplexer().pending_identifiers(), 0u);
}

TEST_F(SessionTest, QueriesPassThroughToTheChannel) {
  Open(kSingleManagementChannel);
  CreateAndConnect(1);
  Fake().capability_output = Bytes(2000, 0xCC);
  Bytes cap = test::Request(code::kGetChannelCapability, get_channel_capability::kRequestSize);
  StoreLe32(cap.data() + get_channel_capability::kInputLength, 4);
  StoreLe32(cap.data() + get_channel_capability::kOutputCapacity, 5000);
  const Bytes cap_reply = Exchange(1, cap);
  ASSERT_EQ(cap_reply.size(), 1040u);
  EXPECT_EQ(Result(cap_reply), 0u);
  EXPECT_EQ(LoadLe32(cap_reply.data() + get_channel_capability::kOutputLength), 1024u);
  StoreLe32(cap.data() + get_channel_capability::kInputLength, 1025);
  EXPECT_EQ(Result(Exchange(1, cap)), result::kParameter);

  Fake().held = Bytes(20, 0);  // not a packet: dropped from the queue, counted by the library
  const Bytes size = Exchange(1, test::GetDataSizeRequest(0));
  EXPECT_EQ(LoadLe32(size.data() + get_data_size::kSize), 20u);

  Bytes timeouts = test::Request(code::kSetTimeout, set_timeout::kRequestSize);
  StoreLe32(timeouts.data() + set_timeout::kReceiveTimeout, 7);
  StoreLe32(timeouts.data() + set_timeout::kSendTimeout, 9);
  const Bytes set_reply = Exchange(1, timeouts);
  EXPECT_EQ(Result(set_reply), 0u);
  EXPECT_EQ(LoadLe32(set_reply.data() + 12), 7u);
  EXPECT_EQ(Fake().Count("SetTimeout(7,9)"), 1);
  Fake().get_timeout_result = 0;
  EXPECT_EQ(Result(Exchange(1, test::Request(code::kGetTimeout, 20))), result::kChannelCall);

  Fake().job_open = 1;
  const Bytes job = Exchange(1, test::Request(code::kCheckOpenedJobCH, 16));
  EXPECT_EQ(LoadLe32(job.data() + check_opened_job_ch::kValue), 1u);
  Bytes polling = test::Request(code::kSetPollingTime, 16);
  StoreLe32(polling.data() + 12, 250);
  EXPECT_EQ(Exchange(1, polling), polling);
}

}  // namespace
}  // namespace tgx::agent
