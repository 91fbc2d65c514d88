#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "link_fixture.h"
#include "sim/pty.h"
#include "vaslab/core/input/digital_io.h"

namespace {

using namespace vaslab;

constexpr int kOut = 0x378, kIn = 0x379;

// The front panel behind two ports: the output byte selects a key row
// (bits 0-1, 0 drives both rows) and the input port's low nibble reads the
// code of the key held in a selected row, 15 otherwise.
struct FakePanel : PortSpace {
  int output = -1;
  int row = 0;    // row of the held key, 0 none
  int code = 15;  // its input code
  std::vector<int> writes;
  int reads = 0;
  bool lpt = false;  // status lines: bits 4-7, bit 7 inverted

  int read_port(int port) override {
    ++reads;
    if (port != kIn) return 0xFF;
    const int rows = output < 0 ? 0 : output & 3;
    const int nibble = (row != 0 && (rows == 0 || rows == row)) ? code : 15;
    if (lpt) return ((nibble ^ 0x08) << 4) | 0x07;
    return 0xF0 | nibble;
  }
  bool write_port(int port, int value) override {
    if (port == kOut) {
      output = value;
      writes.push_back(value);
    }
    return true;
  }
  void hold(int r, int c) {
    row = r;
    code = c;
  }
  void let_go() { hold(0, 15); }
};

struct FrontPanel : CoreFixture {
  FakePanel panel;
  HardwareSettings& hw = hardware_settings();

