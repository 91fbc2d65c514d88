// Shared by the backup tests: outside tools as the judges of what was
// written, and study-like content.
#pragma once

#include <cstdio>
#include <random>
#include <string>

namespace backup_test {

// Runs a shell command; its exit status, with stdout and stderr in `out`.
inline int run(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  const int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline std::string read_file(const std::string& path) {
  std::string s;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buf[65536];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    fclose(f);
  }
  return s;
}

// Bytes that do not compress, as a study's traces nearly do not.
inline std::string noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Three readers of different make must accept an archive.
inline std::string check_with_readers(const std::string& linux_zip) {
  std::string out, all;
  if (run("unzip -tq " + quote(linux_zip), &out) != 0) all += "unzip: " + out;
  if (run("7zz t -bd " + quote(linux_zip), &out) != 0) all += "7zz: " + out;
  if (run("python3 -m zipfile -t " + quote(linux_zip), &out) != 0) all += "python: " + out;
  return all;
}

// The entry names of an archive, one a line, as Python's reader lists them.
inline std::string entry_names(const std::string& linux_zip) {
  std::string out;
  run("python3 -c 'import sys,zipfile; print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
          quote(linux_zip),
      &out);
  return out;
}

}  // namespace backup_test
