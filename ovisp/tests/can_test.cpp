// The CAN protocols against a recording link whose answers come from the
// simulated node, or from a script: the frames each operation sends and the
// replies it refuses.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ovisp/can.h"
#include "ovisp/comm_driver.h"
#include "ovisp/isp.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "ovisp/tests/fakes.h"
#include "platform/clock.h"
#include "sim/can_node.h"

namespace {

class RecordingCanLink : public ovisp_test::RecordingCanLinkBase {
 public:
  bool writeText(const std::string& frame) override {
    frames.push_back(frame);
    pending.clear();
    if (!scripted.empty()) {
      pending.push_back(scripted.front());
      scripted.pop_front();
      return true;
    }
    if (node) {
      const std::string digits = frame.substr(5);
      std::vector<std::uint8_t> data;
      for (std::size_t i = 0; i + 1 < digits.size(); i += 2) data.push_back(std::stoul(digits.substr(i, 2), nullptr, 16));
      for (const sim::CanFrame& f : node->receive({static_cast<std::uint32_t>(std::stoul(frame.substr(0, 3), nullptr, 16)), data})) {
        pending.push_back(f);
      }
    }
    return true;
  }
  bool readCan(std::uint32_t& id, std::uint8_t& length, std::uint8_t data[8], int ms) override {
    // Reads that wait for a reply; the protocol also looks, without
    // waiting, for what an earlier exchange left.
    if (ms > 0) ++reads;
    if (pending.empty()) {
      ovisp::setLastError(ovisp::kTimeout);
      return false;
    }
    const sim::CanFrame f = pending.front();
    pending.pop_front();
    id = f.id;
    length = static_cast<std::uint8_t>(f.data.size());
    std::copy(f.data.begin(), f.data.end(), data);
    return true;
  }

  std::unique_ptr<sim::CanNode> node;
  std::vector<std::string> frames;
  // Replaces the node's answer to the next frames, one frame each.
  std::deque<sim::CanFrame> scripted;
  std::deque<sim::CanFrame> pending;
  int reads = 0;
};

class Can : public ovisp_test::RecordingLinkTest<RecordingCanLink> {
 protected:
  // Device and a node with these settings; the node opened when `open`.
  void ready(int device, const std::string& settings, bool open = true, int cris = 0) {
    link->node = std::make_unique<sim::CanNode>(settings);
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(4), 1) << ispGetLastError();
    if (cris != 0) {
      ASSERT_EQ(ispUpdateCmdsIds(cris), 1);
    }
    if (open) {
      ASSERT_EQ(ispSelectCanNode(0x2A), 1) << ispGetLastError();
    }
    link->frames.clear();
    link->reads = 0;
  }
  ovisp::CanProtocol& protocol() { return *dynamic_cast<ovisp::CanProtocol*>(ovisp::session().protocol()); }
};

TEST_F(Can, IdentifiersFollowTheCrisUpTo7F) {
  ready(15, "", false);
  ASSERT_EQ(ispUpdateCmdsIds(0x7F), 1);
  EXPECT_EQ(protocol().canIds[0], "7F0");
  EXPECT_EQ(protocol().canIds[6], "7F6");
  EXPECT_EQ(protocol().fullEraseCmd, "7F40200FF");
  EXPECT_EQ(ispUpdateCmdsIds(0x80), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadCris);
  EXPECT_EQ(protocol().canIds[0], "7F0");
}