  void SetUp() override {
    CoreFixture::SetUp();
    reset_digital_io();
    hw.dio_type = 0;
    hw.dio_out_port = kOut;
    hw.dio_in_port = kIn;
    hw.auto_cuff_select = 0;
    set_port_space(&panel);
  }
  void TearDown() override {
    reset_digital_io();
    CoreFixture::TearDown();
  }
  int scan() { return read_front_panel_key(); }
};

TEST_F(FrontPanel, EveryKeyOfTheTableIsFoundInItsRow) {
  struct Key {
    int row, code, key;
    bool confirmed;
  };
  const Key keys[] = {{1, 3, 6, false},  {1, 7, 2, true},   {1, 11, 5, true},  {1, 12, 4, false},
                      {1, 13, 3, true},  {1, 14, 1, true},  {2, 3, 7, false},  {2, 7, 8, true},
                      {2, 9, 10, false}, {2, 10, 12, false}, {2, 11, 9, true}, {2, 12, 11, false},
                      {2, 13, 14, true}, {2, 14, 13, true}};
  for (const Key& k : keys) {
    panel.hold(k.row, k.code);
    if (k.confirmed) {
      EXPECT_EQ(scan(), -1) << "row " << k.row << " code " << k.code << " waits for confirmation";
      clock.advance(61);
    }
    EXPECT_EQ(scan(), k.key) << "row " << k.row << " code " << k.code;
    EXPECT_EQ(panel.output & 3, k.row) << "the row stays selected while held";
    panel.let_go();
    EXPECT_EQ(scan(), -1);
    clock.advance(16);
    EXPECT_EQ(scan(), -1) << "the release wait ends";
  }
  // Codes the table does not hold give nothing in either row.
  for (int row = 1; row <= 2; ++row)
    for (int code : {0, 1, 2, 4, 5, 6, 8}) {
      panel.hold(row, code);
      EXPECT_EQ(scan(), -1) << "row " << row << " code " << code;
      panel.let_go();
      scan();
      clock.advance(16);
      scan();
    }
}

TEST_F(FrontPanel, PlainKeyRepeatsWhileHeldThenReleaseWaitsFifteenMilliseconds) {
  panel.hold(1, 12);
  EXPECT_EQ(scan(), 4);
  EXPECT_EQ(scan(), 4);
  EXPECT_EQ(scan(), 4);
  panel.let_go();
  EXPECT_EQ(scan(), -1);
  EXPECT_EQ(panel.output & 3, 0) << "row bits cleared on release";
  // A bounce inside the release wait is no new key and restarts the wait.
  clock.advance(10);
  panel.hold(1, 12);
  EXPECT_EQ(scan(), -1);
  panel.let_go();
  clock.advance(10);
  EXPECT_EQ(scan(), -1);
  clock.advance(6);
  EXPECT_EQ(scan(), -1) << "the wait runs out here";
  panel.hold(1, 12);
  EXPECT_EQ(scan(), 4);
}

TEST_F(FrontPanel, ConfirmedKeyNeedsSixtyMillisecondsAndAnEarlyReleaseDropsIt) {
  panel.hold(1, 14);
  EXPECT_EQ(scan(), -1);
  clock.advance(30);
  EXPECT_EQ(scan(), -1);
  clock.advance(31);
  EXPECT_EQ(scan(), 1);
  EXPECT_EQ(scan(), 1) << "held, it repeats";
  panel.let_go();
  scan();
  clock.advance(16);
  scan();

  panel.hold(1, 14);
  EXPECT_EQ(scan(), -1);
  clock.advance(20);
  panel.let_go();
  EXPECT_EQ(scan(), -1);
  clock.advance(41);
  EXPECT_EQ(scan(), -1) << "released before the confirmation";
  EXPECT_EQ(panel.output & 3, 0);
  clock.advance(100);
  EXPECT_EQ(scan(), -1);

  // A plain key of the same row replaces a key awaiting confirmation.
  panel.hold(1, 14);
  EXPECT_EQ(scan(), -1);
  panel.hold(1, 12);
  EXPECT_EQ(scan(), 4);
}

TEST_F(FrontPanel, AutomaticCuffSelectionSilencesTheKeys) {
  hw.auto_cuff_select = 1;
  panel.hold(1, 12);
  EXPECT_EQ(scan(), -1);
  EXPECT_EQ(panel.reads, 0) << "the lines belong to the cuff selector";
}

TEST_F(FrontPanel, PrinterPortReadsTheStatusLines) {
  hw.dio_type = 1;
  panel.lpt = true;
  panel.hold(2, 9);
  EXPECT_EQ(scan(), 10);
  panel.let_go();
  EXPECT_EQ(read_dio_input_code(), 15);
}

TEST_F(FrontPanel, WithoutPortsNothingIsReadOrWritten) {
  set_port_space(nullptr);
  EXPECT_EQ(read_port_byte(kIn), 255);
  EXPECT_EQ(read_dio_input_code(), 15);
  EXPECT_EQ(scan(), -1);
  set_port_space(&panel);
  EXPECT_EQ(read_port_byte(0), 255);
  write_port_byte(-1, 5);
  EXPECT_TRUE(panel.writes.empty());
}

// Volume pulses: writes with bit 2 cleared, each 1 ms apart.
int volume_pulses(const FakePanel& panel) {
  int n = 0;
  for (int w : panel.writes) n += (w & 4) == 0;
  return n;
}

TEST_F(FrontPanel, VolumePulsesFollowTheClampedValue) {
  struct Case {
    int volume, pulses;
  };
  for (const Case c : {Case{0, 0}, Case{15, 15}, Case{-15, 49}, Case{-2, 62}, Case{20, 15}, Case{-40, 49}}) {
    panel.writes.clear();
    const std::uint32_t start = clock.now;
    set_hardware_volume(c.volume);
    EXPECT_EQ(volume_pulses(panel), c.pulses) << "volume " << c.volume;
    ASSERT_FALSE(panel.writes.empty());
    EXPECT_EQ(panel.writes.front() & 0x0C, 0x04) << "starts with bit 3 cleared";
    EXPECT_EQ(panel.writes.back() & 0x0C, 0x0C) << "rests with both set";
    EXPECT_EQ(clock.now - start, static_cast<std::uint32_t>(2 + 2 * c.pulses));
  }
}

// --- The embedded-board library ---------------------------------------------

struct Susi : FrontPanel {
  void* lib = nullptr;

