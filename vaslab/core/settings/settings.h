// The hardware and option settings of the instrument: one 856-byte record,
// stored byte for byte as "c:\studies\setup.hdw" (little-endian, no header).
// One instance lives for the whole run; everything reads it through
// hardware_settings().  Text fields of width n hold at most n-1 characters
// and a NUL.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vaslab {

struct HardwareSettings {
  std::int16_t volume;           // audio volume step, -15..15
  std::int16_t touch_x_offset;   // touch calibration: raw x subtracted first
  std::int16_t touch_x_scale;    // screen x = (raw - offset) * scale / 10000
  std::int16_t touch_y_offset;
  std::int16_t touch_y_scale;
  std::int16_t touch_cal_extra;
  std::uint8_t right_bp_offset;  // pressure channel calibration
  std::uint8_t right_bp_span;
  std::uint8_t left_bp_offset;
  std::uint8_t left_bp_span;
  char print_control[64];        // "" default printer raw, "+" default via GDI, else a name
  char data_entry[2];            // "1" small, "2" large, "3" touch keyboard
  std::uint16_t vascular_port;   // COM number, or serial-card port when vascular_irq != 0
  std::uint8_t vascular_irq;     // 0 COM port; 1..14 card ISA; 16+ card PCI
  std::uint8_t dio_type;         // 0 port, 1 LPT, 2 SUSI
  std::uint16_t dio_out_port;
  std::uint16_t dio_in_port;
  std::uint16_t touch_port;
  std::uint8_t touch_irq;
  std::uint8_t touch_type;       // bits 0-1 panel type (2 none); bits 2-3 display fit
  std::uint8_t view_printout;    // 0 colour, 1 mono (bit 1 also read by the view)
  std::uint8_t printout_in;
  std::uint16_t ir_remote_port;
  std::uint8_t ir_remote_irq;
  std::uint8_t ir_remote_enabled;
  std::uint8_t auto_cuff_select;
  char initial_run[31];
  char archive_path_1[31];
  char archive_ext_1[4];
  char archive_path_2[31];
  char archive_ext_2[4];
  std::uint8_t start_menu;
  std::uint8_t vascular_module_present;
  std::uint8_t export_code_1;    // bit 2: empty export_path_1 at shut-down
  char export_control_1[64];
  char old_export_path_1[31];    // export path 1 of the older, shorter file
  std::uint8_t inflate_delay;
  std::uint8_t deflate_delay;
  std::uint8_t caps_lock_mode;
  char shutdown_run[64];
  std::uint8_t spectral_module_present;
  char export_path_1[64];
  std::uint8_t spectral_mute_switch;
  char import_control[64];
  char import_path[64];
  char import_button[7];
  std::uint8_t import_code;      // worklist option bits
  char import_text[21];
  char export_button[7];
  char export_name_1[16];
  char export_name_2[16];
  std::uint8_t export_code_2;    // bit 2: empty export_path_2 at shut-down
  char export_control_2[64];
  char export_path_2[64];
  char button_color[2];          // "1" selects the second button scheme
  char data_directory[64];       // run-time only: never taken from the file
  std::uint8_t option_bits;      // bits 0-1 ABI chart, bits 2-4 indicator options
  std::uint8_t reserved;
  char facility_name[30];
};

constexpr std::size_t kHardwareSettingsSize = 856;
static_assert(sizeof(HardwareSettings) == kHardwareSettingsSize);
static_assert(offsetof(HardwareSettings, right_bp_offset) == 12);
static_assert(offsetof(HardwareSettings, print_control) == 16);
static_assert(offsetof(HardwareSettings, vascular_port) == 82);
static_assert(offsetof(HardwareSettings, touch_port) == 90);
static_assert(offsetof(HardwareSettings, ir_remote_port) == 96);
static_assert(offsetof(HardwareSettings, initial_run) == 101);
static_assert(offsetof(HardwareSettings, archive_ext_2) == 198);
static_assert(offsetof(HardwareSettings, export_code_1) == 204);
static_assert(offsetof(HardwareSettings, old_export_path_1) == 269);
static_assert(offsetof(HardwareSettings, inflate_delay) == 300);
static_assert(offsetof(HardwareSettings, shutdown_run) == 303);
static_assert(offsetof(HardwareSettings, spectral_module_present) == 367);
static_assert(offsetof(HardwareSettings, export_path_1) == 368);
static_assert(offsetof(HardwareSettings, import_control) == 433);
static_assert(offsetof(HardwareSettings, import_code) == 568);
static_assert(offsetof(HardwareSettings, export_name_1) == 597);
static_assert(offsetof(HardwareSettings, export_code_2) == 629);
static_assert(offsetof(HardwareSettings, button_color) == 758);
static_assert(offsetof(HardwareSettings, data_directory) == 760);
static_assert(offsetof(HardwareSettings, option_bits) == 824);
static_assert(offsetof(HardwareSettings, facility_name) == 826);

// The settings file, "c:\studies\setup.hdw".
extern const char kHardwareSettingsFile[];

// The program-wide pointer to the one record.  A test may install its own
// record (nullptr restores the program's).  Not owned.
HardwareSettings& hardware_settings();
void set_hardware_settings(HardwareSettings* s);

// Run-time copies taken from the record when it is read: the volume the
// front-panel control is stepped to, and the touch calibration the touch
// decoder uses.  Changing them does not change the record until the next
// write_hardware_settings(), which refreshes `volume` from the run-time copy.
struct TouchCalibration {
  std::int16_t x_offset = 0;
  std::int16_t x_scale = 0;
  std::int16_t y_offset = 0;
  std::int16_t y_scale = 0;
  std::int16_t extra = 0;
};
std::int16_t& runtime_volume();
TouchCalibration& runtime_touch_calibration();

// Loads the record from the settings file.  Never fails: a missing or short
// file is completed from the defaults and written back.  `data_directory`
// keeps the value it had before the call.
void read_hardware_settings();

// Writes the record (after refreshing `volume`) as the whole settings file,
// under a temporary name and renamed over the old one.  0 on success, a
// negative value when the file could not be written completely; the old file
// is then left as it was.
[[nodiscard]] int write_hardware_settings();

// Completes the record from byte offset `first_missing` onward with the
// defaults.  A file of 368 bytes or fewer has the older layout, whose export
// path 1 stood at offset 269: it is carried over to `export_path_1`.
void default_hardware_settings(int first_missing);

// The 856-byte defaults image, and the record encoded and decoded as the
// file's bytes.  Decoding forces a NUL into the last byte of every text field.
const std::uint8_t* hardware_settings_defaults_image();
void encode_hardware_settings(const HardwareSettings& s, std::uint8_t* out856);
void decode_hardware_settings(const std::uint8_t* in856, HardwareSettings& s);

}  // namespace vaslab
