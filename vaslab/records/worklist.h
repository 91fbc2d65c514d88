// Patient exchange with the outside worklist program, and the purge of the
// two work folders.
#pragma once

namespace vaslab {

// The one entry of the worklist exchange; see the operation codes of the
// import folder.  Returns a signed 16-bit result.
int worklist_control(int operation, char* buffer);

// Forgets the imported patient (name, ID and third field).
void clear_imported_patient();

// Deletes every file of "C:\TEMP\" and "C:\DATA\" (folders stay).
void purge_work_dirs();

}  // namespace vaslab
