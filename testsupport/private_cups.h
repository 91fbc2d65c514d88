// A CUPS server of the test's own (scripts/private-cups), so that no test
// reaches the machine's printers: started in a folder, pointed at through
// CUPS_SERVER for the life of the object, stopped after.  Its queues are raw
// and keep every job as a numbered file in a folder.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Where CUPS_SERVER points when no private server runs: a socket that does
// not exist, so the program finds no printer.
extern const char kNoCupsServer[];

class PrivateCups {
 public:
  explicit PrivateCups(const std::string& folder);
  ~PrivateCups();
  PrivateCups(const PrivateCups&) = delete;
  PrivateCups& operator=(const PrivateCups&) = delete;

  bool running() const { return !socket_.empty(); }
  // Adds a raw queue; its jobs land in <folder>/<name>.  False on failure.
  bool add_printer(const std::string& name, bool make_default);
  // The files the queue received so far, in arrival order (Linux paths).
  std::vector<std::string> jobs(const std::string& name) const;
  // Waits up to `seconds` until the queue received `count` files.
  bool wait_for_jobs(const std::string& name, std::size_t count, int seconds = 20) const;

 private:
  std::string folder_;
  std::string socket_;
};

}  // namespace testsupport
