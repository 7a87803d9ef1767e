// The wire protocol's framing: message splitting with reassembly and the
// rejection of unsound headers, and the packet splitter of the device packets.
#include <gtest/gtest.h>

#include "first_message.h"
#include "message_splitter.h"
#include "messages.h"

namespace tgx::agent {
namespace {

using test::Bytes;

std::vector<Bytes> Drain(MessageSplitter& s, MessageSplitter::Status& last) {
  std::vector<Bytes> out;
  std::span<const std::uint8_t> m;
  while ((last = s.Next(m)) == MessageSplitter::Status::kMessage)
    out.emplace_back(m.begin(), m.end());
  return out;
}

TEST(MessageSplitter, ReassemblesMessagesSplitAnywhere) {
  Bytes stream = test::CreateSocketRequest(0x20, "USB001");
  const Bytes send = test::SendRequest(Bytes(300, 0x5A));
  stream.insert(stream.end(), send.begin(), send.end());
  const Bytes recv = test::RecvRequest(4096);
  stream.insert(stream.end(), recv.begin(), recv.end());

  for (std::size_t cut = 1; cut < stream.size(); cut += 7) {
    MessageSplitter s;
    MessageSplitter::Status last;
    s.Append({stream.data(), cut});
    auto first = Drain(s, last);
    EXPECT_EQ(last, MessageSplitter::Status::kNeedMore);
    s.Append({stream.data() + cut, stream.size() - cut});
    auto rest = Drain(s, last);
    EXPECT_EQ(last, MessageSplitter::Status::kNeedMore);
    first.insert(first.end(), rest.begin(), rest.end());
    ASSERT_EQ(first.size(), 3u) << "cut at " << cut;
    EXPECT_EQ(first[1], send);
    EXPECT_EQ(first[2], recv);
    EXPECT_EQ(s.buffered(), 0u);
  }
}

TEST(MessageSplitter, RejectsHeadersThatCannotBeSound) {
  struct Case {
    const char* what;
    Bytes message;
  };
  Bytes short_length = test::ConnectRequest();
  StoreLe32(short_length.data(), 11);
  Bytes zero_length = test::ConnectRequest();
  StoreLe32(zero_length.data(), 0);
  Bytes long_fixed = test::Request(code::kConnect, 13);
  Bytes long_send = test::Request(code::kSend, send::kMaxRequestSize + 1);
  Bytes count_too_big = test::SendRequest(Bytes(10, 1));
  StoreLe32(count_too_big.data() + send::kCount, 11);
  Bytes send_without_trailer = test::Request(code::kSend, 12);
  Bytes huge_unknown = test::Request(0x999, 12);
  StoreLe32(huge_unknown.data(), 0x7FFFFFFF);
  for (const Case& c :
       {Case{"length 11", short_length}, Case{"length 0", zero_length},
        Case{"Connect of 13", long_fixed}, Case{"Send of 65549", long_send},
        Case{"count beyond length", count_too_big}, Case{"Send of 12", send_without_trailer},
        Case{"unknown code, 2 GiB", huge_unknown}}) {
    MessageSplitter s;
    const Bytes good = test::ConnectRequest();
    s.Append(good);
    s.Append({c.message.data(), std::min<std::size_t>(c.message.size(), 64)});
    MessageSplitter::Status last;
    EXPECT_EQ(Drain(s, last).size(), 1u) << c.what;
    EXPECT_EQ(last, MessageSplitter::Status::kMalformed) << c.what;
    EXPECT_EQ(s.buffered(), 0u) << c.what;
    // The stream stays rejected: nothing more is buffered or returned.
    s.Append(good);
    EXPECT_EQ(Drain(s, last).size(), 0u) << c.what;
    EXPECT_EQ(last, MessageSplitter::Status::kMalformed);
  }
}

TEST(MessageSplitter, AcceptsTheLimits) {
  MessageSplitter s;
  const Bytes biggest = test::SendRequest(Bytes(send::kMaxCount, 7));
  ASSERT_EQ(biggest.size(), send::kMaxRequestSize);
  const Bytes short_fixed = test::Request(code::kGetTimeout, 12);  // answered 0xC0100005
  const Bytes unknown = test::Request(0x402, 16);
  for (const Bytes* m : {&biggest, &short_fixed, &unknown}) s.Append(*m);
  MessageSplitter::Status last;
  EXPECT_EQ(Drain(s, last).size(), 3u);
  EXPECT_EQ(last, MessageSplitter::Status::kNeedMore);
}

TEST(FirstMessage, RoutesRefusesOrClosesWithinThePeek) {
  const Bytes create = test::CreateSocketRequest(0x20, "Usb001");
  FirstMessage m = ExamineFirstMessage(create);
  EXPECT_EQ(m.kind, FirstMessage::Kind::kCreateSocket);
  EXPECT_EQ(ServiceChannelOf(m.descriptor), 0x20);
  EXPECT_EQ(ExamineFirstMessage({create.data(), 7}).kind, FirstMessage::Kind::kIncomplete);
  EXPECT_EQ(ExamineFirstMessage({create.data(), 43}).kind, FirstMessage::Kind::kIncomplete);

  m = ExamineFirstMessage(test::RecvRequest(5));
  EXPECT_EQ(m.kind, FirstMessage::Kind::kRefuse);
  EXPECT_EQ(m.length, 12u);
  // A length that cannot hold the result field, or lies beyond the peek.
  Bytes tiny = test::ConnectRequest();
  StoreLe32(tiny.data(), 8);
  EXPECT_EQ(ExamineFirstMessage(tiny).kind, FirstMessage::Kind::kUnsound);
  const Bytes send = test::SendRequest(Bytes(100, 1));
  EXPECT_EQ(ExamineFirstMessage({send.data(), kRouterPeekLimit}).kind,
            FirstMessage::Kind::kUnsound);

  ChannelDescriptor other{};
  const Bytes d = test::Descriptor(0x20, "USB001");
  std::copy(d.begin(), d.end(), other.begin());
  EXPECT_TRUE(SamePortName(m.descriptor, m.descriptor));
  m = ExamineFirstMessage(create);
  EXPECT_TRUE(SamePortName(m.descriptor, other));
  EXPECT_TRUE(SameServiceChannel(m.descriptor, other));
  const Bytes d2 = test::Descriptor(0x20, "USB0010");
  std::copy(d2.begin(), d2.end(), other.begin());
  EXPECT_FALSE(SamePortName(m.descriptor, other));
}

TEST(CommandTable, RefusalsAndSizes) {
  EXPECT_EQ(FindCommand(code::kCreateSocket)->refusal_result, result::kRefused);
  EXPECT_EQ(FindCommand(code::kConnect)->refusal_result, result::kRefused);
  EXPECT_EQ(FindCommand(code::kDeleteSocket)->refusal_result, result::kSuccess);
  EXPECT_EQ(FindCommand(code::kRecv)->reply_size, 4112u);
  EXPECT_EQ(FindCommand(code::kGetChannelCapability)->reply_size, 1040u);
  EXPECT_EQ(FindCommand(code::kCheckOpenedJobCH)->refusal_result, result::kNotServed);
  EXPECT_EQ(FindCommand(code::kWakeupRead), nullptr);
  EXPECT_EQ(LargestMessage(code::kSend), 65548u);
  EXPECT_EQ(LargestMessage(code::kGetChannelCapability), 1044u);
}

}  // namespace
}  // namespace tgx::agent
