// Compiled into every program that links the workstation's subsystems (the
// workstation, its helper programs and the tests): the module table is
// filled before main runs, so a screen started on its own reaches the same
// modules that the workstation's start gives it.
#include "vaslab/program/program.h"

namespace {

const bool g_modules_installed = (vaslab::install_modules(), true);

}  // namespace
