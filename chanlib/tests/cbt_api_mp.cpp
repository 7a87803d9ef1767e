// The CBT API as a program sees it: the library loaded by name, a real worker
// and a test port library, and a fake printer on a pty.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>

#include "chanlib/cbt.h"
#include "chanlib/result_codes.h"
#include "fake_printer.h"
#include "tgx/library.h"
#include "tgx/win32.h"

namespace tgx::chanlib {
namespace {

using namespace tgx::wire;

using testing::FakePrinter;

// Failure waits in seconds, not minutes.
const bool kScaledTimeouts = setenv("TGX_TIMEOUT_DIVISOR", "20", 1) == 0;

// The exports, bound by name.
struct Cbt {
  explicit Cbt(const char* library)
      : module(Module::Load((OwnModuleDirectory() + "/" + library).c_str())) {
    Bind(CreateSocket, "CBT_CreateSocket");
    Bind(Bind_, "CBT_Bind");
    Bind(GetSocketID, "CBT_GetSocketID");
    Bind(Connect, "CBT_Connect");
    Bind(CloseSocket, "CBT_CloseSocket");
    Bind(Recv, "CBT_Recv");
    Bind(Send, "CBT_Send");
    Bind(GetDataSizeInSocket, "CBT_GetDataSizeInSocket");
    Bind(GetChannelCapability, "CBT_GetChannelCapability");
    Bind(EnumChannel, "CBT_EnumChannel");
    Bind(SetTimeout, "CBT_SetTimeout");
    Bind(GetTimeout, "CBT_GetTimeout");
    Bind(GetPacketSizeFromSocket, "CBT_GetPacketSizeFromSocket");
    Bind(CheckOpenedJobCH, "CBT_CheckOpenedJobCH");
    Bind(JobCancel, "CBT_JobCancel");
  }
  template <class F>
  void Bind(F*& function, const char* name) {
    function = module.Proc<F*>(name);
    EXPECT_NE(nullptr, function) << name;
  }
  int BindTo(std::uint16_t socket, const std::string& port) {
    std::uint8_t info[28] = {};
    port.copy(reinterpret_cast<char*>(info + 4), 19);
    return Bind_(socket, info);
  }
  int ConnectTo(std::uint16_t socket, std::uint8_t service) {
    std::uint8_t info[26] = {};
    info[2] = service;
    return Connect(socket, info);
  }
  int SendAll(std::uint16_t socket, const std::string& data) {
    std::size_t sent = 0;
    for (int calls = 0; sent < data.size() && calls < 100000; ++calls) {
      const int n = Send(socket, data.data() + sent, static_cast<int>(data.size() - sent));
      if (n < 0) return n;
      sent += static_cast<std::size_t>(n);
    }
    return static_cast<int>(sent);
  }

  Module module;
  decltype(&CBT_CreateSocket) CreateSocket;
  decltype(&CBT_Bind) Bind_;
  decltype(&CBT_GetSocketID) GetSocketID;
  decltype(&CBT_Connect) Connect;
  decltype(&CBT_CloseSocket) CloseSocket;
  decltype(&CBT_Recv) Recv;
  decltype(&CBT_Send) Send;
  decltype(&CBT_GetDataSizeInSocket) GetDataSizeInSocket;
  decltype(&CBT_GetChannelCapability) GetChannelCapability;
  decltype(&CBT_EnumChannel) EnumChannel;
  decltype(&CBT_SetTimeout) SetTimeout;
  decltype(&CBT_GetTimeout) GetTimeout;
  decltype(&CBT_GetPacketSizeFromSocket) GetPacketSizeFromSocket;
  decltype(&CBT_CheckOpenedJobCH) CheckOpenedJobCH;
  decltype(&CBT_JobCancel) JobCancel;
};

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
  return data;
}

TEST(CbtApi, PrintsAJobThroughThePacketProtocol) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB001", "MFG:Test;CMD:1284.4,PCL;");
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  EXPECT_EQ(kNotInitialised, cbt.BindTo(0, "USB001"));

  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(0, socket);
  EXPECT_EQ(1, cbt.GetSocketID(socket));
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB001"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x10));
  EXPECT_EQ(1, cbt.CheckOpenedJobCH(socket));

  std::uint16_t sendSize = 0;
  std::uint16_t recvSize = 0;
  ASSERT_EQ(kOk, cbt.GetPacketSizeFromSocket(socket, &sendSize, &recvSize));
  EXPECT_EQ(512, sendSize);
  EXPECT_EQ(512, recvSize);
  std::uint32_t recvTimeout = 0;
  std::uint32_t sendTimeout = 0;
  ASSERT_EQ(1, cbt.GetTimeout(socket, &recvTimeout, &sendTimeout));
  EXPECT_EQ(5000u, recvTimeout);
  EXPECT_EQ(5000u, sendTimeout);

