// Test data made independently of the code under test: a Python script of
// the source tree writes the bytes (for example a record packed with
// `struct` from the field table), and the test compares against them.
#pragma once

#include <string>

namespace testsupport {

// Runs `python3 <source tree>/<script> <dir>/<out_name> <args>` and returns
// the bytes written to <dir>/<out_name>; empty when the script fails.
std::string run_generator(const std::string& script, const std::string& dir,
                          const std::string& out_name, const std::string& args = "");

}  // namespace testsupport
