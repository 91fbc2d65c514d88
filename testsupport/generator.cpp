#include "testsupport/generator.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string run_generator(const std::string& script, const std::string& dir,
                          const std::string& out_name, const std::string& args) {
  const std::string out = dir + "/" + out_name;
  const std::string cmd = "python3 '" + std::string(VASLAB_SOURCE_DIR) + "/" + script + "' '" +
                          out + "' " + args;
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream f(out, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace testsupport
