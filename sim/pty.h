// A pseudo-terminal for a simulated device: the simulator keeps the master
// side, the program under test opens the slave by its path as a serial port.
#pragma once

#include <string>

namespace sim {

class Pty {
 public:
  Pty() = default;
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Opens a new pair.  The slave stays open here too, so that the master
  // never sees a hang-up while the program closes and reopens its side.  Its
  // line settings are the system's defaults: the program must make it raw.
  bool open();
  void close();
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace sim
