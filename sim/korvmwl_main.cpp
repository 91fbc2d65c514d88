// korvmwl: stand-in for the site's worklist program, which the worklist
// import screen runs as "C:\PROGRAMS\KorvMWL.exe".
//   KorvMWL.exe BUTTON ERRFILE VALUE0 .. VALUE9
// It reads the patient list "C:\PROGRAMS\patients.txt" (one patient a line:
// key, name, ID, date of birth, sex, accession number and procedure,
// separated by "|"), keeps the patients whose line holds every non-empty
// value (without regard to case), and writes for each into "C:\TEMP\":
//   <key>.scr  the list row: name, ID and date of birth in 80 bytes
//   <key>.inf  80-byte lines: tag, description, value
//   <key>.imp  4920-byte records: 1 name, 2 ID, 3 date of birth, 4 sex,
//              5 accession number, 6 procedure
//   <key>.exp  the accession number and the procedure, for the exports
// Faults go to ERRFILE as 80-byte lines; the exit status is 0 on success.
// $KORVMWL_MODE: "many" answers 60 generated patients, "fail" fails the run,
// "slow" takes three seconds first.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace {

constexpr std::size_t kRecord = 4920;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string line80(const std::string& text) {
  std::string l = text.substr(0, 80);
  l.resize(80, ' ');
  return l;
}

bool write(const std::string& win_path, const std::string& bytes) {
  return platform::write_file_atomic(platform::map_path_create_dirs(win_path), bytes.data(), bytes.size()) == 0;
}

std::string field(const char* format, const std::string& a, const std::string& b, const std::string& c) {
  char buf[96];
  std::snprintf(buf, sizeof buf, format, a.c_str(), b.c_str(), c.c_str());
  return buf;
}

int fail(const std::string& error_file, const std::string& message, int status) {
  write(error_file, line80("KorvMWL: " + message));
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: KorvMWL.exe BUTTON ERRFILE VALUE...\n");
    return 2;
  }
  const std::string error_file = argv[2];
  std::vector<std::string> values;
  for (int i = 3; i < argc; ++i)
    if (argv[i][0]) values.push_back(lower(argv[i]));
  const char* mode_env = std::getenv("KORVMWL_MODE");
  const std::string mode = mode_env ? mode_env : "";
  if (mode == "slow") sleep(3);
  if (mode == "fail") return fail(error_file, "the worklist server did not answer.", 3);

  std::vector<std::vector<std::string>> patients;
  if (mode == "many") {
    for (int i = 1; i <= 60; ++i) {
      char n[8];
      std::snprintf(n, sizeof n, "%03d", i);
      patients.push_back({std::string("P") + n, std::string("TEST^PATIENT ") + n, std::string("ID") + n, "19500101",
                          "F", std::string("ACC") + n, "Lower limb arterial"});
    }
  } else {
    std::ifstream list(platform::map_path("C:\\PROGRAMS\\patients.txt"));
    if (!list) return fail(error_file, "no patient list C:\\PROGRAMS\\patients.txt.", 1);
    for (std::string line; std::getline(list, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      std::vector<std::string> f;
      std::stringstream ss(line);
      for (std::string part; std::getline(ss, part, '|');) f.push_back(part);
      f.resize(7);
      bool keep = !f[0].empty();
      for (const std::string& v : values) keep = keep && lower(line).find(v) != std::string::npos;
      if (keep) patients.push_back(f);
    }
  }

  for (const auto& p : patients) {
    const std::string base = "C:\\TEMP\\" + p[0];
    std::string imp;
    for (int r = 1; r <= 6; ++r) {
      std::string rec = p[r].substr(0, kRecord - 1);
      rec.resize(kRecord, '\0');
      imp += rec;
    }
    const std::string inf = line80(field("%-9.9s\263%-35.35s\263%-34.34s", "0010,0010", "Patient's Name", p[1])) +
                            line80(field("%-9.9s\263%-35.35s\263%-34.34s", "0010,0020", "Patient ID", p[2])) +
                            line80(field("%-9.9s\263%-35.35s\263%-34.34s", "0010,0030", "Patient's Birth Date", p[3])) +
                            line80(field("%-9.9s\263%-35.35s\263%-34.34s", "0010,0040", "Patient's Sex", p[4])) +
                            line80(field("%-9.9s\263%-35.35s\263%-34.34s", "0008,0050", "Accession Number", p[5])) +
                            line80(field("%-9.9s\263%-35.35s\263%-34.34s", "0032,1060", "Requested Procedure", p[6]));
    if (!write(base + ".imp", imp) || !write(base + ".exp", p[5] + "\r\n" + p[6] + "\r\n") ||
        !write(base + ".inf", inf) ||
        !write(base + ".scr", line80(field("%-29.29s\263%-29.29s\263%-20.20s", p[1], p[2], p[3]))))
      return fail(error_file, "cannot write the results in C:\\TEMP\\.", 4);
  }
  return 0;
}