  char id[256];
  std::uint32_t returned = 0;
  ASSERT_EQ(kOk, cbt.GetChannelCapability(socket, 0x16000C, nullptr, 0, id, sizeof id, &returned));
  EXPECT_EQ("MFG:Test;CMD:1284.4,PCL;", std::string(id, returned));

  const std::string job = Pattern(40000);
  EXPECT_EQ(static_cast<int>(job.size()), cbt.SendAll(socket, job));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));  // waits for the queue to drain
  EXPECT_EQ(job, printer.Received(0x10));
  // The job asked for more credit as it went, and the port said goodbye.
  const auto commands = printer.Commands();
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), 0x04));
  EXPECT_EQ(0x08, commands.back());
}

TEST(CbtApi, ManagementChannelReceivesWithGrantedCredit) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB002", "CMD:1284.4;");
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB002"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x20));
  EXPECT_EQ(0, cbt.CheckOpenedJobCH(socket));
  EXPECT_EQ(kConnectionGone, cbt.JobCancel(socket));
  // The host granted the printer credit at once (a Credit command).
  const auto commands = printer.Commands();
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), 0x03));

  EXPECT_EQ(static_cast<int>(std::string("status?").size()), cbt.Send(socket, "status?", 7));
  printer.SendData(0x20, "answer-1");
  printer.SendData(0x20, "answer-2");
  char buffer[64];
  ASSERT_EQ(1, cbt.SetTimeout(socket, 3000, 3000));
  int got = 0;
  while (got < 16) {
    const int n = cbt.Recv(socket, buffer + got, 16 - got);
    ASSERT_GT(n, 0);
    got += n;
  }
  EXPECT_EQ("answer-1answer-2", std::string(buffer, 16));
  EXPECT_EQ(0, cbt.GetDataSizeInSocket(socket, 0));
  ASSERT_EQ(1, cbt.SetTimeout(socket, 0, 0));
  EXPECT_EQ(0, cbt.Recv(socket, buffer, sizeof buffer));  // time-out 0: at once
  EXPECT_EQ("status?", printer.Received(0x20));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));
}

TEST(CbtApi, RawPrinterGetsRawData) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB003", "MFG:Test;CMD:PCL,POSTSCRIPT;");
  printer.protocol = false;
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB003"));
  ASSERT_EQ(2, cbt.ConnectTo(socket, 0x10));
  std::uint16_t sendSize = 1;
  std::uint16_t recvSize = 1;
  ASSERT_EQ(kOk, cbt.GetPacketSizeFromSocket(socket, &sendSize, &recvSize));
  EXPECT_EQ(0, sendSize + recvSize);
  const std::string job = Pattern(70000);
  EXPECT_EQ(70000, cbt.Send(socket, job.data(), static_cast<int>(job.size())));
  for (int i = 0; i < 200 && printer.Received(0).size() < job.size(); ++i) Sleep(10);
  EXPECT_EQ(job, printer.Received(0));
  printer.SendRaw({'o', 'k'});
  char buffer[8];
  EXPECT_EQ(2, cbt.Recv(socket, buffer, sizeof buffer));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));
}

TEST(CbtApi, RefusalsAndBadArguments) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB004", "CMD:1284.4;");
  printer.openResult = kResultInsufficientResources;
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  cbt.EnumChannel();
  const std::uint16_t socket = cbt.CreateSocket();
  EXPECT_EQ(kBadSocket, cbt.BindTo(29, "USB004"));
  EXPECT_EQ(kBadSocket, cbt.GetSocketID(0xFFFF));
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB009"));
  EXPECT_EQ(-4440, cbt.ConnectTo(socket, 0x10));
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB004"));
  EXPECT_EQ(kBadServiceChannel, cbt.ConnectTo(socket, 0x40));
  EXPECT_EQ(kChannelRefused3, cbt.ConnectTo(socket, 0x10));
  EXPECT_EQ(kNoConnection, cbt.Send(socket, "x", 1));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));  // never connected
  EXPECT_EQ(kBadSocket, cbt.CloseSocket(socket));

  // "lpt2:" is cut after the digit, in the caller's structure too.
  const std::uint16_t lpt = cbt.CreateSocket();
  std::uint8_t info[28] = {};
  std::memcpy(info + 4, "lpt2:", 5);
  ASSERT_EQ(kOk, cbt.Bind_(lpt, info));
  EXPECT_STREQ("lpt2", reinterpret_cast<char*>(info + 4));

  // Thirty live sockets; the thirty-first is refused.
  int live = 1;
  while (cbt.CreateSocket() != 0xFFFF) ++live;
  EXPECT_EQ(30, live);
}

