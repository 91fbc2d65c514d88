#include "vaslab/core/links/driver_layer.h"

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/le_bytes.h"
#include "testsupport/wait.h"
#include "vaslab/core/input/digital_io.h"

namespace vaslab::driver {
namespace {

TEST(DriverStatus, TextsComeFromTheFirstMatchingRow) {
  EXPECT_STREQ(status_text(0), "Success") << "the first row, not \"USBD: Success\"";
  EXPECT_STREQ(status_text(0xFFFFFFFF), "Invalid WinDriver handle");
  EXPECT_STREQ(status_text(0x20000015), "Timeout expired");
  EXPECT_STREQ(status_text(0xC0000000), "USBD: Halted");
  EXPECT_STREQ(status_text(0xC0000002), "HC status: Bit stuffing ");
  EXPECT_STREQ(status_text(0xC0000D00), "USBD: Attemped operation on frame length control not owned by caller");
  EXPECT_STREQ(status_text(0x20000009), "Unrecognized error code");
  EXPECT_STREQ(status_text(0xC000000E), "Unrecognized error code");
}

TEST(DriverHelpers, EventsTimeOutAndPollCountsThatAsSuccess) {
  DriverEvent* e = nullptr;
  ASSERT_EQ(create_event(&e), kStatusSuccess);
  EXPECT_EQ(wait_event(e, 0), kStatusTimeout);
  EXPECT_EQ(wait_event_poll(e, 0), kStatusSuccess);
  EXPECT_EQ(signal_event(e), kStatusSuccess);
  EXPECT_EQ(wait_event(e, 1), kStatusSuccess);
  EXPECT_EQ(wait_event(e, 0), kStatusTimeout) << "auto-reset";
  close_event(e);

  std::atomic<int> ran{0};
  Thread* t = nullptr;
  ASSERT_EQ(create_thread(&t, [](void* c) { ++*static_cast<std::atomic<int>*>(c); }, &ran), kStatusSuccess);
  wait_thread_and_close(t);
  EXPECT_EQ(ran, 1);

  char path[] = "C:\\STUDIES\\X/Y";
  convert_slashes(path, true);
  EXPECT_STREQ(path, "C:/STUDIES/X/Y");
  convert_slashes(path, false);
  EXPECT_STREQ(path, "C:\\STUDIES\\X\\Y");
  EXPECT_EQ(page_size(), static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(os_kind(), 1);
}

class FakePorts : public PortSpace {
 public:
  std::map<int, int> bytes;
  int read_port(int port) override { return bytes.count(port) ? bytes[port] : 0xFF; }
  bool write_port(int port, int value) override {
    bytes[port] = value & 0xFF;
    return true;
  }
};

long eventfd_count(int fd) {
  std::uint64_t n = 0;
  return ::read(fd, &n, sizeof n) == sizeof n ? static_cast<long>(n) : -1;
}

struct DriverLayer : ::testing::Test {
  FakePorts ports;
  int efd = -1;
  std::vector<std::string> notes;
  void SetUp() override {
    efd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(efd, 0);
    set_test_driver(&ports, efd, eventfd_count);
    platform::set_debug_sink([this](const std::string& s) { notes.push_back(s); });
  }
  void TearDown() override {
    platform::set_debug_sink(nullptr);
    set_test_driver(nullptr, -1, nullptr);
    ::close(efd);
  }
};

TEST_F(DriverLayer, PortRunsGoThroughThePortSpaceAndOtherCodesAreNotImplemented) {
  PortRun run{};
  EXPECT_EQ(driver_control(kControlWritePorts, &run, sizeof run), kStatusDeviceNotFound) << "not open";
  ASSERT_EQ(open_driver(), kStatusSuccess);
  run.port = 0x378;
  run.count = 3;
  run.bytes[0] = 1, run.bytes[1] = 2, run.bytes[2] = 3;
  EXPECT_EQ(driver_control(kControlWritePorts, &run, sizeof run), kStatusSuccess);
  EXPECT_EQ(ports.bytes[0x379], 2);
  ports.bytes[0x37A] = 0x5A;
  PortRun in{};
  in.port = 0x379;
  in.count = 2;
  EXPECT_EQ(driver_control(kControlReadPorts, &in, offsetof(PortRun, bytes) + 2), kStatusSuccess);
  EXPECT_EQ(in.bytes[0], 2);
  EXPECT_EQ(in.bytes[1], 0x5A);

  in.count = 3;
  EXPECT_EQ(driver_control(kControlReadPorts, &in, offsetof(PortRun, bytes) + 2), kStatusInvalidParameter)
      << "a count past the record's size";
  in.count = kPortRunMax + 1;
  EXPECT_EQ(driver_control(kControlReadPorts, &in, sizeof in), kStatusInvalidParameter);
  EXPECT_EQ(driver_control(kControlReadPorts, &in, 2), kStatusInvalidParameter);
  EXPECT_EQ(driver_control(0x95382603, &in, sizeof in), kStatusNotImplemented);
  EXPECT_EQ(driver_control(0x9538264F, &in, sizeof in), kStatusNotImplemented);
  close_driver();
}

TEST_F(DriverLayer, DebugPrintOnlyWhileOpenAndBounded) {
  debug_print(1, 2, "closed %d", 1);
  set_debug_level(3);
  EXPECT_TRUE(notes.empty());
  ASSERT_EQ(open_driver(), kStatusSuccess);
  debug_print(1, 2, "open %s", std::string(400, 'x').c_str());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].find("open "), notes[0].size() - 255) << "255 characters of the message";
  close_driver();
}

TEST_F(DriverLayer, InterruptsReachTheHandlerAsKindTwoWithTheirCount) {
  struct Seen {
    std::mutex m;
    std::vector<std::uint32_t> counts;
  } seen;
  auto handler = [](void* c, std::uint32_t kind, const std::uint8_t* data, std::size_t size) {
    auto* s = static_cast<Seen*>(c);
    if (kind != 2 || size != 4) return;
    std::lock_guard<std::mutex> lock(s->m);
    s->counts.push_back(platform::get_u32le(data));
  };
  Registration* a = nullptr;
  Registration* b = nullptr;
  EXPECT_EQ(register_events(&a, 16, handler, &seen), kStatusInterruptFailed) << "no interrupt kind asked for";
  ASSERT_EQ(register_events(&a, 2, handler, &seen), kStatusSuccess);
  EXPECT_EQ(shared_event_users(), 1);
  std::uint64_t three = 3;
  ASSERT_EQ(::write(efd, &three, sizeof three), 8);
  EXPECT_TRUE(testsupport::wait_until([&] {
    std::lock_guard<std::mutex> lock(seen.m);
    return !seen.counts.empty();
  }));
  {
    std::lock_guard<std::mutex> lock(seen.m);
    EXPECT_EQ(seen.counts.front(), 3u);
  }
  unregister_events(a);
  EXPECT_EQ(shared_event_users(), 0);
  ASSERT_EQ(::write(efd, &three, sizeof three), 8);
  ::usleep(20000);
  {
    std::lock_guard<std::mutex> lock(seen.m);
    EXPECT_EQ(seen.counts.size(), 1u) << "nothing after unregistering";
  }

  // No interrupt line (as /dev/port and the board library).
  set_test_driver(&ports, -1, nullptr);
  EXPECT_EQ(register_events(&b, 2, handler, &seen), kStatusInterruptFailed);
  EXPECT_EQ(b, nullptr);
}

}  // namespace
}  // namespace vaslab::driver
