// demo-settings: prepares the demo machine's settings and firmware image
// under $VASLAB_ROOT.  A settings file already there is left alone; a new one
// gets the defaults with the measuring module on COM port 1 (which the run
// script points at the module simulator), no touch panel and no remote, and
// the worklist import screen as Import Control, and the PDF and e-mail
// exports as the two export destinations.
//   demo-settings                 prepares the files
//   demo-settings --module-port   prints the COM number of the module's link
//                                 (nothing when it is not on a COM port)
#include <cstdio>
#include <cstring>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "sim/module_sim.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/settings/settings.h"

int main(int argc, char** argv) {
  using namespace vaslab;
  if (argc > 1 && std::strcmp(argv[1], "--module-port") == 0) {
    read_hardware_settings();
    const HardwareSettings& hw = hardware_settings();
    if (hw.vascular_module_present && hw.vascular_irq == 0 && hw.vascular_port >= 1 && hw.vascular_port <= 9)
      std::printf("%d\n", hw.vascular_port);
    return 0;
  }
  const std::string settings_path = platform::map_path_create_dirs(kHardwareSettingsFile);
  if (!platform::file_size(settings_path)) {
    read_hardware_settings();  // completes the missing file with the defaults
    HardwareSettings& hw = hardware_settings();
    hw.vascular_module_present = 1;
    hw.vascular_port = 1;
    hw.vascular_irq = 0;
    hw.touch_type = static_cast<std::uint8_t>((hw.touch_type & ~3) | 2);
    hw.ir_remote_enabled = 0;
    // The worklist import screen with the stand-in worklist program; an
    // imported patient goes on to the study menu.
    std::snprintf(hw.import_control, sizeof hw.import_control, "%s", "C:\\PROGRAMS\\DICOMMWL");
    std::snprintf(hw.import_path, sizeof hw.import_path, "%s", "C:\\IMPORT\\");
    std::snprintf(hw.import_text, sizeof hw.import_text, "%s", "Birth Date");
    hw.import_code = 8;
    // Two export destinations: PDF files on the USB drive (the start screen
    // moves export path 1 there), and e-mail from the folder that the demo's
    // mail command line (c:\programs\dosmtp.bat) sends from.
    std::snprintf(hw.export_control_1, sizeof hw.export_control_1, "%s", "C:\\PROGRAMS\\VIVOVEV");
    std::snprintf(hw.export_path_1, sizeof hw.export_path_1, "%s", "D:\\VIVOVEV\\");
    hw.export_code_1 = 0;
    std::snprintf(hw.export_control_2, sizeof hw.export_control_2, "%s", "C:\\PROGRAMS\\SMTPEX");
    std::snprintf(hw.export_path_2, sizeof hw.export_path_2, "%s", "C:\\MAIL\\");
    hw.export_code_2 = 0;
    if (const int r = write_hardware_settings(); r != 0) {
      std::fprintf(stderr, "demo-settings: cannot write %s: %s\n", settings_path.c_str(), platform::error_text(r));
      return 1;
    }
  }
  const std::string image_path = platform::map_path_create_dirs(kFirmwareFile);
  if (!platform::file_size(image_path)) {
    const auto image = sim::make_firmware_file(sim::ModuleOptions{}.version);
    if (const int r = platform::write_file_atomic(image_path, image.data(), image.size()); r != 0) {
      std::fprintf(stderr, "demo-settings: cannot write %s: %s\n", image_path.c_str(), platform::error_text(r));
      return 1;
    }
  }
  return 0;
}