TEST_F(Can, NodeSelectionOpensAndClosesTheNode) {
  ready(15, "cris=01;node=FF", false, 1);
  // Everything that needs the node fails before it is opened.
  EXPECT_EQ(ispEraseBlock(0), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCanNodeClosed);
  EXPECT_TRUE(link->frames.empty());
  ASSERT_EQ(ispSelectCanNode(0xFF), 1) << ispGetLastError();
  EXPECT_EQ(link->frames, std::vector<std::string>{"01001FF"});
  EXPECT_TRUE(ovisp::session().device()->isCanNodeOpen());
  link->scripted.push_back({0x010, {0x01, 0x00}});
  EXPECT_EQ(ispSelectCanNode(0xFF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCanNodeClosed);
  EXPECT_FALSE(ovisp::session().device()->isCanNodeOpen());
  // Another node does not answer.
  EXPECT_EQ(ispSelectCanNode(0x01), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
}

TEST_F(Can, RepliesAreCheckedOnTheirIdentifier) {
  ready(15, "cris=01;node=2A", true, 1);
  // The node's error frame on base + 6 is a security error, not a wrong id.
  link->scripted.push_back({0x016, {0x00}});
  EXPECT_EQ(ispSetSecurityLev1(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kSoftwareSecurity);
  EXPECT_EQ(link->frames.back(), "014030105FE");
  link->scripted.push_back({0x015, {0x00}});
  EXPECT_EQ(ispSetSecurityLev1(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCanId);
  link->scripted.push_back({0x014, {0x01}});
  EXPECT_EQ(ispSetSecurityLev1(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotExecuteCommand);
  // The security byte is written only through the level frames; the boot
  // vector erase has no frame: both refused without traffic.
  link->frames.clear();
  EXPECT_EQ(ispWriteSpecialByte(2, 0x12), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_EQ(ispEraseSbvBsb(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_TRUE(link->frames.empty());
}

TEST_F(Can, ProgramDataGoesInFramesOnEightByteBoundaries) {
  ready(15, "flash=32768");
  for (unsigned a = 5; a <= 0x14; ++a) ispWriteSingleByteToBuffer(a, ovisp::hexText(a, 2).c_str());
  ASSERT_EQ(ispProgramAddrRange(5, 0x14), 1) << ispGetLastError();
  const std::vector<std::string> expected = {"001050000050014", "00203050607", "0020808090A0B0C0D0E0F",
                                             "002051011121314"};
  ASSERT_GE(link->frames.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(link->frames.begin(), link->frames.begin() + 4), expected);
  EXPECT_EQ(link->node->memory(0)[0x10], 0x10);
  // One byte is one final frame.
  link->frames.clear();
  ASSERT_EQ(ispProgramAddrRange(0x20, 0x20), 1) << ispGetLastError();
  EXPECT_EQ(link->frames[1], "00201FF");
  // Acknowledgements out of turn are refused.
  link->scripted = {{0x001, {0x00}}, {0x002, {0x00}}};
  EXPECT_EQ(ispProgramAddrRange(0, 15), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadBootloaderReply);
  link->scripted = {{0x001, {0x00}}, {0x002, {}}};
  EXPECT_EQ(ispProgramAddrRange(0, 15), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadBootloaderReply);
  // Memory 1 carries its own code.
  link->frames.clear();
  ASSERT_EQ(ispSelectMemory(1), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 0), 1) << ispGetLastError();
  EXPECT_EQ(link->frames[0], "001050100000000");
}

TEST_F(Can, ReadsTakeManyFramesAndRefuseWhatDoesNotFit) {
  ready(15, "flash=32768");
  link->node->memory(0)[0x123] = 0x5A;
  ASSERT_EQ(ispReadAddrRange(0, 1023, ""), 1) << ispGetLastError();
  // One command, 128 reply frames of eight bytes.
  EXPECT_EQ(link->frames, std::vector<std::string>{"0030500000003FF"});
  EXPECT_EQ(link->reads, 128);
  ispReadSingleByteFromBuffer(0x123);
  EXPECT_STREQ(ispGetLastResult(), "5A");
  ASSERT_EQ(ispWriteSingleByteToBuffer(0x124, "00"), 1);
  EXPECT_EQ(ispVerifyAddrRange(0, 1023), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
  EXPECT_STREQ(ispGetLastResult(), "0124");

  // A frame without data, or with more bytes than are still expected, is no
  // reply to the read.
  link->scripted = {{0x003, {}}};
  EXPECT_EQ(ispReadAddrRange(0, 7, ""), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadBootloaderReply);
  link->scripted = {{0x003, {1, 2, 3, 4, 5, 6, 7, 8}}};
  EXPECT_EQ(ispReadAddrRange(0, 3, ""), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadBootloaderReply);

  // Blank check: none blank, two bytes the first written offset, anything
  // else refused.
  EXPECT_EQ(ispBlankCheckAddrRange(0x100, 0x1FF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
  EXPECT_STREQ(ispGetLastResult(), "000123");
  ASSERT_EQ(ispBlankCheckAddrRange(0x200, 0x2FF), 1);
  link->scripted = {{0x003, {0x01}}};
  EXPECT_EQ(ispBlankCheckAddrRange(0x200, 0x2FF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadBootloaderReply);
}

TEST_F(Can, FuseBitsChangeTheHardwareByte) {
  ready(15, "hardware=FF");
  ASSERT_EQ(ispEnableFuseBit(1), 1) << ispGetLastError();
  EXPECT_EQ(link->frames, (std::vector<std::string>{"005020200", "004030200BF"}));
  ready(15, "hardware=00");
  ASSERT_EQ(ispDisableFuseBit(0), 1) << ispGetLastError();
  EXPECT_EQ(link->frames.back(), "00403020020");
  EXPECT_EQ(link->node->special(0x0200), 0x20);
}

TEST_F(Can, PagedSetSelectsMemoryAndPageByFrame) {
  ready(24, "cris=02;paged=1", true, 2);
  ASSERT_EQ(ispReadAddrRange(0x10000, 0x103FF, ""), 1) << ispGetLastError();
  EXPECT_EQ(link->frames, (std::vector<std::string>{"02603030001", "0230500000003FF"}));

  // A special byte is a one-address display in its own memory.
  link->frames.clear();
  ASSERT_EQ(ispReadSpecialByte(9), 1) << ispGetLastError();
  EXPECT_STREQ(ispGetLastResult(), "D7");
  EXPECT_EQ(link->frames[0], "02603030600");
  EXPECT_EQ(link->frames[1], "023050000310031");
  // A write is a program start and a data frame.
  link->frames.clear();
  ASSERT_EQ(ispWriteSpecialByte(5, 0x5A), 1) << ispGetLastError();
  EXPECT_EQ(link->frames[1], "021050000060006");
  EXPECT_EQ(link->frames[2], "022015A");
  EXPECT_EQ(link->node->memory(4)[6], 0x5A);
  // Configuration bytes have no address here.
  EXPECT_EQ(ispReadSpecialByte(17), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  // Security level 2: FC at 0005 of memory 4.
  link->frames.clear();
  ASSERT_EQ(ispSetSecurityLev2(), 1) << ispGetLastError();
  EXPECT_EQ(link->frames[0], "02603030400");
  EXPECT_EQ(link->node->memory(4)[5], 0xFC);
  // Fuse bits read and write the hardware byte in memory 5.
  link->frames.clear();
  ASSERT_EQ(ispDisableFuseBit(2), 1) << ispGetLastError();
  EXPECT_EQ(link->frames[0], "02603030500");
  EXPECT_EQ(link->node->memory(5)[7], 0xFF);
  // The start frames follow the CRIS like every other frame.
  link->frames.clear();
  ASSERT_EQ(ispEnterAppliMode(1, 0), 1);
  EXPECT_EQ(link->frames, std::vector<std::string>{"024020300"});
  // The select reply on base + 6 belongs to the select frame only.
  link->scripted = {{0x026, {0x00}}};
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kSoftwareSecurity);
}

}  // namespace
