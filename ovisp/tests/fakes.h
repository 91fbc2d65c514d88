// Stand-ins for the link library and the protocol families, recording every
// call in one trace, and a fixture that gives each test a fresh library.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ovisp/comm_driver.h"
#include "ovisp/isp.h"
#include "ovisp/protocol.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"

namespace ovisp_test {

using Trace = std::vector<std::string>;

class FakeLink : public ovisp::CommDriver {
 public:
  explicit FakeLink(Trace& trace) : trace_(trace) {}
  bool load(int code) override {
    trace_.push_back("load " + std::to_string(code));
    loaded_ = loadable;
    return loadable;
  }
  void unload() override {
    trace_.push_back("unload");
    loaded_ = false;
  }
  bool loaded() const override { return loaded_; }
  bool openSerial(const std::string& port, int baud, std::uint8_t, std::uint8_t, std::uint8_t) override {
    return record("openSerial " + port + " " + std::to_string(baud));
  }
  bool openCan(int code, std::uint32_t, std::uint8_t, std::uint16_t, std::uint8_t, std::uint8_t,
               std::uint32_t) override {
    return record("openCan " + std::to_string(code));
  }
  bool openUsb(std::uint32_t pid) override { return record("openUsb " + std::to_string(pid)); }
  bool close() override { return record("Close"); }
  bool updateRxFilter(std::uint8_t cris) override { return record("UpdateRxFilter " + std::to_string(cris)); }
  bool clearDtr() override { return record("ClearDtr"); }
  bool setDtr() override { return record("SetDtr"); }
  bool clearRts() override { return record("ClearRts"); }
  bool setRts() override { return record("SetRts"); }

  bool loadable = true;
  bool answer = true;

 private:
  bool record(std::string call) {
    trace_.push_back(std::move(call));
    return answer;
  }
  Trace& trace_;
  bool loaded_ = false;
};

class FakeProtocol : public ovisp::IspProtocol {
 public:
  FakeProtocol(Trace& trace, std::string name) : trace_(trace) {
    trace_.push_back("protocol " + name);
    for (std::size_t i = 0; i < readSpecialByteCmds.size(); ++i) readSpecialByteCmds[i] = "R" + std::to_string(i);
    for (std::size_t i = 0; i < writeSpecialByteCmds.size(); ++i) writeSpecialByteCmds[i] = "W" + std::to_string(i);
  }
  void selectMemoryPage(int memory, int page) override {
    add("selectMemoryPage " + std::to_string(memory) + " " + std::to_string(page));
  }
  void syncTarget() override { add("syncTarget"); }
  void eraseBlock(int block) override { add("eraseBlock " + std::to_string(block)); }
  void readSpecialByte(std::string command) override {
    add("readSpecialByte " + command);
    if (failSpecialByte) ovisp::raise(ovisp::kWrongReply);
    ovisp::session().manager()->setLastResult(specialByteValue);
  }
  void writeSpecialByte(std::string command, std::string value) override {
    add("writeSpecialByte " + command + " " + value);
    if (failSpecialByte) ovisp::raise(ovisp::kWrongReply);
  }
  void programBlock(int page, std::uint32_t start, std::uint32_t end) override {
    add("programBlock " + std::to_string(page) + " " + hex(start) + " " + hex(end));
  }
  void readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) override {
    add("readChunk " + std::to_string(page) + " " + hex(start) + " " + hex(end) + (verify ? " verify" : ""));
  }
  void blankCheckBlock(int page, std::uint32_t start, std::uint32_t end) override {
    add("blankCheckBlock " + std::to_string(page) + " " + hex(start) + " " + hex(end));
  }
  void connect(int code) override { add("connect " + std::to_string(code)); }
  void enterIspMode(int, int) override { add("enterIspMode"); }
  int memoryForSpecialByte(int) override { return specialByteMemory; }

  bool failSpecialByte = false;
  int specialByteMemory = 0;
  std::string specialByteValue = "5A";

 private:
  static std::string hex(std::uint32_t v) { return ovisp::hexText(v, 1); }
  void add(std::string call) { trace_.push_back(std::move(call)); }
  Trace& trace_;
};

// A fresh library per test: no manager yet, a recording link installed (it
// becomes the holder at ispInit), fake protocols for every class and a fake
// clock so that pauses cost nothing.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ovisp::session().reset();
    auto link = std::make_unique<FakeLink>(trace);
    this->link = link.get();
    ovisp::session().setCommDriver(std::move(link));
    for (auto cls : kClasses) {
      families[cls] = ovisp::registerProtocol(cls, [this, cls](int variant) {
        auto p = std::make_unique<FakeProtocol>(trace, std::to_string(static_cast<int>(cls)) + "/" +
                                                           std::to_string(variant));
        protocol = p.get();
        return p;
      });
    }
    platform::set_clock(&clock);
  }
  void TearDown() override {
    // The real families come back for the tests after this one.
    for (auto cls : kClasses) ovisp::registerProtocol(cls, families[cls]);
    ovisp::session().reset();
    platform::set_clock(nullptr);
  }
  // ispInit, then device and hardware selected: ready for device operations.
  void ready(int device = 3, int hardware = 2) {
    ASSERT_EQ(ispInit(), 1);
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(hardware), 1) << ispGetLastError();
    trace.clear();
  }
  ovisp::IspManager& manager() { return *ovisp::session().manager(); }

  static constexpr ovisp::ProtocolClass kClasses[] = {
      ovisp::ProtocolClass::Rs232,     ovisp::ProtocolClass::Rs232Variant,   ovisp::ProtocolClass::UsbDfu,
      ovisp::ProtocolClass::UsbDfuExt, ovisp::ProtocolClass::UsbDfuCrc,      ovisp::ProtocolClass::UsbDfuPagedApp,
      ovisp::ProtocolClass::Can,       ovisp::ProtocolClass::PagedCan};
  std::map<ovisp::ProtocolClass, ovisp::ProtocolMaker> families;
  Trace trace;
  FakeLink* link = nullptr;
  FakeProtocol* protocol = nullptr;
  platform::FakeClock clock;
};

// A link that loads without a library, for the protocol tests' recording
// links.
class RecordingLinkBase : public ovisp::CommDriver {
 public:
  bool load(int) override { return loaded_ = true; }
  void unload() override { loaded_ = false; }
  bool loaded() const override { return loaded_; }

 private:
  bool loaded_ = false;
};

// A recording link on a CAN adapter that opens and filters without fault.
class RecordingCanLinkBase : public RecordingLinkBase {
 public:
  bool openCan(int, std::uint32_t, std::uint8_t, std::uint16_t, std::uint8_t, std::uint8_t, std::uint32_t) override {
    return true;
  }
  bool updateRxFilter(std::uint8_t) override { return true; }
};

// A fresh library per test with a recording link of type `Link` installed
// (it becomes the holder at ispInit) and a fake clock.
template <class Link>
class RecordingLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ovisp::session().reset();
    auto owned = std::make_unique<Link>();
    link = owned.get();
    ovisp::session().setCommDriver(std::move(owned));
    platform::set_clock(&clock);
    ASSERT_EQ(ispInit(), 1);
  }
  void TearDown() override {
    ovisp::session().reset();
    platform::set_clock(nullptr);
  }

  Link* link = nullptr;
  platform::FakeClock clock;
};

}  // namespace ovisp_test
