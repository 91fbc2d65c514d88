#include <gtest/gtest.h>
#include <stdlib.h>

#include "link_fixture.h"
#include "platform/paths.h"
#include "sim/pty.h"
#include "vaslab/program/program.h"

namespace {

using namespace vaslab;

struct SerialLinks : LinkFixture {
  HardwareSettings& hw = hardware_settings();
  void no_devices() {
    hw.vascular_module_present = 0;
    hw.touch_type = 2;
    hw.ir_remote_enabled = 0;
  }
};

TEST_F(SerialLinks, LinkChoiceFollowsTheSettings) {
  no_devices();
  EXPECT_EQ(link_kind(SerialDevice::kModule), LinkKind::kNone);
  EXPECT_EQ(link_kind(SerialDevice::kTouch), LinkKind::kNone);
  EXPECT_EQ(link_kind(SerialDevice::kRemote), LinkKind::kNone);

  hw.vascular_module_present = 1;
  hw.vascular_irq = 3;
  EXPECT_EQ(link_kind(SerialDevice::kModule), LinkKind::kSerialCard);
  hw.vascular_irq = 0;
  for (int port : {1, 9}) {
    hw.vascular_port = static_cast<std::uint16_t>(port);
    EXPECT_EQ(link_kind(SerialDevice::kModule), LinkKind::kComPort) << port;
  }
  for (int port : {0, 10, 0x2F8}) {
    hw.vascular_port = static_cast<std::uint16_t>(port);
    EXPECT_EQ(link_kind(SerialDevice::kModule), LinkKind::kNone) << port;
  }

  hw.ir_remote_enabled = 1;
  hw.ir_remote_irq = 18;
  EXPECT_EQ(link_kind(SerialDevice::kRemote), LinkKind::kSerialCard);
  hw.ir_remote_irq = 0;
  hw.ir_remote_port = 2;
  EXPECT_EQ(link_kind(SerialDevice::kRemote), LinkKind::kComPort);
  hw.ir_remote_port = 10;
  EXPECT_EQ(link_kind(SerialDevice::kRemote), LinkKind::kNone);

  // The touch panel's port is not range-checked: its low byte is the number.
  for (int type : {0, 1, 4 + 1}) {
    hw.touch_type = static_cast<std::uint8_t>(type);
    hw.touch_irq = 0;
    EXPECT_EQ(link_kind(SerialDevice::kTouch), LinkKind::kComPort) << type;
    hw.touch_irq = 4;
    EXPECT_EQ(link_kind(SerialDevice::kTouch), LinkKind::kSerialCard) << type;
  }
  hw.touch_type = 3;
  EXPECT_EQ(link_kind(SerialDevice::kTouch), LinkKind::kNone);
}

TEST_F(SerialLinks, CardDriverIsLoadedOnlyWhenALinkUsesIt) {
  platform::set_library_folder(root.path());  // a folder without the driver
  no_devices();
  hw.vascular_irq = 3;  // on the card, but the module is absent
  hw.touch_type = 2;
  hw.touch_irq = 4;     // no panel
  EXPECT_EQ(init_serial_card(), 1);
  EXPECT_TRUE(messages.empty());

  hw.ir_remote_enabled = 1;  // the remote's IRQ 3 wants the card
  hw.ir_remote_irq = 3;
  EXPECT_EQ(init_serial_card(), 0);
  EXPECT_EQ(messages, std::vector<std::string>{"DLL Error: Failed to load cdrvxd32.dll"});
}

TEST_F(SerialLinks, CardInitialisationRetriesAndReportsTheDriversResult) {
  no_devices();
  hw.vascular_module_present = 1;
  hw.vascular_irq = 3;
  EXPECT_EQ(init_serial_card(), 1);
  EXPECT_EQ(card_log(), "Init\n");

  reset_serial_links();
  card_call<void (*)()>("CdrvSimReset")();
  card_result("Init", 7);
  const std::uint32_t start = clock.now;
  EXPECT_EQ(init_serial_card(), 0);
  std::string all_tries;
  for (int i = 0; i < 41; ++i) all_tries += "Init\n";
  EXPECT_EQ(card_log(), all_tries);
  EXPECT_EQ(clock.now - start, 40u * 500u) << "half a second between tries";
  EXPECT_EQ(messages, std::vector<std::string>{"RS232 Error: pci serial port initialize got 7\n"});

  reset_serial_links();
  card_call<void (*)()>("CdrvSimReset")();
  messages.clear();
  card_result("Init", 54);
  EXPECT_EQ(init_serial_card(), 0);
  EXPECT_EQ(card_log(), "Init\n") << "54 ends the tries at once";
  EXPECT_TRUE(messages.empty());
}

TEST_F(SerialLinks, ModuleOnAnIsaCardPortMovesBytesThroughTheDriver) {
  sim::Pty pty;
  ASSERT_TRUE(pty.open());
  ::setenv("VASLAB_CARD_2F8", pty.slave_path().c_str(), 1);
  no_devices();
  hw.vascular_module_present = 1;  // the defaults: port 0x2F8, IRQ 3
  ASSERT_EQ(init_serial_card(), 1);
  ASSERT_EQ(open_module_link(), 0);
  EXPECT_NE(card_log().find("OpenPort 0 760 3 0 0 0 0\n"), std::string::npos) << card_log();
  EXPECT_EQ(card_log().find("SetPortCharacteristics"), std::string::npos);

  send_module_byte(0x53);
  send_module_byte(0x1FF);  // only the low byte goes
  EXPECT_EQ(read_all(pty.master()), (std::vector<std::uint8_t>{0x53, 0xFF}));
  const std::uint8_t in[] = {0x00, 0xAA};
  ASSERT_EQ(::write(pty.master(), in, 2), 2);
  std::vector<std::uint16_t> got;
  for (int i = 0; i < 100000 && got.size() < 2; ++i)
    if (std::uint16_t b = receive_module_byte(); b != 0xFFFF) got.push_back(b);
  EXPECT_EQ(got, (std::vector<std::uint16_t>{0x00, 0xAA}));
  EXPECT_EQ(receive_module_byte(), 0xFFFF);

  card_result("GetPacket", -5);
  EXPECT_EQ(receive_module_byte(), 0xFFFF);
  card_result("PutPacket", 0);
  send_module_byte(0x41);
  card_result("Cleanup", 3);
  close_module_link();
  EXPECT_EQ(messages, (std::vector<std::string>{"Error: module port rec got -5 from 0, 1, char",
                                                "Error: module port send got 0 from 0, 1, 41",
                                                "Error: MODULE port close got 3 from 0"}));
  ::unsetenv("VASLAB_CARD_2F8");
}

TEST_F(SerialLinks, CardPortThatDoesNotOpenEndsTheModuleLink) {
  ::unsetenv("VASLAB_CARD_2F8");
  no_devices();
  hw.vascular_module_present = 1;
  ASSERT_EQ(init_serial_card(), 1);
  EXPECT_EQ(open_module_link(), 1);
  EXPECT_EQ(messages, std::vector<std::string>{"Error: ISA serial port open got -2 from 0, 2f8, 3, 0,0,0,0\n"});
}

TEST_F(SerialLinks, PciPortTakesItsRecordFromTheDescriptionFile) {
  no_devices();
  hw.vascular_module_present = 1;
  hw.vascular_port = 0x2F8;
  ASSERT_EQ(init_serial_card(), 1);
  card_result("OpenPort", 9);
  // Lower-case letters, spaces and line ends are skipped; ':' counts as 10.
  root.write("c:\\studies\\pci.hdw",
             "abcdef 0300 1111 2222 3333 4444\r\n"
             "02F8 1111 2222 3333 4444\r\n"
             "02F8 5555 6666 7777 888:\r\n"
             "02F8 9999 AAAA BBBB CCCC\r\n");
  EXPECT_EQ(open_serial_card_port(0x2F8, 18), 9);
  EXPECT_NE(card_log().find("OpenPort 34954 760 21845 26214 30583 4096 0\n"), std::string::npos) << card_log();
  EXPECT_EQ(open_serial_card_port(0x2F8, 15), 9);
  EXPECT_NE(card_log().find("OpenPort 17476 760 4369 8738 13107 4096 0\n"), std::string::npos) << card_log();
  EXPECT_TRUE(messages.empty());

  EXPECT_EQ(open_serial_card_port(0x2F8, 20), -1) << "a fourth match is not there";
  EXPECT_EQ(messages, std::vector<std::string>{"Error: Error reading PCI hardware info file"});

  card_result("OpenPort", -4);
  messages.clear();
  EXPECT_EQ(open_serial_card_port(0x2F8, 16), -4);
  EXPECT_EQ(messages,
            std::vector<std::string>{"Error: PCI serial port open got -4 from 2f8, 1111, 2222, 3333, 4444\n"});

  ::unlink(platform::map_path("c:\\studies\\pci.hdw").c_str());
  messages.clear();
  EXPECT_LT(open_serial_card_port(0x2F8, 16), 0);
  EXPECT_EQ(messages, std::vector<std::string>{"Error: Error opening PCI hardware info file"});
}

TEST_F(SerialLinks, ComPortThatIsMissingGivesItsMessages) {
  no_devices();
  hw.vascular_module_present = 1;
  hw.vascular_irq = 0;
  hw.vascular_port = 3;
  platform::set_com_path(3, root.path() + "/no-such-tty");
  EXPECT_EQ(open_module_link(), 1);
  EXPECT_EQ(messages, (std::vector<std::string>{"Error: Error opening COM port: com3:",
                                                "Error: Failed to Open Vascular COM port, exiting."}));
}

TEST_F(SerialLinks, ModulePortOutsideOneToNineOpensNothingAndSendsNothing) {
  no_devices();
  hw.vascular_module_present = 1;
  hw.vascular_irq = 0;
  for (int port : {0, 10}) {
    hw.vascular_port = static_cast<std::uint16_t>(port);
    EXPECT_EQ(open_module_link(), 0);
    send_module_byte(0x53);
    EXPECT_EQ(receive_module_byte(), 0xFFFF);
    close_module_link();
  }
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(card_log(), "");
}

// --- The program's exit codes ---------------------------------------------

struct ProgramLinks : SerialLinks {
  void save() { ASSERT_EQ(write_hardware_settings(), 0); }
};

TEST_F(ProgramLinks, MissingModulePortEndsWithOne) {
  no_devices();
  hw.vascular_module_present = 1;
  hw.vascular_irq = 0;
  hw.vascular_port = 3;
  save();
  platform::set_com_path(3, root.path() + "/no-such-tty");
  backend.push({platform::Msg::kDestroy});
  EXPECT_EQ(win_main(""), 1);
  EXPECT_EQ(messages, (std::vector<std::string>{"Error: Error opening COM port: com3:",
                                                "Error: Failed to Open Vascular COM port, exiting."}));
}

TEST_F(ProgramLinks, MissingRemotePortEndsWithTwoAfterTheModuleLinkIsClosed) {
  sim::Pty module;
  ASSERT_TRUE(module.open());
  no_devices();
  hw.vascular_module_present = 1;
  hw.vascular_irq = 0;
  hw.vascular_port = 1;
  hw.ir_remote_enabled = 1;
  hw.ir_remote_irq = 0;
  hw.ir_remote_port = 2;
  save();
  platform::set_com_path(1, module.slave_path());
  platform::set_com_path(2, root.path() + "/no-such-tty");
  backend.push({platform::Msg::kDestroy});
  EXPECT_EQ(win_main(""), 2);
  EXPECT_EQ(read_all(module.master()), std::vector<std::uint8_t>{0x00}) << "the module got its 0 first";
  EXPECT_FALSE(com_port_open(SerialDevice::kModule));
  EXPECT_EQ(messages, std::vector<std::string>{"Error: Error opening COM port: com2:"});
}

TEST_F(ProgramLinks, DriverFailureEndsWithOneBeforeAnyPortOpens) {
  platform::set_library_folder(root.path());
  no_devices();
  hw.vascular_module_present = 1;  // on the card by default
  save();
  backend.push({platform::Msg::kDestroy});
  EXPECT_EQ(win_main(""), 1);
  EXPECT_EQ(messages, std::vector<std::string>{"DLL Error: Failed to load cdrvxd32.dll"});
}

}  // namespace
