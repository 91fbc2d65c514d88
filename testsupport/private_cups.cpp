#include "testsupport/private_cups.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/process.h"
#include "platform/spooler.h"

namespace testsupport {

const char kNoCupsServer[] = "/nonexistent/vaslab-test/cups.sock";

namespace {

std::string script() { return std::string(VASLAB_SOURCE_DIR) + "/scripts/private-cups"; }

// The first line the command prints; empty when it failed.
std::string first_line_of(const std::string& command) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return {};
  char line[512] = {};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  const int status = ::pclose(p);
  if (!got || status != 0) return {};
  std::string s(line);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

PrivateCups::PrivateCups(const std::string& folder) : folder_(folder) {
  socket_ = first_line_of(platform::shell_quote(script()) + " start " + platform::shell_quote(folder_));
  ::setenv("CUPS_SERVER", running() ? socket_.c_str() : kNoCupsServer, 1);
  platform::reset_print_server();
}

PrivateCups::~PrivateCups() {
  platform::run_command({script(), "stop", folder_});
  ::setenv("CUPS_SERVER", kNoCupsServer, 1);
  platform::reset_print_server();
}

bool PrivateCups::add_printer(const std::string& name, bool make_default) {
  if (!running()) return false;
  std::vector<std::string> argv{script(), "printer", folder_, name, folder_ + "/" + name};
  if (make_default) argv.push_back("default");
  return platform::run_command(argv) == 0;
}

std::vector<std::string> PrivateCups::jobs(const std::string& name) const {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder_ + "/" + name, ec)) {
    const std::string f = e.path().filename().string();
    if (!f.empty() && f[0] != '.' && e.path().extension() != ".lock") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool PrivateCups::wait_for_jobs(const std::string& name, std::size_t count, int seconds) const {
  for (int i = 0; i < seconds * 50; ++i) {
    if (jobs(name).size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return jobs(name).size() >= count;
}

}  // namespace testsupport
