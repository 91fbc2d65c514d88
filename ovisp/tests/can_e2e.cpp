// The CAN protocols end to end: ovisp.so with the simulated CAN link (a
// bootloader node) under the six CAN link names, and with the SocketCAN link
// against a node on a vcan interface where the kernel offers one.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ovisp/tests/isp_library.h"
#include "sim/can_node.h"
#include "testsupport/pattern.h"
#include "testsupport/temp_root.h"

namespace {

const std::string kBin = std::string(VASLAB_BUILD_DIR) + "/bin";

int run(const std::string& command) { return std::system(command.c_str()); }

// A copy of ovisp.so in a folder whose CAN link names all lead to the
// simulated node, which this process controls through the same library.
class CanEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = root.path() + "/lib";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(run("cp " + kBin + "/ovisp.so " + folder + "/ovisp.so"), 0);
    for (const char* name : {"OvCanRs232", "OvCanRM", "OvCanVector", "OvCanIxxat", "OvCanPeak", "OvCanSystec"}) {
      ASSERT_EQ(symlink((kBin + "/ovcansim.so").c_str(), (folder + "/" + name + ".so").c_str()), 0);
    }
    sim = dlopen((kBin + "/ovcansim.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(sim, nullptr) << dlerror();
    reset = reinterpret_cast<void (*)(const char*)>(dlsym(sim, "ovcansim_reset"));
    trace = reinterpret_cast<const char* (*)()>(dlsym(sim, "ovcansim_trace"));
    memory = reinterpret_cast<int (*)(int, unsigned, unsigned char*, int)>(dlsym(sim, "ovcansim_memory"));
    ASSERT_TRUE(reset && trace && memory);
    isp = std::make_unique<ovisp_test::IspLibrary>(folder + "/ovisp.so");
    ASSERT_NE(isp->handle, nullptr) << dlerror();
    ASSERT_EQ(isp->init(), 1);
  }
  void TearDown() override {
    isp.reset();
    if (sim != nullptr) dlclose(sim);
  }
  // A fresh node, the device on the hardware code, the node opened.
  void ready(const std::string& settings, int device, int code) {
    reset(settings.c_str());
    ASSERT_EQ(isp->selectDevice(device), 1);
    ASSERT_EQ(isp->selectCommHardware(code), 1) << isp->lastError();
    ASSERT_EQ(isp->openCanPort(500000, 1, 2, 3, 4, 5), 1) << isp->lastError();
    ASSERT_EQ(isp->selectCanNode(0x2A), 1) << isp->lastError();
  }
  std::string path(const std::string& name) const { return root.path() + "/" + name; }
  std::string nodeMemory(unsigned from, int count) const {
    std::string out(static_cast<std::size_t>(count), '\0');
    memory(0, from, reinterpret_cast<unsigned char*>(out.data()), count);
    return out;
  }
  // Programs an image at `offset`, verifies it and reads it back to a file
  // compared by srec_cmp.
  void programVerifyReadBack(const std::string& image, unsigned offset) {
    std::ofstream(path("image.bin"), std::ios::binary) << image;
    char off[16];
    std::snprintf(off, sizeof off, "0x%X", offset);
    ASSERT_EQ(run("srec_cat " + path("image.bin") + " -Binary -offset " + off + " -o " + path("image.hex") + " -Intel"), 0);
    ASSERT_EQ(isp->parseHexFile(path("image.hex").c_str()), 1) << isp->lastError();
    ASSERT_EQ(isp->eraseDevice(), 1) << isp->lastError();
    ASSERT_EQ(isp->blankCheckDevice(), 1) << isp->lastError();
    ASSERT_EQ(isp->programDevice(), 1) << isp->lastError();
    EXPECT_TRUE(nodeMemory(offset, static_cast<int>(image.size())) == image);
    ASSERT_EQ(isp->verifyDevice(), 1) << isp->lastError();
    const unsigned last = offset + static_cast<unsigned>(image.size()) - 1;
    ASSERT_EQ(isp->readAddrRange(offset, last, path("back.hex").c_str()), 1) << isp->lastError();
    EXPECT_EQ(run("srec_cmp " + path("back.hex") + " -Intel " + path("image.bin") + " -Binary -offset " + off), 0);
  }
  // The display frames of the trace as (start, end).
  std::vector<std::pair<unsigned, unsigned>> displays() const {
    std::vector<std::pair<unsigned, unsigned>> out;
    std::istringstream in(trace());
    std::string line;
    while (std::getline(in, line)) {
      // Frames on 003 with memory code 00: the reads of memory 0.
      if (line.rfind("Write 0030500", 0) == 0 && line.size() >= 21) {
        out.emplace_back(std::stoul(line.substr(13, 4), nullptr, 16), std::stoul(line.substr(17, 4), nullptr, 16));
      }
    }
    return out;
  }

  testsupport::TempRoot root;
  std::string folder;
  void* sim = nullptr;
  void (*reset)(const char*) = nullptr;
  const char* (*trace)() = nullptr;
  int (*memory)(int, unsigned, unsigned char*, int) = nullptr;
  std::unique_ptr<ovisp_test::IspLibrary> isp;
};

TEST_F(CanEndToEnd, CanDeviceOnEveryAdapterCode) {
  const std::string image = testsupport::pattern_bytes(3000, 7);
  for (int code = 3; code <= 8; ++code) {
    SCOPED_TRACE("hardware code " + std::to_string(code));
    ready("flash=32768;data=2048", 15, code);
    programVerifyReadBack(image, 0x200);
    const auto spans = displays();
    ASSERT_FALSE(spans.empty());
    // The adapter on the serial link carries eight bytes a read.
    for (const auto& [from, to] : spans) EXPECT_LE(to - from + 1, code == 3 ? 8u : 1024u);
    if (code == 3) {
      EXPECT_EQ(spans.size(), 2 * 3000u / 8);
    }
  }
}

TEST_F(CanEndToEnd, PagedDeviceAcrossSixtyFourKilobytes) {
  ready("paged=1;flash=131072", 24, 7);
  programVerifyReadBack(testsupport::pattern_bytes(0x2000, 8), 0xF000);
}

TEST_F(CanEndToEnd, ClosedNodeAndErrorFrame) {
  reset("closed=1");
  ASSERT_EQ(isp->selectDevice(15), 1);
  ASSERT_EQ(isp->selectCommHardware(6), 1);
  ASSERT_EQ(isp->openCanPort(0, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(isp->selectCanNode(0x2A), 0);
  EXPECT_EQ(isp->lastError(), 31);
  EXPECT_EQ(isp->setSecurityLev1(), 0);
  EXPECT_EQ(isp->lastError(), 31);

  // The second frame is answered with the node's error frame.
  ready("error_frame=2", 15, 6);
  EXPECT_EQ(isp->eraseDevice(), 0);
  EXPECT_EQ(isp->lastError(), 21);
}

// A node on a SocketCAN interface: frames read from a raw socket go to the
// simulated node, its answers go back on the bus.
class BusNode {
 public:
  BusNode(const std::string& interface, const std::string& settings) : node_(settings) {
    socket_ = ::socket(PF_CAN, SOCK_RAW, CAN_RAW);
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    running_ = true;
    thread_ = std::thread([this] { serve(); });
  }
  ~BusNode() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) ::close(socket_);
  }
  bool running() const { return running_; }
  std::vector<std::uint8_t> memory() {
    std::lock_guard<std::mutex> lock(mutex_);
    return node_.memory(0);
  }

 private:
  void serve() {
    while (running_) {
      pollfd p{socket_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      can_frame in{};
      if (::read(socket_, &in, sizeof in) != static_cast<ssize_t>(sizeof in)) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      for (const sim::CanFrame& f : node_.receive({in.can_id & CAN_SFF_MASK, {in.data, in.data + in.can_dlc}})) {
        can_frame out{};
        out.can_id = f.id;
        out.can_dlc = static_cast<std::uint8_t>(f.data.size());
        if (!f.data.empty()) std::memcpy(out.data, f.data.data(), f.data.size());
        if (::write(socket_, &out, sizeof out) != static_cast<ssize_t>(sizeof out)) break;
      }
    }
  }

  sim::CanNode node_;
  int socket_ = -1;
  std::atomic<bool> running_{false};
  std::thread thread_;
  std::mutex mutex_;
};

TEST(SocketCan, ProgramsAndVerifiesANodeOnVcan0) {
  const int probe = ::socket(PF_CAN, SOCK_RAW, CAN_RAW);
  if (probe < 0) GTEST_SKIP() << "this kernel offers no CAN sockets: " << std::strerror(errno);
  ::close(probe);
  if (if_nametoindex("vcan0") == 0) {
    GTEST_SKIP() << "no vcan0 interface (scripts/test adds one as root where the kernel has the vcan module)";
  }
  BusNode node("vcan0", "cris=01;flash=32768");
  ASSERT_TRUE(node.running());
  setenv("OVCAN_INTERFACE", "vcan0", 1);
  ovisp_test::IspLibrary isp;
  ASSERT_NE(isp.handle, nullptr) << dlerror();
  ASSERT_EQ(isp.init(), 1);
  ASSERT_EQ(isp.selectDevice(15), 1);
  ASSERT_EQ(isp.selectCommHardware(7), 1) << isp.lastError();
  ASSERT_EQ(isp.openCanPort(500000, 0, 0, 0, 0, 0), 1) << isp.lastError();
  ASSERT_EQ(isp.updateCmdsIds(1), 1);
  ASSERT_EQ(isp.selectCanNode(0x2A), 1) << isp.lastError();
  const std::string image = testsupport::pattern_bytes(1500, 9);
  for (unsigned a = 0; a < image.size(); ++a) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned char>(image[a]));
    ASSERT_EQ(isp.writeSingleByte(0x100 + a, text), 1);
  }
  ASSERT_EQ(isp.programAddrRange(0x100, 0x100 + 1499), 1) << isp.lastError();
  const std::vector<std::uint8_t> flash = node.memory();
  EXPECT_TRUE(std::string(flash.begin() + 0x100, flash.begin() + 0x100 + 1500) == image);
  ASSERT_EQ(isp.verifyAddrRange(0x100, 0x100 + 1499), 1) << isp.lastError();
}

}  // namespace