  void SetUp() override {
    FrontPanel::SetUp();
    hw.dio_type = 2;
    set_port_space(nullptr);
  }
  void TearDown() override {
    reset_digital_io();
    if (lib) ::dlclose(lib);
    FrontPanel::TearDown();
  }
  // Puts a stand-in at "c:\programs\Susi" and keeps our own handle on it.
  void install(const char* build_name) {
    const std::string from = platform::library_folder() + "/" + build_name;
    const std::string to = platform::map_path_create_dirs("c:\\programs\\Susi.so");
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    lib = ::dlopen(to.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    call<void (*)()>("SusiSimReset")();
  }
  template <typename Fn>
  Fn call(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(lib, name));
  }
  std::vector<std::string> boxes;
  void collect_boxes() {
    platform::set_debug_sink([this](const std::string& note) {
      if (note.rfind("message box [", 0) == 0) boxes.push_back(note);
    });
  }
};

TEST_F(Susi, KeysComeThroughTheLibraryAndRepeatedBytesAreWrittenOnce) {
  install("Susi.so");
  call<void (*)(std::uint32_t)>("SusiSimSetInputs")(12);
  EXPECT_EQ(scan(), 4) << "row 1 code 12";
  EXPECT_EQ(call<int (*)()>("SusiSimInitialised")(), 1);
  const int before = call<int (*)()>("SusiSimWrites")();
  write_dio_output(0x0E);
  write_dio_output(0x0E);
  EXPECT_EQ(call<int (*)()>("SusiSimWrites")(), before + 1);
  EXPECT_EQ(call<std::uint32_t (*)()>("SusiSimOutputs")(), 0x0Eu);
  unload_susi();
  EXPECT_EQ(call<int (*)()>("SusiSimInitialised")(), 0) << "uninitialised at unload";
}

TEST_F(Susi, MissingLibraryOrEntryIsReportedOnceAndThePanelStaysSilent) {
  collect_boxes();
  EXPECT_EQ(read_dio_input_code(), 15);
  EXPECT_EQ(read_dio_input_code(), 15);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("No SUSI.DLL found"), std::string::npos);
  EXPECT_NE(boxes[0].find("SUSI Error"), std::string::npos);

  reset_digital_io();
  boxes.clear();
  install("SusiNoWrite.so");
  for (int i = 0; i < 3; ++i) write_dio_output(i + 1);
  EXPECT_EQ(read_dio_input_code(), 15) << "the rest of the library works";
  ASSERT_EQ(boxes.size(), 1u) << "reported once, not on every pass";
  EXPECT_NE(boxes[0].find("SusiIOWriteMulti not found"), std::string::npos);
}

TEST_F(Susi, FailedInitialisationIsNotRetried) {
  install("Susi.so");
  call<void (*)(int)>("SusiSimSetInitResult")(0);
  call<void (*)(std::uint32_t)>("SusiSimSetInputs")(12);
  EXPECT_EQ(read_dio_input_code(), 15);
  call<void (*)(int)>("SusiSimSetInitResult")(1);
  EXPECT_EQ(read_dio_input_code(), 15);
  EXPECT_EQ(call<int (*)()>("SusiSimInitialised")(), 0);
}

// --- Cuff selection to the module ----------------------------------------------

struct Cuffs : LinkFixture {
  sim::Pty pty;
  HardwareSettings& hw = hardware_settings();

  void SetUp() override {
    LinkFixture::SetUp();
    hw.vascular_module_present = 1;
    hw.vascular_irq = 0;
    hw.vascular_port = 1;
    ASSERT_TRUE(pty.open());
    platform::set_com_path(1, pty.slave_path());
    ASSERT_EQ(open_module_link(), 0);
  }
  void TearDown() override {
    close_module_link();
    LinkFixture::TearDown();
  }
};

TEST_F(Cuffs, SelectionSendsChannelOneFirstOnlyWithAutomaticSelection) {
  hw.auto_cuff_select = 0;
  select_cuffs(0x11);
  EXPECT_TRUE(read_all(pty.master(), 50).empty());
  EXPECT_EQ(selected_cuffs(), 0x11);

  hw.auto_cuff_select = 1;
  select_cuffs(0x11);
  EXPECT_EQ(read_all(pty.master()), (std::vector<std::uint8_t>{20, 98}));
  select_cuffs(0x0A);  // channel 1 value 2, channel 2 value 1
  EXPECT_EQ(read_all(pty.master()), (std::vector<std::uint8_t>{45, 82}));
  swap_cuff_selection_1();
  swap_cuff_selection_2();
  EXPECT_EQ(read_all(pty.master()), (std::vector<std::uint8_t>{20, 98}));
  select_cuffs(0x3F);  // values 7: no cuff
  EXPECT_TRUE(read_all(pty.master(), 50).empty());
}

}  // namespace
