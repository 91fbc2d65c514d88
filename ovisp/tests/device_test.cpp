#include <gtest/gtest.h>

#include <map>

#include "ovisp/device.h"
#include "ovisp/tests/fakes.h"

namespace {

using ovisp::createDeviceByNumber;
using ovisp::findDeviceName;
using ovisp::ProtocolClass;
using ovisp_test::LibraryTest;

struct Memory {
  int number;
  std::uint32_t size;
  int blocks;
  std::uint32_t start;
};

struct Expected {
  int number;
  std::vector<Memory> memories;
  std::uint32_t pid;
  const char* bootVector;
  const char* ssb1;
  const char* ssb2;
  int highestMemory;
};

// The device table as the instrument's documentation lists it.
const std::vector<Expected> kDevices = {
    {1, {{0, 4096, 0, 0}}, 0, "FC", "10", "00", 0},
    {2, {{0, 16384, 2, 0}, {1, 2048, 0, 0}}, 0, "FF", "FE", "FC", 1},
    {3, {{0, 32768, 3, 0}, {1, 1024, 0, 0}, {7, 3072, 0, 0xF400}}, 0x2FFD, "FF", "FE", "FC", 7},
    {4, {{0, 65536, 5, 0}}, 0x2FFF, "FF", "FE", "FC", 0},
    {5, {{0, 65536, 5, 0}, {1, 2048, 0, 0}}, 0, "F0", "FE", "FC", 1},
    {6, {{0, 32768, 3, 0}}, 0, "FC", "FE", "FC", 0},
    {7, {{0, 65536, 5, 0}, {1, 2048, 0, 0}}, 0, "F0", "FE", "FC", 1},
    {8, {{0, 16384, 2, 0}}, 0, "FC", "FE", "FC", 0},
    {9, {{0, 32768, 3, 0}}, 0, "FC", "FE", "FC", 0},
    {10, {{0, 65536, 5, 0}}, 0, "F0", "FE", "FC", 0},
    {11, {{0, 65536, 5, 0}}, 0x2FFF, "F0", "FE", "FC", 0},
    {12, {{0, 32768, 0, 0}}, 0x2FFE, "FC", "FE", "FC", 0},
    {13, {{0, 32768, 0, 0}}, 0x2FFE, "FC", "FE", "FC", 0},
    {14, {{0, 32768, 3, 0}, {1, 2048, 0, 0}, {2, 65536, 0, 0}}, 0, "FF", "FE", "FC", 2},
    {15, {{0, 32768, 3, 0}, {1, 2048, 0, 0}}, 0, "FF", "FE", "FC", 1},
    {16, {{0, 16384, 2, 0}, {1, 2048, 0, 0}}, 0, "FF", "FE", "FC", 1},
    {17, {{0, 32768, 3, 0}}, 0, "FC", "FE", "FC", 0},
    {18, {{0, 16384, 2, 0}}, 0, "FC", "FE", "FC", 0},
    {19, {{0, 32768, 3, 0}}, 0, "FC", "FE", "FC", 0},
    {20, {{0, 64512, 0, 0}}, 0, "FC", "10", "00", 0},
    {21, {{0, 16384, 0, 0}}, 0, "FC", "FE", "FC", 0},
    {22, {{0, 65536, 5, 0}, {1, 2048, 0, 0}}, 0, "F0", "FE", "FC", 1},
    {23, {{0, 65536, 5, 0}, {1, 2048, 0, 0}}, 0, "F0", "FE", "FC", 1},
    {24, {{0, 131072, 5, 0}, {1, 4096, 0, 0}, {3, 1024, 0, 0}, {4, 1024, 0, 0}, {6, 1024, 0, 0}}, 0, "F0", "FE", "FC", 6},
};

class Devices : public LibraryTest {};

TEST_F(Devices, EveryDeviceHasItsMemoriesAndDefaults) {
  ASSERT_EQ(ispInit(), 1);
  for (const Expected& e : kDevices) {
    SCOPED_TRACE("device " + std::to_string(e.number));
    auto device = createDeviceByNumber(e.number);
    std::map<int, Memory> have;
    for (const Memory& m : e.memories) have[m.number] = m;
    for (int n = 0; n <= e.highestMemory + 1; ++n) {
      ovisp::MemorySegment* segment = device->memory(n);
      if (have.count(n) == 0) {
        EXPECT_EQ(segment, nullptr) << n;
        continue;
      }
      ASSERT_NE(segment, nullptr) << n;
      EXPECT_EQ(segment->size(), have[n].size);
      EXPECT_EQ(segment->blockCount(), have[n].blocks);
      EXPECT_EQ(segment->startAddress(), have[n].start);
      EXPECT_EQ(segment->readByte(0), "FF");
      EXPECT_EQ(segment->readByte(segment->size() - 1), "FF");
    }
    EXPECT_EQ(device->usbProductId(), e.pid);
    EXPECT_EQ(device->currentMemory(), 0);
    EXPECT_EQ(device->expectedSsbLevel0(), "FF");
    EXPECT_EQ(device->expectedSsbLevel1(), e.ssb1);
    EXPECT_EQ(device->expectedSsbLevel2(), e.ssb2);
    EXPECT_EQ(device->bootloaderVersion(), "FF");
    ASSERT_TRUE(device->defaultByteValue(1));
    EXPECT_EQ(manager().lastResult(), e.bootVector);
    for (int code : {2, 3, 4, 5}) {
      ASSERT_TRUE(device->defaultByteValue(code));
      EXPECT_EQ(manager().lastResult(), "FF");
    }
    EXPECT_FALSE(device->defaultByteValue(6));
    EXPECT_EQ(manager().lastError(), 14);
  }
}

TEST_F(Devices, NamesAndNumbers) {
  EXPECT_EQ(findDeviceName("OV-T01"), 0);
  EXPECT_EQ(findDeviceName("OV-T24"), 23);
  EXPECT_EQ(findDeviceName("OV-T25"), 24);
  EXPECT_EQ(findDeviceName("ov-t03"), 24);
  for (int n = 1; n <= 24; ++n) {
    char name[8];
    std::snprintf(name, sizeof name, "OV-T%02d", n);
    EXPECT_EQ(findDeviceName(name), n - 1);
  }
  ASSERT_EQ(ispInit(), 1);
  EXPECT_EQ(ispGetDeviceIndex("OV-T24"), 23);
  EXPECT_EQ(ispGetDeviceIndex(nullptr), 24);
  for (int bad : {0, 25, -1}) {
    EXPECT_EQ(ispSelectDevice(bad), 0);
    EXPECT_EQ(ispGetLastError(), 7);
    EXPECT_EQ(manager().state(), 0);
  }
  ispSetDemoMode();
  EXPECT_EQ(ispGetDeviceIndex("OV-T24"), 0);
}

// Which protocol each device makes for hardware codes 1 to 11; "-" refuses.
TEST_F(Devices, HardwareMatrix) {
  const char* R = "rs232";
  const char* V = "variant";
  const std::map<int, std::vector<std::string>> matrix = {
      {1, {"-", "-", "-", "-", "-", "-", "-", "-", "ext", "-", "-"}},
      {2, {V, "-", "-", "-", "-", "-", "-", "-", "-", "-", "-"}},
      {3, {V, "dfu", "-", "-", "-", "-", "-", "-", "ext", "ext", "ext"}},
      {4, {V, "dfu", "-", "-", "-", "-", "-", "-", "-", "-", "-"}},
      {11, {R, "dfu", "-", "-", "-", "-", "-", "-", "-", "-", "-"}},
      {12, {"-", "pagedapp", "-", "-", "-", "-", "-", "-", "-", "-", "-"}},
      {13, {V, "crc", "-", "-", "-", "-", "-", "-", "-", "-", "-"}},
      {15, {V, "-", "can", "can", "can", "can", "can", "can", "-", "-", "-"}},
      {16, {V, "-", "can", "can", "can", "can", "can", "can", "-", "-", "-"}},
      {22, {V, "-", "can", "can", "can", "can", "can", "can", "-", "-", "-"}},
      {23, {V, "-", "can", "can", "can", "can", "can", "can", "-", "-", "-"}},
      {24, {V, "-", "paged", "paged", "paged", "paged", "paged", "paged", "-", "-", "-"}},
  };
  const std::map<ProtocolClass, std::string> names = {
      {ProtocolClass::Rs232, R},          {ProtocolClass::Rs232Variant, V},    {ProtocolClass::UsbDfu, "dfu"},
      {ProtocolClass::UsbDfuExt, "ext"},  {ProtocolClass::UsbDfuCrc, "crc"},   {ProtocolClass::UsbDfuPagedApp, "pagedapp"},
      {ProtocolClass::Can, "can"},        {ProtocolClass::PagedCan, "paged"},
  };
  // The RS-232 variant of a device, by device: 17 to 19 use those of 6, 8, 9.
  const std::map<int, int> variantOf = {{17, 6}, {18, 8}, {19, 9}, {23, 22}};
  for (int number = 1; number <= 24; ++number) {
    SCOPED_TRACE("device " + std::to_string(number));
    auto device = createDeviceByNumber(number);
    std::vector<std::string> row(11, "-");
    if (matrix.count(number)) {
      row = matrix.at(number);
    } else {
      row[0] = V;  // the RS-232-only devices
    }
    EXPECT_FALSE(device->protocolFor(0).supported);
    EXPECT_FALSE(device->protocolFor(12).supported);
    for (int code = 1; code <= 11; ++code) {
      const ovisp::ProtocolChoice choice = device->protocolFor(code);
      EXPECT_EQ(choice.supported ? names.at(choice.cls) : "-", row[static_cast<std::size_t>(code - 1)]) << code;
      if (choice.supported && choice.cls == ProtocolClass::Rs232Variant) {
        EXPECT_EQ(choice.variant, variantOf.count(number) ? variantOf.at(number) : number);
      }
    }
  }
}

TEST_F(Devices, SharedClassesBehaveAlike) {
  for (auto [a, b] : {std::pair{6, 17}, std::pair{8, 18}, std::pair{9, 19}}) {
    auto x = createDeviceByNumber(a);
    auto y = createDeviceByNumber(b);
    for (int code = 0; code <= 12; ++code) {
      EXPECT_EQ(x->protocolFor(code).supported, y->protocolFor(code).supported);
      EXPECT_EQ(x->protocolFor(code).variant, y->protocolFor(code).variant);
    }
    EXPECT_EQ(x->memorySize(), y->memorySize());
    EXPECT_EQ(x->blockCount(), y->blockCount());
  }
}

TEST_F(Devices, ProtocolCreationThroughTheManager) {
  ASSERT_EQ(ispInit(), 1);
  ASSERT_EQ(ispSelectDevice(12), 1);
  EXPECT_EQ(ispSelectCommHardware(1), 0);
  EXPECT_EQ(ispGetLastError(), 10);
  EXPECT_EQ(manager().state(), 1);
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  EXPECT_EQ(manager().state(), 3);
  EXPECT_EQ(trace.back(), "protocol 5/0");
  // A class whose family is not in this build.
  ovisp::registerProtocol(ProtocolClass::UsbDfuPagedApp, nullptr);
  EXPECT_EQ(ispSelectCommHardware(2), 0);
  EXPECT_EQ(ispGetLastError(), 8);
  EXPECT_EQ(manager().state(), 1);
  EXPECT_EQ(ovisp::session().protocol(), nullptr);
}

TEST_F(Devices, AfterProgrammingAndCrc) {
  ready(3, 2);
  ovisp::session().device()->afterProgramming();
  EXPECT_EQ(trace, (ovisp_test::Trace{"selectMemoryPage 0 0", "writeSpecialByte W1 00", "selectMemoryPage 0 0"}));
  trace.clear();
  ASSERT_EQ(ispSelectMemory(1), 1);
  ovisp::session().device()->afterProgramming();
  EXPECT_EQ(trace, (ovisp_test::Trace{"selectMemoryPage 1 0"}));

  ready(12, 2);
  ovisp::session().device()->afterProgramming();
  EXPECT_TRUE(trace.empty());

  for (int number = 1; number <= 24; ++number) {
    SCOPED_TRACE(number);
    ASSERT_EQ(ispSelectDevice(number), 1);
    ASSERT_EQ(ispWriteSingleByteToBuffer(0, "31"), 1);
    ASSERT_EQ(ispComputeCrc(), 1);
    const bool keepsCrc = number == 12 || number == 13 || number == 21;
    if (keepsCrc) {
      // The flash CRC covers all but the last two bytes.
      ovisp::MemorySegment& flash = *ovisp::session().device()->memory(0);
      EXPECT_EQ(ispGetLastResult(), ovisp::hexText(flash.crc16(), 4));
      EXPECT_STRNE(ispGetLastResult(), "0000");
    } else {
      EXPECT_STREQ(ispGetLastResult(), "0000");
    }
  }
}

TEST_F(Devices, MemorySelection) {
  ASSERT_EQ(ispInit(), 1);
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispSelectMemory(7), 1);
  ispGetMemorySize();
  EXPECT_STREQ(ispGetLastResult(), "3072");
  // Memory numbers the device lacks are refused and change nothing.
  for (int bad : {2, 6, 8, -1, 1000}) {
    EXPECT_EQ(ispSelectMemory(bad), 0);
    EXPECT_EQ(ispGetLastError(), 33);
    EXPECT_EQ(ovisp::session().device()->currentMemory(), 7);
  }
  ASSERT_EQ(ispSelectDevice(24), 1);
  for (int m : {3, 4, 6}) {
    ASSERT_EQ(ispSelectMemory(m), 1);
    ispGetMemorySize();
    EXPECT_STREQ(ispGetLastResult(), "1024");
  }
}

}  // namespace
