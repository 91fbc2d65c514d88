// The firmware updater: reprograms the interface board's controller from an
// Intel HEX file through the programming library, which it loads at run time
// from "c:\programs\ovisp.dll" (ovisp.so at the mapped path).  A worker thread
// runs the fixed sequence and reports each step as one line to a view; the
// view's OK button is enabled when the sequence has ended.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ovisp/isp.h"

namespace boardflash {

// What the updater shows: a list of lines and an OK button.  appendLine and
// enableOk are called from the worker thread.
class UpdaterView {
 public:
  virtual ~UpdaterView() = default;
  virtual void appendLine(const std::string& text) = 0;
  virtual void enableOk() = 0;
  // Shows the view until it is closed (OK pressed, or closed by the user
  // while the sequence may still run).
  virtual void runUntilClosed() = 0;
};

// Prints each line on standard output.  OK is Enter on a terminal; without a
// terminal on standard input, OK is pressed as soon as it is enabled.  End of
// input, or an interrupt (see request_close), closes the view at once.
std::unique_ptr<UpdaterView> make_console_view();
// Closes the console view from a signal handler.
void request_close();

// The exports of the library the updater binds: the instrument's 25, and
// the buffer range, by which it tells a HEX file without data.
struct IspLibrary {
  decltype(&::ispInit) init;
  decltype(&::ispGetLastError) getLastError;
  decltype(&::ispSelectDevice) selectDevice;
  decltype(&::ispSelectCommHardware) selectCommHardware;
  decltype(&::ispOpenRs232Port) openRs232Port;
  decltype(&::ispOpenUsbPort) openUsbPort;
  decltype(&::ispOpenCanPort) openCanPort;
  decltype(&::ispSyncTarget) syncTarget;
  decltype(&::ispSelectCanNode) selectCanNode;
  decltype(&::ispReadSpecialByte) readSpecialByte;
  decltype(&::ispWriteSpecialByte) writeSpecialByte;
  decltype(&::ispGetLastResult) getLastResult;
  decltype(&::ispEraseBlock) eraseBlock;
  decltype(&::ispEraseDevice) eraseDevice;
  decltype(&::ispBlankCheckDevice) blankCheckDevice;
  decltype(&::ispCancel) cancel;
  decltype(&::ispFillBuffer) fillBuffer;
  decltype(&::ispParseHexFile) parseHexFile;
  decltype(&::ispReadSingleByteFromBuffer) readSingleByteFromBuffer;
  decltype(&::ispProgramDevice) programDevice;
  decltype(&::ispVerifyDevice) verifyDevice;
  decltype(&::ispReadAddrRange) readAddrRange;
  decltype(&::ispSelectMemory) selectMemory;
  decltype(&::ispEnterAppliMode) enterAppliMode;
  decltype(&::ispEnterIspMode) enterIspMode;
  decltype(&::ispGetBufferAddrLo) getBufferAddrLo;
  decltype(&::ispGetBufferAddrHi) getBufferAddrHi;
};

// Binds the exports by name.  False when any is missing: such a library
// is treated as no library at all.
bool bind_isp_library(void* library, IspLibrary& isp);

// The result of a sequence that cannot be loaded.
constexpr int kLibraryMissing = 54;

// Steps 1 to 15 with a bound library; 0 on success, else the library's last
// error (never 0 for a failed step).
int run_sequence(UpdaterView& view, const IspLibrary& isp, const std::string& hexPath);
// Loads and binds the library, then runs the sequence.  The library stays
// loaded until the program ends.
int reprogram_device(UpdaterView& view, const std::string& hexPath);

// The worker: the file name line, a pause, the sequence, OK enabled and, on
// failure, the support line.  `fileName` is shown, `hexPath` is handed to
// the library.
int update_worker(UpdaterView& view, const std::string& fileName, const std::string& hexPath);

// The path the library must be given for a file named on the command line:
// a drive path ("C:\...") or an absolute path stays as it is, anything else
// is taken relative to the working directory.
std::string library_path_for(const std::string& fileName);

// Sends the wake-up byte 0x3D to the board on COM2 (9600 8N1, DTR and RTS
// on); nothing happens when the port cannot be opened.
void wake_board();

// The whole program: runs `work` (update_worker) on a worker thread, shows
// the view until it is closed, then waits for the worker at most
// `exitWaitMs`, but without limit while it is writing the board's flash.
// `finished` tells whether the worker ended (if not, it keeps running and
// will not start writing the flash); the result is the worker's.
struct RunResult {
  bool finished = false;
  int result = 0;
};
RunResult run_updater(UpdaterView& view, std::function<int()> work, int exitWaitMs = 3000);

}  // namespace boardflash
