#include "ovisp/comm_driver.h"

namespace ovisp {

const char* linkLibraryFile(int hardwareCode) {
  switch (hardwareCode) {
    case 1: return "ovrs232.dll";
    case 2:
    case 9:
    case 10:
    case 11: return "ovusbdfu.dll";
    case 3: return "OvCanRs232.dll";
    case 4: return "OvCanRM.dll";
    case 5: return "OvCanVector.dll";
    case 6: return "OvCanIxxat.dll";
    case 7: return "OvCanPeak.dll";
    case 8: return "OvCanSystec.dll";
    default: return nullptr;
  }
}

bool CommDriver::load(int) { return false; }
void CommDriver::unload() {}
bool CommDriver::loaded() const { return false; }
bool CommDriver::openSerial(const std::string&, int, std::uint8_t, std::uint8_t, std::uint8_t) { return false; }
bool CommDriver::openCan(int, std::uint32_t, std::uint8_t, std::uint16_t, std::uint8_t, std::uint8_t,
                         std::uint32_t) {
  return false;
}
bool CommDriver::openUsb(std::uint32_t) { return false; }
bool CommDriver::close() { return false; }
bool CommDriver::updateRxFilter(std::uint8_t) { return false; }
bool CommDriver::clearDtr() { return false; }
bool CommDriver::setDtr() { return false; }
bool CommDriver::clearRts() { return false; }
bool CommDriver::setRts() { return false; }

}  // namespace ovisp
