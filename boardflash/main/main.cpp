// boardflash <HEX file>: reprograms the interface board from the file.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "boardflash/updater.h"

namespace {

// An interrupt closes the view like the window's close box; the program then
// still waits for a worker that is writing the board's flash.
void onInterrupt(int) { boardflash::request_close(); }

}  // namespace

int main(int argc, char** argv) {
  // The whole command line is the file name, blanks and quotes included.
  std::string fileName;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) fileName += ' ';
    fileName += argv[i];
  }

  struct sigaction interrupt {};
  interrupt.sa_handler = onInterrupt;
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGINT, &interrupt, nullptr);

  auto view = boardflash::make_console_view();
  const std::string hexPath = boardflash::library_path_for(fileName);
  const boardflash::RunResult run =
      boardflash::run_updater(*view, [&] { return boardflash::update_worker(*view, fileName, hexPath); });
  std::fflush(stdout);
  // A worker still running owns the library and the view: end without
  // tearing them down under it.
  if (!run.finished) std::_Exit(1);
  return run.result;
}
