// The workstation program.  Any command-line text runs the set-up mode.
#include <string>

#include "platform/window.h"
#include "vaslab/program/program.h"

int main(int argc, char* argv[]) {
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line.push_back(' ');
    command_line.append(argv[i]);
  }
  // An empty argument still counts as a command line, as a blank does.
  if (argc > 1 && command_line.empty()) command_line.push_back(' ');
  auto backend = platform::make_sdl_backend();
  platform::set_window_backend(backend.get());
  const int code = vaslab::win_main(command_line.c_str());
  platform::set_window_backend(nullptr);
  return code;
}
