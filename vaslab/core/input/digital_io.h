// Front-panel keys and the digital outputs (volume, cuff selection).
//
// The front panel's key matrix and the volume control hang on one digital
// output byte (bits 0-1 the scanned key row, bits 2-3 the volume control)
// and a four-bit input that reads 15 when no key is down.  Depending on
// `dio_type` the lines are I/O ports (0), a printer port's status lines (1)
// or the embedded-board I/O library "c:\programs\Susi" (2).
#pragma once

#include <memory>

#include <cstdint>

namespace vaslab {

// The I/O ports as the workstation sees them.  The instrument's own space is
// opened by open_port_driver(); tests install a fake.
class PortSpace {
 public:
  virtual ~PortSpace() = default;
  // The byte at a port, or -1 when it could not be read.
  virtual int read_port(int port) = 0;
  // False when the byte could not be written.
  virtual bool write_port(int port, int value) = 0;
};
// Installs a port space (not owned) and counts port I/O as available;
// nullptr drops it (port I/O unavailable until open_port_driver()).
void set_port_space(PortSpace* space);

// A port space of its own for `dio_type` (the board library's inputs and
// output for the board), nothing shown; nullptr when it cannot be had.  For
// the parallel-port device `interrupt_fd` receives its descriptor, whose
// interrupts parport_interrupt_count() takes; else -1.
std::unique_ptr<PortSpace> open_port_space(int* interrupt_fd);
// Interrupts since the last call, or -1.
long parport_interrupt_count(int fd);

// Opens the port space for `dio_type`: "/dev/port" for I/O ports (root
// only), the parallel-port device ($VASLAB_PARPORT, else "/dev/parport0")
// for a printer port.  1 on success; otherwise the operator is told and port
// I/O stays unavailable (0).
int open_port_driver();

// 255 for a port of 0 or less or when port I/O is unavailable.
int read_port_byte(int port);
// Nothing for a port of 0 or less or when port I/O is unavailable.
void write_port_byte(int port, int value);

// The four-bit input code (15: no key) and the output byte, by `dio_type`.
int read_dio_input_code();
// Front-panel keys are configured: a port or the board library to read.
bool front_panel_present();
void write_dio_output_byte(int value);

// The embedded-board library, bound by name at each call.  A missing entry
// point is reported once under "SUSI Error" and the call yields 0.
void init_susi();
int read_dio_inputs();
void write_dio_output(int value);
// Uninitialises and unloads the embedded-board I/O library.
void unload_susi();

// One scan of the key matrix: a key number 1..14, or -1.  Always -1 while
// `auto_cuff_select` is set (the lines then belong to the cuff selector).
int read_front_panel_key();

// Steps the volume control to v (clamped to -15..15).
void set_hardware_volume(int volume);

// Cuff selection byte: bits 0-2 channel 1, bits 3-5 channel 2, value 1 or
// 2 picks one of two cuffs.  With `auto_cuff_select` the module is told,
// channel 1 first.
void select_cuffs(int cuffs);
int selected_cuffs();
// The other cuff of channel 1 or 2 than the selection names.
void swap_cuff_selection_1();
void swap_cuff_selection_2();

// The last output byte (tests).
int dio_output_byte();
// Back to the start state: no port space, library unloaded (tests).
void reset_digital_io();

}  // namespace vaslab
