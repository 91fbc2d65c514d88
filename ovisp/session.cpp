#include "ovisp/session.h"

#include "ovisp/status.h"

namespace ovisp {

IspSession& session() {
  static IspSession s;
  return s;
}

void IspSession::init() {
  if (!manager_) manager_ = std::make_unique<IspManager>();
  if (!commDriver_) commDriver_ = std::make_unique<CommDriver>();
}

void IspSession::unloadCommDriver() {
  if (commDriver_ && commDriver_->loaded()) {
    commDriver_->close();
    commDriver_->unload();
  }
}

void IspSession::reset() {
  protocol_.reset();
  device_.reset();
  commDriver_.reset();
  manager_.reset();
}

IspManager& sessionManager() {
  IspManager* m = session().manager();
  if (m == nullptr) raise(kCannotExecute);
  return *m;
}

Device& sessionDevice() {
  Device* d = session().device();
  if (d == nullptr) raise(kCannotExecute);
  return *d;
}

CommDriver& sessionLink() {
  CommDriver* driver = session().commDriver();
  if (driver == nullptr || !driver->loaded()) raise(kCannotExecute);
  return *driver;
}

void setLastError(int code) {
  if (IspManager* m = session().manager()) m->setLastError(code);
}

}  // namespace ovisp
