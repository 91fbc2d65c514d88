// The worklist import screen, "C:\PROGRAMS\DICOMMWL": queries the outside
// worklist program and makes the chosen patient's files the import folder's
// "IMPORT.DAT" and "EXPORT.DAT".
#pragma once

namespace vaslab {

// argv {Import Control, Import Path, option number, "\"" Import Text "\""};
// at least four strings.  0 after Select or Cancel, 1 when it cannot run.
int dicommwl_main(int argc, char* argv[]);

}  // namespace vaslab
