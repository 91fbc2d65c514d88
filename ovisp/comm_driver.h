// The link library of the selected communication hardware: the one way the
// library reaches a serial port, CAN adapter or USB device.  The manager
// loads it by hardware code and calls it through these wrappers; the
// protocols send their frames through it, and every frame is traced (debug
// mode) before it is sent.
//
// The link library is looked for beside the programming library itself
// ("ovusbdfu.dll" is ovusbdfu.so in the folder of ovisp.so); its nine entries
// follow ovisp/link_library.h.  A library that lacks any of them is refused.
// Tests install a replacement through IspSession::setCommDriver.
#pragma once

#include <cstdint>
#include <string>

#include "ovisp/link_library.h"

namespace ovisp {

// File name of the link library of a hardware code 1..11 (null otherwise).
const char* linkLibraryFile(int hardwareCode);

// The folder link libraries are loaded from; empty (the default) means the
// folder of the module holding this code.  Tests point it at a folder of
// their own.
void setLinkLibraryFolder(std::string linuxDir);

class CommDriver {
 public:
  CommDriver() = default;
  CommDriver(const CommDriver&) = delete;
  CommDriver& operator=(const CommDriver&) = delete;
  virtual ~CommDriver();

  // Loads and binds the link library of a hardware code, replacing any
  // loaded one.  False when it cannot be loaded or lacks an entry.
  [[nodiscard]] virtual bool load(int hardwareCode);
  // Frees the loaded library, if any.
  virtual void unload();
  virtual bool loaded() const;

  [[nodiscard]] virtual bool openSerial(const std::string& port, int baud, std::uint8_t a, std::uint8_t b,
                                        std::uint8_t c);
  [[nodiscard]] virtual bool openCan(int hardwareCode, std::uint32_t a, std::uint8_t b, std::uint16_t c,
                                     std::uint8_t d, std::uint8_t e, std::uint32_t f);
  [[nodiscard]] virtual bool openUsb(std::uint32_t productId);
  virtual bool close();
  [[nodiscard]] virtual bool updateRxFilter(std::uint8_t cris);
  [[nodiscard]] virtual bool clearDtr();
  [[nodiscard]] virtual bool setDtr();
  [[nodiscard]] virtual bool clearRts();
  [[nodiscard]] virtual bool setRts();

  // A text frame (serial record or CAN frame as text).
  [[nodiscard]] virtual bool writeText(const std::string& frame);
  // A text up to `endChar`, at most OV_LINK_TEXT_CAPACITY - 1 characters.
  // False when the link reports a failure; `text` then holds what the link
  // left in the buffer ("" when nothing came, "error" on a fault).
  [[nodiscard]] virtual bool readText(std::string& text, int count, std::int8_t endChar,
                                      std::uint16_t timeoutMs);
  // One CAN message.  A refused or timed-out read sets last error 4 and
  // answers false; a length above 8 raises 29.
  [[nodiscard]] virtual bool readCan(std::uint32_t& id, std::uint8_t& length, std::uint8_t data[8],
                                     int timeoutMs);
  // One USB OUT request: setup and payload as hexadecimal texts.
  [[nodiscard]] virtual bool writeUsb(const std::string& setup, const std::string& payload, int timeoutMs);
  // One USB IN request into `buffer` (room for `length` bytes): the byte
  // count, or -1.
  [[nodiscard]] virtual int readUsb(std::uint8_t* buffer, int length, const std::string& setup,
                                    int timeoutMs);

 private:
  void* library_ = nullptr;
  OvLinkModeEntry open_ = nullptr;
  OvLinkModeEntry write_ = nullptr;
  OvLinkModeEntry read_ = nullptr;
  OvLinkModeEntry close_ = nullptr;
  OvLinkModeEntry updateRxFilter_ = nullptr;
  OvLinkLineEntry clearDtr_ = nullptr;
  OvLinkLineEntry setDtr_ = nullptr;
  OvLinkLineEntry clearRts_ = nullptr;
  OvLinkLineEntry setRts_ = nullptr;
};

}  // namespace ovisp
