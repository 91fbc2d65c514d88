// Compiled into every test program: the environment every test runs in,
// whether started by ctest or by hand.  Headless unless a test says otherwise;
// programs and libraries of the build are found through VASLAB_BUILD_DIR.
#include <cstdlib>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    ::setenv("SDL_VIDEODRIVER", "dummy", 0);
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    ::setenv("VASLAB_BUILD_DIR", VASLAB_BUILD_DIR, 0);
    ::setenv("VASLAB_SOURCE_DIR", VASLAB_SOURCE_DIR, 0);
    // No test reaches the machine's printers: without a private server of
    // its own a test finds no printer at all.
    ::setenv("CUPS_SERVER", "/nonexistent/vaslab-test/cups.sock", 1);
    ::unsetenv("LPDEST");
    ::unsetenv("PRINTER");
  }
};

const TestEnvironment g_environment;

}  // namespace
