// Starting outside programs and waiting for them.
//
// Programs are named by their Windows path ("C:\PROGRAMS\UCONFIG\UCONFIG")
// and started at the mapped path, with an argument vector and no shell, so no
// text in an argument can run a command.  The command interpreter is used only
// where the caller runs a configured command line.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The result of a program that could not be started at all; errno then
// tells why (ENOENT when no program is at the path).
constexpr int kNotStarted = -1;

// Starts the program at the mapped `win_path` with `args` (argv[1..]) and
// waits for it.  Returns its exit status, kNotStarted when it could not be
// started, or 128 + the signal number when a signal ended it.  A path
// without an ending that does not exist is tried with ".exe", ".bat", ".sh".
// `cwd`, when not empty, is the Linux folder it runs in.
int run_program(const std::string& win_path, const std::vector<std::string>& args, const std::string& cwd = {});

// Starts argv[0], a Linux path or a program name looked up on PATH, with
// the whole vector as its arguments, no shell, and waits; the same results
// (kNotStarted for an empty vector).
int run_command(const std::vector<std::string>& argv);

// Runs a command line through /bin/sh -c and waits; the same results.
int run_shell(const std::string& command_line);

// A text as one word for /bin/sh, whatever it holds.
std::string shell_quote(const std::string& text);

// The mapped Linux path of a program, trying the endings above; empty when
// none exists.
std::string find_program(const std::string& win_path);

}  // namespace platform
