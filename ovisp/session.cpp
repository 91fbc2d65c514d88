#include "ovisp/session.h"

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

void setLastError(int code) {
  if (IspManager* m = session().manager()) m->setLastError(code);
}

}  // namespace ovisp
