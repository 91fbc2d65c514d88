// The compressor's message table, its prompts, and the error reports and
// warnings of an operation.  Every text the compressor shows, logs or returns
// is fetched here and first offered to the host's message-display callback,
// which may rewrite it; every question to the user goes through
// zipVolumePrompt, which the callback may answer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>

namespace ziplib {

struct ZipState;

// Message-box styles and answers.
constexpr int MB_OK = 0;
constexpr int MB_OKCANCEL = 1;
constexpr int MB_ABORTRETRYIGNORE = 2;
constexpr int MB_YESNOCANCEL = 3;
constexpr int MB_YESNO = 4;
constexpr int MB_RETRYCANCEL = 5;
constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7;

// The text of `id` in one of the calling thread's three buffers (index
// clamped to 0..2); empty for an unknown id or an unattached thread.
const char* zipMessageText(int id, int buffer);

// Asks the user (prompt types in the .cpp); returns the answer, or -1 for a
// part-ready notice whose callback answer was not a button.
int zipVolumePrompt(int type, int buttons, int number1, int number2, const char* text, ZipState& s);

// Records an error of the running operation (only the first report counts):
// the code's text, " (detail)" when a detail is given, and a line feed; it
// goes to the diagnostic log and, unless quiet, to prompt 11.
void zip_report_error(ZipState& s, int code, const char* detail = nullptr);
// A warning: prompt 12 unless the operation is quiet; never changes the result.
void zip_warn(ZipState& s, const std::string& text);

// What the messages need of the stages above them, which they never call by
// name: the calling thread's state (texts need its buffers), the pump that
// follows a message box, and the diagnostic log that takes an error report.
// The frame installs them before any state exists; a missing one means no
// state (empty texts), no pumping, no log line.
struct MessageHooks {
  ZipState* (*current_state)() = nullptr;
  void (*pump)(ZipState& s) = nullptr;
  void (*log_text)(ZipState& s, const std::string& text) = nullptr;
};
void set_message_hooks(const MessageHooks& hooks);

// The system message box: (text, title, style) -> answer.  The default
// answers with the cancelling button of the style (OK for a notice).
using MessageBoxFn = int (*)(const char* text, const char* title, int buttons);
void set_message_box(MessageBoxFn box);  // nullptr restores the default
// The installed message box (the decompressor shares it).
int zip_message_box(const char* text, const char* title, int buttons);

// printf-like formatting of a table text, which the host may have rewritten:
// only %d/%ld/%x/%u/%c conversions with flags and width, %s and %% are
// understood, each taking the next argument; anything else is copied.
struct FormatArg {
  template <class I, std::enable_if_t<std::is_integral_v<I>, int> = 0>
  FormatArg(I v) : number(static_cast<long long>(v)) {}
  FormatArg(const char* t) : text(t ? t : "") {}
  long long number = 0;
  const char* text = nullptr;
};
std::string zip_format(const char* format, std::initializer_list<FormatArg> args);

}  // namespace ziplib
