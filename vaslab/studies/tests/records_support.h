// Runs the independent record generator that sits beside the tests.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline std::string python_record(const std::string& kind, const std::string& dir) {
  std::string here = __FILE__;
  std::string script = here.substr(0, here.rfind('/') + 1) + "make_records.py";
  std::string out = dir + "/" + kind + ".bin";
  if (std::system(("python3 " + script + " " + kind + " " + out).c_str()) != 0) return {};
  std::ifstream f(out, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}
