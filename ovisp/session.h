// The library-wide record of the current objects: the manager, the selected
// device, its protocol and the link-library holder.  It owns all four.
#pragma once

#include <memory>

#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/protocol.h"

namespace ovisp {

class IspSession {
 public:
  IspManager* manager() { return manager_.get(); }
  Device* device() { return device_.get(); }
  IspProtocol* protocol() { return protocol_.get(); }
  CommDriver* commDriver() { return commDriver_.get(); }

  // Creates the manager and the link holder when absent.
  void init();
  void setDevice(std::unique_ptr<Device> device) { device_ = std::move(device); }
  void setProtocol(std::unique_ptr<IspProtocol> protocol) { protocol_ = std::move(protocol); }
  void deleteDevice() { device_.reset(); }
  void deleteProtocol() { protocol_.reset(); }
  // Replaces the link holder (a test installs a recording one before init).
  void setCommDriver(std::unique_ptr<CommDriver> driver) { commDriver_ = std::move(driver); }
  // Closes the link and frees the link library.
  void unloadCommDriver();
  // Destroys everything, as if the library had just been loaded (tests).
  void reset();

 private:
  std::unique_ptr<IspManager> manager_;
  std::unique_ptr<Device> device_;
  std::unique_ptr<IspProtocol> protocol_;
  std::unique_ptr<CommDriver> commDriver_;
};

IspSession& session();

// Stores a code as the manager's last error (no manager: nothing to do).
void setLastError(int code);

// The current objects as a protocol operation needs them; each raises 9
// when absent (the link also when no library is loaded).
IspManager& sessionManager();
Device& sessionDevice();
CommDriver& sessionLink();

}  // namespace ovisp
