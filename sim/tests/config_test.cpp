// The configuration file and the device-ID helpers.
#include <gtest/gtest.h>

#include "config.h"
#include "device_id.h"

using namespace printersim;

TEST(ConfigTest, ReadsEveryKey) {
  const auto result = ParseConfig(
      "# comment\n"
      "; another\n"
      "[printer tg1]\n"
      "port = usb012\n"
      "device_id = MFG:A;CMD:PCL,1284.4;\n"
      "revision = 0x10\n"
      "max_packet = 1024\n"
      "credit = one\n"
      "credit_window = 7\n"
      "refuse_channel = 0x20:3, 48:7\n"
      "job_file = /tmp/x\n"
      "tcp_port = none\n"
      "ppdt = fw.1\n"
      "answer.5 = 01 02:0a\n"
      "answer_delay_ms = 5\n"
      "notify_interval_ms = 100\n"
      "notify_payload = 0xABCD\n"
      "ppdt_flush_delay_ms = 9\n"
      "ppdt_refuse = 0x00222F08:55\n"
      "error_after_packets = 4\n"
      "exit_after_packets = off\n"
      "stall = yes\n"
      "slow_ms = 30\n"
      "[printer lp]\n"
      "port = LPT2\n");
  ASSERT_TRUE(result.config) << result.error;
  ASSERT_EQ(result.config->printers.size(), 2u);
  const PrinterConfig& p = result.config->printers[0];
  EXPECT_EQ(p.name, "tg1");
  EXPECT_EQ(p.PortName(), "USB012");
  EXPECT_TRUE(p.SpeaksPacketProtocol());
  EXPECT_EQ(p.revision, 0x10);
  EXPECT_EQ(p.max_packet, 1024);
  EXPECT_EQ(p.credit, CreditPolicy::kOneAtATime);
  EXPECT_EQ(p.credit_window, 7);
  EXPECT_EQ(p.refuse_channel, (std::map<std::uint8_t, std::uint8_t>{{0x20, 3}, {0x30, 7}}));
  EXPECT_EQ(p.job_file, "/tmp/x");
  EXPECT_FALSE(p.tcp_port);
  EXPECT_EQ(p.ppdt_name, "fw.1");
  EXPECT_EQ(p.answers.at(5), (std::vector<std::uint8_t>{1, 2, 10}));
  EXPECT_EQ(p.notify_payload, (std::vector<std::uint8_t>{0xAB, 0xCD}));
  EXPECT_EQ(p.ppdt_refuse.at(0x00222F08), 55u);
  EXPECT_EQ(p.error_after_packets, 4u);
  EXPECT_FALSE(p.exit_after_packets);
  EXPECT_TRUE(p.stall);
  EXPECT_EQ(p.slow_ms, 30u);
  const PrinterConfig& lp = result.config->printers[1];
  EXPECT_EQ(lp.PortName(), "LPT2");
  EXPECT_EQ(lp.tcp_port, 0);  // ephemeral by default
}

TEST(ConfigTest, ErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"port = USB001\n", "line 1: a key outside"},
      {"[printer]\n", "line 1: expected [printer NAME]"},
      {"[printer a/b]\n", "line 1: printer name"},
      {"[printer a\n", "line 1: section header"},
      {"[printer a]\nport = USB1\n", "line 2: port"},
      {"[printer a]\nport = USB000\n", "line 2: port"},
      {"[printer a]\nport = LPT0\n", "line 2: port"},
      {"[printer a]\nnonsense\n", "line 2: expected KEY = VALUE"},
      {"[printer a]\ncolour = red\n", "line 2: unknown key 'colour'"},
      {"[printer a]\nmax_packet = 6\n", "line 2: max_packet"},
      {"[printer a]\ncredit = lots\n", "line 2: credit"},
      {"[printer a]\nanswer.0 = 01\n", "line 2: answer.0"},
      {"[printer a]\nanswer.3 = 0g\n", "line 2: answer.3"},
      {"[printer a]\nnotify_payload = 123\n", "line 2: notify_payload"},
      {"[printer a]\nrefuse_channel = 0x20\n", "line 2: refuse_channel"},
      {"[printer a]\ntcp_port = 70000\n", "line 2: tcp_port"},
      {"[printer a]\nstall = maybe\n", "line 2: stall"},
      {"[printer a]\nppdt = ../x\n", "line 2: ppdt"},
      {"", "no [printer NAME] section"},
      {"[printer a]\n[printer a]\n", "printer 'a' defined twice"},
      {"[printer a]\nport=USB001\n[printer b]\nport=usb001\n", "port USB001 used by two"},
      {"[printer a]\nppdt=x\n[printer b]\nppdt=x\n", "1394 device 'x' used by two"},
  };
  for (const Case& c : cases) {
    const auto result = ParseConfig(c.text);
    EXPECT_FALSE(result.config) << c.text;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << " gave: " << result.error;
  }
}

TEST(ConfigTest, CommandSetComesFromCommandSetElseCmd) {
  EXPECT_EQ(CommandSet("MFG:A;COMMAND SET:1284.4,USBHS;CMD:PCL;"), "1284.4,USBHS");
  EXPECT_EQ(CommandSet("MFG:A;CMD:PCL,1284.4"), "PCL,1284.4");
  EXPECT_EQ(CommandSet("MFG:A;MDL:B;"), "");
  PrinterConfig raw;
  raw.device_id = "MFG:A;CMD:PCL;DES:1284.4 capable;";
  EXPECT_FALSE(raw.SpeaksPacketProtocol());  // only the command set counts
  raw.protocol = Protocol::kPacket;
  EXPECT_TRUE(raw.SpeaksPacketProtocol());
}

TEST(ConfigTest, AutoprobeListsTheKnownFieldsInTheDriversOrder) {
  EXPECT_EQ(AutoprobeText("MFG:Arvona;CMD:1284.4;MDL:T;CLS:PRINTER;DES:Big;X:y;"),
            "CLASS:PRINTER;\nMODEL:T;\nMANUFACTURER:Arvona;\nDESCRIPTION:Big;\n"
            "COMMAND SET:1284.4;\n");
  EXPECT_EQ(AutoprobeText("MANUFACTURER:A;COMMAND SET:PCL;"),
            "MANUFACTURER:A;\nCOMMAND SET:PCL;\n");
  EXPECT_EQ(AutoprobeText(""), "");
}

TEST(ConfigTest, HexAndNumbers) {
  EXPECT_EQ(ParseHexBytes("0x0102"), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(ParseHexBytes(""), std::vector<std::uint8_t>{});
  EXPECT_FALSE(ParseHexBytes("1 2"));
  EXPECT_EQ(ParseNumber("0x1F"), 31u);
  EXPECT_EQ(ParseNumber(" 12 "), 12u);
  EXPECT_FALSE(ParseNumber("12a"));
  EXPECT_FALSE(ParseNumber("-1"));
  EXPECT_FALSE(ParseNumber("0x"));
}
