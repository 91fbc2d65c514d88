// mailbatch: the mail program that the e-mail export's "c:\programs\dosmtp.bat"
// names.  It sends the batch as one message through the system's sendmail
// interface and leaves what happened where the export screen shows it.
//
//   mailbatch FROM TO SUBJECT FOLDER
//
// The text part is "c:\smtp\text"; every "Filename: <name>" line of it names
// a file of FOLDER (a drive path such as D:\MAIL\, mapped as the workstation
// maps it, or a Linux path) that is attached in base64.  The message goes on
// standard input to `$VASLAB_SENDMAIL -t -i` (default /usr/sbin/sendmail).
// Sendmail's own messages and one result line are written to "c:\smtp\out".
// Once sendmail took the message "c:\smtp\text" is emptied, so the next
// batch does not mail these reports again.  The exit status is sendmail's
// (2 for wrong arguments, 1 for a file that cannot be read or written).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"

extern char** environ;

namespace {

constexpr char kText[] = "c:\\smtp\\text";
constexpr char kOut[] = "c:\\smtp\\out";

// A header value on one line: line ends would start headers of their own.
std::string one_line(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

std::string base64(const std::vector<std::uint8_t>& data) {
  static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t line = 0;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const std::uint32_t n = (std::uint32_t{data[i]} << 16) | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                            (i + 2 < data.size() ? data[i + 2] : 0);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kDigits[n & 63] : '=';
    if ((line += 4) == 76) {
      out += '\n';
      line = 0;
    }
  }
  if (line) out += '\n';
  return out;
}

std::string file_of(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder[0] == '/') return folder + (folder.back() == '/' ? "" : "/") + name;
  std::string win = folder;
  if (!win.empty() && win.back() != '\\' && win.back() != '/') win += '\\';
  return platform::map_path(win + name);
}

// The files the text lists, in its order.
std::vector<std::string> listed_files(const std::string& text) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    const std::string key = "Filename: ";
    if (line.compare(0, key.size(), key) == 0) {
      std::string name = line.substr(key.size());
      while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
      // Only names of the folder itself.
      if (!name.empty() && name.find_first_of("/\\") == std::string::npos && name != "." && name != "..")
        names.push_back(name);
    }
    at = end + 1;
  }
  return names;
}

std::string rfc5322_date() {
  char buf[64];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S %z", &tm);
  return buf;
}

void append_line(const std::string& path, const std::string& line) {
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fputs((line + "\n").c_str(), f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: mailbatch FROM TO SUBJECT FOLDER\n");
    return 2;
  }
  const std::string from = one_line(argv[1]), to = one_line(argv[2]), subject = one_line(argv[3]), folder = argv[4];
  const std::string out_path = platform::map_path_create_dirs(kOut);
  const std::string text_path = platform::map_path_create_dirs(kText);
  // A fresh output file for this batch.
  if (FILE* f = std::fopen(out_path.c_str(), "wb")) std::fclose(f);

  const auto text_bytes = platform::read_file(text_path);
  const std::string text = text_bytes ? std::string(text_bytes->begin(), text_bytes->end()) : std::string();
  std::mt19937_64 random(std::random_device{}());
  const std::string boundary = "=_vaslab_" + std::to_string(random());
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);

  std::string message = "From: " + from + "\nTo: " + to + "\nSubject: " + subject + "\nDate: " + rfc5322_date() +
                        "\nMessage-ID: <" + std::to_string(std::time(nullptr)) + "." + std::to_string(getpid()) +
                        "." + std::to_string(random() % 1000000) + "@" + host + ">\nMIME-Version: 1.0\n" +
                        "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n" +
                        "--" + boundary + "\nContent-Type: text/plain; charset=ISO-8859-1\n" +
                        "Content-Transfer-Encoding: base64\n\n" +
                        base64(std::vector<std::uint8_t>(text.begin(), text.end()));
  const std::vector<std::string> names = listed_files(text);
  for (const std::string& name : names) {
    const std::string path = file_of(folder, name);
    const auto data = platform::read_file(path);
    if (!data) {
      // The whole path: a mail line whose folder is not the export's shows
      // where it looked.
      const int fd = platform::open_regular_file(path);
      const std::string why = fd < 0 ? std::strerror(-fd) : "read error";
      if (fd >= 0) close(fd);
      append_line(out_path, "mailbatch: cannot read " + path + ": " + why + "; nothing sent");
      return 1;
    }
    message += "--" + boundary + "\nContent-Type: application/octet-stream; name=\"" + name + "\"\n" +
               "Content-Disposition: attachment; filename=\"" + name + "\"\n" +
               "Content-Transfer-Encoding: base64\n\n" + base64(*data);
  }
  message += "--" + boundary + "--\n";

  // The message reaches sendmail from a file, its output goes to the
  // output file: no pipe can fill up while the other side waits.
  char message_path[] = "/tmp/mailbatch-XXXXXX";
  const int msg_fd = mkstemp(message_path);
  if (msg_fd < 0 || platform::write_all(msg_fd, message.data(), message.size()) != 0 ||
      lseek(msg_fd, 0, SEEK_SET) != 0) {
    if (msg_fd >= 0) close(msg_fd);
    unlink(message_path);
    append_line(out_path, "mailbatch: cannot write the message; nothing sent");
    return 1;
  }
  unlink(message_path);
  const int out_fd = open(out_path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const char* env = std::getenv("VASLAB_SENDMAIL");
  std::string sendmail = env && *env ? env : "/usr/sbin/sendmail";
  std::string t = "-t", i = "-i";
  char* args[] = {sendmail.data(), t.data(), i.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, msg_fd, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 2);
  }
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, sendmail.c_str(), &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(msg_fd);
  if (out_fd >= 0) close(out_fd);
  if (spawned != 0) {
    append_line(out_path, "mailbatch: cannot start " + sendmail + ": " + std::strerror(spawned));
    return 1;
  }
  int wstatus = 0;
  int waited;
  while ((waited = waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
  }
  // Without sendmail's own status nothing says the message went: the text
  // is kept for the next batch rather than emptied on a guess.
  const int status = waited < 0                 ? 1
                     : WIFEXITED(wstatus)       ? WEXITSTATUS(wstatus)
                     : WIFSIGNALED(wstatus)     ? 128 + WTERMSIG(wstatus)
                                                : 1;
  if (status == 0) {
    std::string sent;
    for (const std::string& name : names) sent += (sent.empty() ? "" : ", ") + name;
    append_line(out_path, "mailbatch: sent to " + to + ": " + (sent.empty() ? "the text alone" : sent));
    if (FILE* f = std::fopen(text_path.c_str(), "wb")) std::fclose(f);
  } else {
    append_line(out_path, "mailbatch: sendmail failed with status " + std::to_string(status) + "; nothing sent");
  }
  return status;
}
