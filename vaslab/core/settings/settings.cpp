#include "vaslab/core/settings/settings.h"

#include <array>
#include <cstring>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"

namespace vaslab {

const char kHardwareSettingsFile[] = "c:\\studies\\setup.hdw";

namespace {

using Image = std::array<std::uint8_t, kHardwareSettingsSize>;

// The one field list, walked both for reading and for writing the image.
template <class W, class S>
void visit_fields(W& w, S& s) {
  w.field(s.volume);
  w.field(s.touch_x_offset);
  w.field(s.touch_x_scale);
  w.field(s.touch_y_offset);
  w.field(s.touch_y_scale);
  w.field(s.touch_cal_extra);
  w.field(s.right_bp_offset);
  w.field(s.right_bp_span);
  w.field(s.left_bp_offset);
  w.field(s.left_bp_span);
  w.field(s.print_control);
  w.field(s.data_entry);
  w.field(s.vascular_port);
  w.field(s.vascular_irq);
  w.field(s.dio_type);
  w.field(s.dio_out_port);
  w.field(s.dio_in_port);
  w.field(s.touch_port);
  w.field(s.touch_irq);
  w.field(s.touch_type);
  w.field(s.view_printout);
  w.field(s.printout_in);
  w.field(s.ir_remote_port);
  w.field(s.ir_remote_irq);
  w.field(s.ir_remote_enabled);
  w.field(s.auto_cuff_select);
  w.field(s.initial_run);
  w.field(s.archive_path_1);
  w.field(s.archive_ext_1);
  w.field(s.archive_path_2);
  w.field(s.archive_ext_2);
  w.field(s.start_menu);
  w.field(s.vascular_module_present);
  w.field(s.export_code_1);
  w.field(s.export_control_1);
  w.field(s.old_export_path_1);
  w.field(s.inflate_delay);
  w.field(s.deflate_delay);
  w.field(s.caps_lock_mode);
  w.field(s.shutdown_run);
  w.field(s.spectral_module_present);
  w.field(s.export_path_1);
  w.field(s.spectral_mute_switch);
  w.field(s.import_control);
  w.field(s.import_path);
  w.field(s.import_button);
  w.field(s.import_code);
  w.field(s.import_text);
  w.field(s.export_button);
  w.field(s.export_name_1);
  w.field(s.export_name_2);
  w.field(s.export_code_2);
  w.field(s.export_control_2);
  w.field(s.export_path_2);
  w.field(s.button_color);
  w.field(s.data_directory);
  w.field(s.option_bits);
  w.field(s.reserved);
  w.field(s.facility_name);
}

template <std::size_t N>
void force_nul(char (&text)[N]) {
  text[N - 1] = '\0';
}

void force_text_nuls(HardwareSettings& s) {
  force_nul(s.print_control);
  force_nul(s.data_entry);
  force_nul(s.initial_run);
  force_nul(s.archive_path_1);
  force_nul(s.archive_ext_1);
  force_nul(s.archive_path_2);
  force_nul(s.archive_ext_2);
  force_nul(s.export_control_1);
  force_nul(s.old_export_path_1);
  force_nul(s.shutdown_run);
  force_nul(s.export_path_1);
  force_nul(s.import_control);
  force_nul(s.import_path);
  force_nul(s.import_button);
  force_nul(s.import_text);
  force_nul(s.export_button);
  force_nul(s.export_name_1);
  force_nul(s.export_name_2);
  force_nul(s.export_control_2);
  force_nul(s.export_path_2);
  force_nul(s.button_color);
  force_nul(s.data_directory);
  force_nul(s.facility_name);
}

constexpr Image make_defaults() {
  Image img{};
  auto text = [&img](std::size_t at, const char* t) {
    for (std::size_t i = 0; t[i]; ++i) img[at + i] = static_cast<std::uint8_t>(t[i]);
  };
  auto u16 = [&img](std::size_t at, std::uint16_t v) {
    img[at] = static_cast<std::uint8_t>(v);
    img[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  img[12] = img[13] = img[14] = img[15] = 0x80;  // pressure offsets and spans
  text(16, "+");                                  // print_control
  text(80, "1");                                  // data_entry
  u16(82, 0x2F8);                                 // vascular_port
  img[84] = 3;                                    // vascular_irq
  u16(90, 0x3F8);                                 // touch_port
  img[92] = 4;                                    // touch_irq
  img[93] = 2;                                    // touch_type: no panel
  u16(96, 0x2F8);                                 // ir_remote_port
  img[98] = 3;                                    // ir_remote_irq
  text(132, "C:\\ARCHIVE\\");                     // archive_path_1
  text(198, "ZVT");                               // archive_ext_2
  img[202] = 3;                                   // start_menu
  img[300] = 20;                                  // inflate_delay
  img[301] = 20;                                  // deflate_delay
  img[432] = 1;                                   // spectral_mute_switch
  text(561, "Import");                            // import_button
  text(569, "Other Text");                        // import_text
  text(590, "Export");                            // export_button
  text(758, "0");                                 // button_color
  return img;
}

constexpr Image kDefaults = make_defaults();

HardwareSettings g_settings{};
HardwareSettings* g_current = &g_settings;
std::int16_t g_runtime_volume = 0;
TouchCalibration g_touch_calibration;

}  // namespace

HardwareSettings& hardware_settings() { return *g_current; }
void set_hardware_settings(HardwareSettings* s) { g_current = s ? s : &g_settings; }

std::int16_t& runtime_volume() { return g_runtime_volume; }
TouchCalibration& runtime_touch_calibration() { return g_touch_calibration; }

const std::uint8_t* hardware_settings_defaults_image() { return kDefaults.data(); }

void encode_hardware_settings(const HardwareSettings& s, std::uint8_t* out856) {
  platform::LeWriter w(out856, kHardwareSettingsSize);
  visit_fields(w, s);
}

void decode_hardware_settings(const std::uint8_t* in856, HardwareSettings& s) {
  platform::LeReader r(in856, kHardwareSettingsSize);
  visit_fields(r, s);
  force_text_nuls(s);
}

void default_hardware_settings(int first_missing) {
  constexpr int kOldLayoutEnd = 368;  // files this short have the older layout
  constexpr int kOldExportPath = 269, kExportPath = 368, kOldExportPathLen = 31;
  constexpr int kAlwaysDefaultsBelow = 204;
  HardwareSettings& s = hardware_settings();
  Image img;
  encode_hardware_settings(s, img.data());
  int a = first_missing < 0 ? 0 : first_missing;
  const int size = static_cast<int>(kHardwareSettingsSize);
  for (; a < kAlwaysDefaultsBelow; ++a) img[a] = kDefaults[a];
  if (a <= kOldLayoutEnd) {
    for (; a < kOldLayoutEnd; ++a) img[a] = kDefaults[a];
    std::memcpy(&img[kExportPath], &img[kOldExportPath], kOldExportPathLen);
    a = kExportPath + kOldExportPathLen;
  }
  for (; a < size; ++a) img[a] = kDefaults[a];
  decode_hardware_settings(img.data(), s);
}

int write_hardware_settings() {
  HardwareSettings& s = hardware_settings();
  s.volume = g_runtime_volume;
  Image img;
  encode_hardware_settings(s, img.data());
  const std::string path = platform::map_path_create_dirs(kHardwareSettingsFile);
  return platform::write_file_atomic(path, img.data(), img.size(), 0600);
}

void read_hardware_settings() {
  HardwareSettings& s = hardware_settings();
  char saved_dir[sizeof s.data_directory];
  std::memcpy(saved_dir, s.data_directory, sizeof saved_dir);

  Image img;
  encode_hardware_settings(s, img.data());
  std::size_t count = 0;
  if (auto bytes = platform::read_file(platform::map_path(kHardwareSettingsFile),
                                       kHardwareSettingsSize)) {
    count = bytes->size();
    if (count) std::memcpy(img.data(), bytes->data(), count);
  }
  decode_hardware_settings(img.data(), s);
  if (count < kHardwareSettingsSize) {
    default_hardware_settings(static_cast<int>(count));
    // The write below stores the run-time volume: take it from the completed
    // record, so a file too short to hold the volume gets the default one.
    g_runtime_volume = s.volume;
    if (int rc = write_hardware_settings(); rc < 0)
      platform::debug_printf("read_hardware_settings - cannot write back %s (%d)\n",
                             kHardwareSettingsFile, rc);
  }

  g_runtime_volume = s.volume;
  g_touch_calibration = {s.touch_x_offset, s.touch_x_scale, s.touch_y_offset, s.touch_y_scale,
                         s.touch_cal_extra};
  std::memcpy(s.data_directory, saved_dir, sizeof saved_dir);
}

}  // namespace vaslab