TEST(CbtApi, The9xBuildAnswersItsOwnCodes) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB005", "CMD:1284.4;");
  printer.Start();
  Cbt cbt("libchanlib95.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB005"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x10));
  char id[64];
  std::uint32_t returned = 0;
  EXPECT_EQ(kOk, cbt.GetChannelCapability(socket, 17, nullptr, 0, id, sizeof id, &returned));
  EXPECT_EQ("CMD:1284.4;", std::string(id, returned));
  EXPECT_EQ(kOk, cbt.GetChannelCapability(socket, 7, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));
}

TEST(CbtApi, PrinterExitTakesTheConnectionDownAndALaterConnectWorks) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB006", "CMD:1284.4;");
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB006"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x20));
  printer.SendCommand(ExitCommand{});
  char buffer[16];
  EXPECT_EQ(kSessionEnded, cbt.Recv(socket, buffer, sizeof buffer));
  // The connection is lost until the socket closes.
  EXPECT_EQ(kConnectionGone, cbt.Recv(socket, buffer, sizeof buffer));
  EXPECT_EQ(kNoConnection, cbt.Send(socket, "x", 1));
  EXPECT_EQ(kProtocolFailure, cbt.GetDataSizeInSocket(socket, 0));
  EXPECT_EQ(kSessionEnded,
            cbt.GetChannelCapability(socket, 0x16000C, nullptr, 0, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));

  const std::uint16_t again = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(again, "USB006"));
  ASSERT_EQ(0, cbt.ConnectTo(again, 0x20));
  EXPECT_EQ(3, cbt.Send(again, "abc", 3));
  EXPECT_EQ(kOk, cbt.CloseSocket(again));
  EXPECT_EQ("abc", printer.Received(0x20));
}

TEST(CbtApi, PrinterErrorEndsTheSession) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB007", "CMD:1284.4;");
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB007"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x30));
  printer.SendCommand(ErrorNotice{{1, 2, 3}});
  printer.SendCommand(ExitCommand{});
  // The pump meets the Error, answers the Exit after it and fails the port.
  EXPECT_EQ(kProtocolFailure, cbt.GetDataSizeInSocket(socket, 1));
  const auto commands = printer.Commands();
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), ExitReply::kCode));
  char buffer[4];
  EXPECT_EQ(kConnectionGone, cbt.Recv(socket, buffer, sizeof buffer));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));
}

TEST(CbtApi, WithheldCreditEndsTheSendAfterItsRequests) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB008", "CMD:1284.4;");
  printer.initialCredit = 1;
  printer.creditPerRequest = 0;
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB008"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x30));
  const std::string data = Pattern(2000);
  const DWORD start = GetTickCount();
  // One packet goes on the credit granted at open; then ten requests bring none.
  EXPECT_EQ(506, cbt.Send(socket, data.data(), static_cast<int>(data.size())));
  EXPECT_LT(GetTickCount() - start, 20000u);
  const auto commands = printer.Commands();
  EXPECT_EQ(10, std::count(commands.begin(), commands.end(), 0x04));
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));
  EXPECT_EQ(data.substr(0, 506), printer.Received(0x30));
}

TEST(CbtApi, KilledWorkerFailsThePortAndTheNextConnectStartsAnother) {
  ASSERT_TRUE(kScaledTimeouts);
  FakePrinter printer("USB010", "CMD:1284.4;");
  printer.Start();
  Cbt cbt("libchanlibNT.so");
  const std::uint16_t socket = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(socket, "USB010"));
  ASSERT_EQ(0, cbt.ConnectTo(socket, 0x20));
  std::ifstream log(std::filesystem::path(std::getenv("TGX_DEVICE_ROOT")) / "testport" /
                    "USB010.log");
  std::string word;
  pid_t worker = 0;
  while (log >> word) {
    if (word == "pid") log >> worker;
  }
  ASSERT_GT(worker, 0);
  std::ofstream(std::filesystem::path(std::getenv("TGX_DEVICE_ROOT")) / "testport" / "USB010.hang");
  ASSERT_EQ(1, cbt.SetTimeout(socket, 30000, 30000));
  std::thread killer([worker] {
    Sleep(300);
    kill(worker, SIGKILL);
  });
  char buffer[8];
  EXPECT_EQ(kProtocolFailure, cbt.Recv(socket, buffer, sizeof buffer));  // -99 inside
  killer.join();
  EXPECT_EQ(kOk, cbt.CloseSocket(socket));

  std::filesystem::remove(std::filesystem::path(std::getenv("TGX_DEVICE_ROOT")) / "testport" /
                          "USB010.hang");
  const std::uint16_t again = cbt.CreateSocket();
  ASSERT_EQ(kOk, cbt.BindTo(again, "USB010"));
  ASSERT_EQ(0, cbt.ConnectTo(again, 0x20));
  EXPECT_EQ(2, cbt.Send(again, "hi", 2));
  EXPECT_EQ(kOk, cbt.CloseSocket(again));
}

}  // namespace
}  // namespace tgx::chanlib
