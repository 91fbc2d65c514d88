// The SDL window on a real X server (a private Xvfb), read back from the
// server with ImageMagick's `import`: what a changed rectangle presents is
// what the display shows, including a rectangle that hangs over the edge.
#include <gtest/gtest.h>
#include <SDL.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window.h"
#include "testsupport/png.h"
#include "testsupport/temp_root.h"

namespace platform {
namespace {

constexpr int kW = 640, kH = 480;
constexpr std::uint32_t kGreen = 0x00FF00, kRed = 0xFF0000;

class SdlWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    xvfb_ = ::fork();
    ASSERT_GE(xvfb_, 0);
    if (xvfb_ == 0) {
      // Gone with the test, even one that crashed, and off its output.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    char number[16] = {};
    const ssize_t n = ::read(fds[0], number, sizeof number - 1);
    ::close(fds[0]);
    if (n <= 0) GTEST_SKIP() << "Xvfb did not start";
    display_ = ":" + std::string(number, static_cast<std::size_t>(n - (number[n - 1] == '\n')));
    ::setenv("DISPLAY", display_.c_str(), 1);
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
    backend_ = make_sdl_backend();
    ASSERT_TRUE(backend_ && backend_->create("window test", kW, kH));
  }
  void TearDown() override {
    if (backend_) backend_->destroy();
    backend_.reset();
    SDL_Quit();
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (xvfb_ > 0) {
      ::kill(xvfb_, SIGTERM);
      ::waitpid(xvfb_, nullptr, 0);
    }
  }
  // The surface filled with one colour, then the given part of it presented.
  void present(std::uint32_t colour, const Rect& dirty) {
    surface_.assign(static_cast<std::size_t>(kW) * kH, colour);
    backend_->present(surface_.data(), kW, kH, dirty);
    for (WindowMessage m; backend_->next_message(m);) {
    }
  }
  // What the X server shows.
  testsupport::Picture screen() {
    const std::string png = root_.path() + "/screen.png";
    const std::string cmd = "DISPLAY=" + display_ + " import -window root PNG24:" + png;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return testsupport::read_png(png);
  }

  testsupport::TempRoot root_;
  pid_t xvfb_ = -1;
  std::string display_;
  std::unique_ptr<WindowBackend> backend_;
  std::vector<std::uint32_t> surface_;
};

TEST_F(SdlWindow, AChangedRectangleShowsOnlyItsPartAndIsClippedToTheWindow) {
  present(kGreen, Rect{0, 0, kW, kH});
  // Hanging over the top left corner, then over the bottom right.
  present(kRed, Rect{-20, -20, 60, 50});
  present(kRed, Rect{620, 470, 50, 50});
  auto shot = screen();
  ASSERT_EQ(shot.width, kW);
  ASSERT_EQ(shot.height, kH);
  auto at = [&](int x, int y) { return shot.pixels[static_cast<std::size_t>(y) * kW + x] & 0xFFFFFF; };
  EXPECT_EQ(at(0, 0), kRed);
  EXPECT_EQ(at(39, 29), kRed);
  EXPECT_EQ(at(40, 29), kGreen);
  EXPECT_EQ(at(39, 30), kGreen);
  EXPECT_EQ(at(639, 479), kRed);
  EXPECT_EQ(at(620, 470), kRed);
  EXPECT_EQ(at(619, 470), kGreen);
  EXPECT_EQ(at(320, 240), kGreen);
  // A rectangle wholly outside the window shows the whole surface.
  present(kGreen, Rect{700, 10, 20, 20});
  shot = screen();
  ASSERT_EQ(shot.width, kW);
  EXPECT_EQ(at(0, 0), kGreen);
  EXPECT_EQ(at(639, 479), kGreen);
}

}  // namespace
}  // namespace platform
