// The serial links to the measuring module, the touch panel and the remote.
// Each device sits on a COM port of the PC or on a port of the multi-port
// serial card, whose outside driver library "cdrvxd32" is loaded only when a
// link uses the card.  The device code above moves single bytes through the
// calls here.
#pragma once

#include <cstdint>
#include <string>

namespace vaslab {

enum class SerialDevice { kModule = 0, kTouch = 1, kRemote = 2 };
enum class LinkKind { kNone, kComPort, kSerialCard };

// The link a device uses according to the settings (kNone also when the
// device is disabled).  A card port with an IRQ of 14 or less is an ISA port,
// 15 or more a PCI port described in "c:\studies\pci.hdw".
LinkKind link_kind(SerialDevice device);

// Initialises the serial-card driver when a link uses it: 1 ready or not
// needed, 0 failure (the program then ends).
int init_serial_card();
// Frees the driver library at shut-down.
void unload_serial_card_driver();

// Opens a card port: the driver's handle, negative on failure (after its
// message).
int open_serial_card_port(int port, int irq);
// The card handle a device's link holds, -1 for none.
int serial_card_handle(SerialDevice device);
void set_serial_card_handle(SerialDevice device, int handle);

// Driver calls on an open card port; each returns the driver's result, 54
// when the library or the entry point is missing.
int serial_card_set_characteristics(int handle);  // the touch panel's 5, 0, 3, 0, 4
int serial_card_put_byte(int handle, std::uint8_t byte);       // 1 when sent
int serial_card_get_byte(int handle, std::uint8_t* byte);      // 1 byte, 0 none, <0 error
int serial_card_cleanup(int handle);                           // 0 on success

// Opens "com<number>:" for a device at 9600 8N1, raw, with its time-outs:
// 0 on success, 1 on failure after its message.
int open_com_port(SerialDevice device, int com_number);
void close_com_port(SerialDevice device);
bool com_port_open(SerialDevice device);
void com_send_byte(SerialDevice device, std::uint8_t byte);
// 0..255, or 0xFFFF when nothing is waiting or the port is closed.
std::uint16_t com_receive_byte(SerialDevice device);
// False when the line state cannot be read or set.
bool com_set_speed(SerialDevice device, int baud);

// What a wait for a device's bytes can watch: its COM port's descriptor;
// kNothingToWatch when the device has no open link (no byte can come);
// kCannotWatch when its link is a serial-card port, whose driver offers
// nothing to wait on.
constexpr int kNothingToWatch = -1;
constexpr int kCannotWatch = -2;
int link_wait_descriptor(SerialDevice device);

// Opens the measuring module's link: 0 when open or not used, 1 on failure
// (after its messages; the program then ends with code 1).
int open_module_link();

// Formats a link error and shows it in a message box with one OK button.
void show_link_error(const char* title, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Closes every port and forgets the driver (tests).
void reset_serial_links();

}  // namespace vaslab
