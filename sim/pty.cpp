#include "sim/pty.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <climits>

namespace sim {

Pty::~Pty() { close(); }

bool Pty::open() {
  close();
  char name[PATH_MAX] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return false;
  }
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slave_path_ = name;
  return true;
}

void Pty::close() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
  slave_path_.clear();
}

}  // namespace sim
