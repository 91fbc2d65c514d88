// The 24 target devices.  Every factory is defined in this one file so that
// registration runs in device-number order (1 to 24) whatever the order in
// which the library's files are initialised.
#include "ovisp/device.h"

#include "ovisp/status.h"

#include <initializer_list>
#include <memory>
#include <utility>

namespace ovisp {
namespace {

ProtocolChoice rs232Variant(int device) { return {true, ProtocolClass::Rs232Variant, device}; }
ProtocolChoice use(ProtocolClass cls) { return {true, cls, 0}; }

using Entry = std::pair<int, ProtocolChoice>;

std::array<ProtocolChoice, 12> links(std::initializer_list<Entry> entries) {
  std::array<ProtocolChoice, 12> table{};
  for (const Entry& e : entries) table[static_cast<std::size_t>(e.first)] = e.second;
  return table;
}

// Hardware codes 3 to 8 are the CAN adapters: a CAN device speaks the same
// protocol over every one of them.
std::array<ProtocolChoice, 12> withCan(std::array<ProtocolChoice, 12> table, ProtocolClass cls) {
  for (std::size_t code = 3; code <= 8; ++code) table[code] = use(cls);
  return table;
}

const DeviceModel kT01{.memories = {{0, 4096, 0}},
                       .bootVectorDefault = "FC",
                       .expectedSsbLevel1 = "10",
                       .expectedSsbLevel2 = "00",
                       .protocols = links({{9, use(ProtocolClass::UsbDfuExt)}})};
const DeviceModel kT02{.memories = {{0, 16384, 2}, {1, 2048, 0}}, .protocols = links({{1, rs232Variant(2)}})};
const DeviceModel kT03{.memories = {{0, 32768, 3}, {1, 1024, 0}, {7, 3072, 0, 0xF400}},
                       .usbProductId = 0x2FFD,
                       .protocols = links({{1, rs232Variant(3)},
                                           {2, use(ProtocolClass::UsbDfu)},
                                           {9, use(ProtocolClass::UsbDfuExt)},
                                           {10, use(ProtocolClass::UsbDfuExt)},
                                           {11, use(ProtocolClass::UsbDfuExt)}})};
const DeviceModel kT04{.memories = {{0, 65536, 5}},
                       .usbProductId = 0x2FFF,
                       .protocols = links({{1, rs232Variant(4)}, {2, use(ProtocolClass::UsbDfu)}})};
const DeviceModel kT05{.memories = {{0, 65536, 5}, {1, 2048, 0}},
                       .bootVectorDefault = "F0",
                       .protocols = links({{1, rs232Variant(5)}})};
const DeviceModel kT06{.memories = {{0, 32768, 3}},
                       .bootVectorDefault = "FC",
                       .protocols = links({{1, rs232Variant(6)}})};
const DeviceModel kT07{.memories = {{0, 65536, 5}, {1, 2048, 0}},
                       .bootVectorDefault = "F0",
                       .protocols = links({{1, rs232Variant(7)}})};
const DeviceModel kT08{.memories = {{0, 16384, 2}},
                       .bootVectorDefault = "FC",
                       .protocols = links({{1, rs232Variant(8)}})};
const DeviceModel kT09{.memories = {{0, 32768, 3}},
                       .bootVectorDefault = "FC",
                       .protocols = links({{1, rs232Variant(9)}})};
const DeviceModel kT10{.memories = {{0, 65536, 5}},
                       .bootVectorDefault = "F0",
                       .protocols = links({{1, rs232Variant(10)}})};
const DeviceModel kT11{.memories = {{0, 65536, 5}},
                       .usbProductId = 0x2FFF,
                       .bootVectorDefault = "F0",
                       .protocols = links({{1, use(ProtocolClass::Rs232)}, {2, use(ProtocolClass::UsbDfu)}})};
const DeviceModel kT12{.memories = {{0, 32768, 0}},
                       .usbProductId = 0x2FFE,
                       .bootVectorDefault = "FC",
                       .keepsCrc = true,
                       .protocols = links({{2, use(ProtocolClass::UsbDfuPagedApp)}})};
const DeviceModel kT13{.memories = {{0, 32768, 0}},
                       .usbProductId = 0x2FFE,
                       .bootVectorDefault = "FC",
                       .keepsCrc = true,
                       .protocols = links({{1, rs232Variant(13)}, {2, use(ProtocolClass::UsbDfuCrc)}})};
const DeviceModel kT14{.memories = {{0, 32768, 3}, {1, 2048, 0}, {2, 65536, 0}},
                       .protocols = links({{1, rs232Variant(14)}})};
const DeviceModel kT15{.memories = {{0, 32768, 3}, {1, 2048, 0}},
                       .protocols = withCan(links({{1, rs232Variant(15)}}), ProtocolClass::Can)};
const DeviceModel kT16{.memories = {{0, 16384, 2}, {1, 2048, 0}},
                       .protocols = withCan(links({{1, rs232Variant(16)}}), ProtocolClass::Can)};
const DeviceModel kT20{.memories = {{0, 64512, 0}},
                       .bootVectorDefault = "FC",
                       .expectedSsbLevel1 = "10",
                       .expectedSsbLevel2 = "00",
                       .protocols = links({{1, rs232Variant(20)}})};
const DeviceModel kT21{.memories = {{0, 16384, 0}},
                       .bootVectorDefault = "FC",
                       .keepsCrc = true,
                       .protocols = links({{1, rs232Variant(21)}})};
// Devices 22 and 23 are two classes with the same memories; both use the
// RS-232 variant of device 22.
const DeviceModel kT22{.memories = {{0, 65536, 5}, {1, 2048, 0}},
                       .bootVectorDefault = "F0",
                       .protocols = withCan(links({{1, rs232Variant(22)}}), ProtocolClass::Can)};
const DeviceModel kT23{.memories = {{0, 65536, 5}, {1, 2048, 0}},
                       .bootVectorDefault = "F0",
                       .protocols = withCan(links({{1, rs232Variant(22)}}), ProtocolClass::Can)};
// The three 128-byte memories get the 1024-byte floor of every buffer.
const DeviceModel kT24{.memories = {{0, 131072, 5}, {1, 4096, 0}, {3, 128, 0}, {4, 128, 0}, {6, 128, 0}},
                       .bootVectorDefault = "F0",
                       .protocols = withCan(links({{1, rs232Variant(24)}}), ProtocolClass::PagedCan)};

// The smaller forms that old RS-232 bootloaders of devices 14, 15 and 16
// stand for: the device's values with fewer or smaller memories.
DeviceModel withMemories(DeviceModel model, std::vector<MemorySpec> memories) {
  model.memories = std::move(memories);
  return model;
}
const DeviceModel kForms[] = {withMemories(kT14, {{0, 0x8000, 3}}), withMemories(kT14, {{0, 0x8000, 3}, {1, 2048, 0}}),
                              withMemories(kT15, {{0, 0x8000, 3}}), withMemories(kT16, {{0, 0x4000, 2}})};

const DeviceFactory kFactory01(1, "OV-T01", kT01);
const DeviceFactory kFactory02(2, "OV-T02", kT02);
const DeviceFactory kFactory03(3, "OV-T03", kT03);
const DeviceFactory kFactory04(4, "OV-T04", kT04);
const DeviceFactory kFactory05(5, "OV-T05", kT05);
const DeviceFactory kFactory06(6, "OV-T06", kT06);
const DeviceFactory kFactory07(7, "OV-T07", kT07);
const DeviceFactory kFactory08(8, "OV-T08", kT08);
const DeviceFactory kFactory09(9, "OV-T09", kT09);
const DeviceFactory kFactory10(10, "OV-T10", kT10);
const DeviceFactory kFactory11(11, "OV-T11", kT11);
const DeviceFactory kFactory12(12, "OV-T12", kT12);
const DeviceFactory kFactory13(13, "OV-T13", kT13);
const DeviceFactory kFactory14(14, "OV-T14", kT14);
const DeviceFactory kFactory15(15, "OV-T15", kT15);
const DeviceFactory kFactory16(16, "OV-T16", kT16);
// 17, 18 and 19 are built from the classes of 6, 8 and 9.
const DeviceFactory kFactory17(17, "OV-T17", kT06);
const DeviceFactory kFactory18(18, "OV-T18", kT08);
const DeviceFactory kFactory19(19, "OV-T19", kT09);
const DeviceFactory kFactory20(20, "OV-T20", kT20);
const DeviceFactory kFactory21(21, "OV-T21", kT21);
const DeviceFactory kFactory22(22, "OV-T22", kT22);
const DeviceFactory kFactory23(23, "OV-T23", kT23);
const DeviceFactory kFactory24(24, "OV-T24", kT24);

}  // namespace

std::unique_ptr<Device> createDeviceForm(int form) {
  if (form < 1 || form > 4) raise(kCannotCreateDevice);
  return std::make_unique<Device>(kForms[form - 1]);
}

}  // namespace ovisp
