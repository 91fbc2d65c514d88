// mailsim: stand-in for the system's sendmail, which the e-mail export's mail
// program hands each batch to ($VASLAB_SENDMAIL; scripts/run sets it).  It
// takes the message on standard input as `sendmail -t -i` does and, instead
// of sending it, keeps it whole as the next numbered file "0001.eml",
// "0002.eml", ... of the folder $MAILSIM_DIR, where any mail reader opens it.
//   mailsim [-t] [-i]
// It says on standard output where the message went, or on standard error
// why it kept nothing, and exits as sendmail does: 0 once the message is
// kept, 64 for a message without a recipient, 78 without a folder, 73 when
// the file cannot be written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace {

constexpr int kNoRecipient = 64, kCannotCreate = 73, kNoFolder = 78;

// The value of the first header of this name, before the blank line that
// ends the headers; empty when there is none.
std::string header(const std::string& message, const std::string& name) {
  std::size_t at = 0;
  while (at < message.size()) {
    const std::size_t end = std::min(message.find('\n', at), message.size());
    std::string line = message.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0 &&
        line[name.size()] == ':') {
      std::string value = line.substr(name.size() + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      return value;
    }
    at = end + 1;
  }
  return {};
}

// One more than the largest number a kept message is named by.
int next_number(const std::string& folder) {
  int highest = 0;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) {
      int n = 0;
      char tail[8] = {};
      if (std::sscanf(e->d_name, "%d.%7s", &n, tail) == 2 && std::strcmp(tail, "eml") == 0 && n > highest)
        highest = n;
    }
    closedir(d);
  }
  return highest + 1;
}

}  // namespace

int main() {
  std::string message;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) message.append(buf, n);
  const char* dir = std::getenv("MAILSIM_DIR");
  if (!dir || !*dir) {
    std::fprintf(stderr, "mailsim: MAILSIM_DIR names no folder to keep the message in; nothing kept\n");
    return kNoFolder;
  }
  const std::string to = header(message, "To");
  if (to.empty()) {
    std::fprintf(stderr, "mailsim: the message names no recipient (To:); nothing kept\n");
    return kNoRecipient;
  }
  const std::string folder = dir;
  if (!platform::make_dirs(folder)) {
    std::fprintf(stderr, "mailsim: cannot make %s: %s; nothing kept\n", folder.c_str(), std::strerror(errno));
    return kCannotCreate;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%04d.eml", next_number(folder));
  const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
  if (const int r = platform::write_file_atomic(path, message.data(), message.size()); r != 0) {
    std::fprintf(stderr, "mailsim: cannot write %s: %s; nothing kept\n", path.c_str(), std::strerror(-r));
    return kCannotCreate;
  }
  std::printf("mailsim: message to %s kept as %s\n", to.c_str(), path.c_str());
  return 0;
}
