// Patient exchange with the outside worklist program, and the purge of the
// two work folders.
//
// The worklist program leaves the chosen patient in the import folder of the
// settings (Import Path) as "IMPORT.DAT": records of 4920 bytes, each one
// NUL-ended text whose last byte is 0; record 1 is the name, 2 the ID, 3 a
// third field.  "EXPORT.DAT" goes back with the study's exports and is only
// ever copied.  A temporary study keeps its own copies as N.imp and N.exp.
#pragma once

#include <cstddef>
#include <string>

#include "vaslab/core/settings/module_table.h"

namespace vaslab {

constexpr std::size_t kImportRecordSize = 4920;
// Widths of the imported patient's texts (characters, without the NUL).
constexpr int kImportedNameChars = 29;
constexpr int kImportedIdChars = 29;
constexpr int kImportedThirdChars = 20;

// The one entry of the worklist exchange.  Every operation gives -1 at once
// when Import Control or Import Path is empty.
//   1..63  field n of "IMPORT.DAT" (at most 80 characters) into `buffer`:
//          its length; -1 no patient or no file; -2 a bad record
//   -11    the next part of that field: its length, 0 at the end
//   -10    `buffer` names a study ("3.PDF"): its "3.imp" and "3.exp" become
//          "IMPORT.DAT" and "EXPORT.DAT" (both removed first, so another
//          patient's files never stay), then reloaded as -4
//   -9, -8 the imported ID, name into `buffer`: 0
//   -7     deletes every file of the import folder, forgets the patient: 0
//   -6     0 when a patient is imported and "IMPORT.DAT" opens, else -1
//   -5     empties the work folders and runs the worklist import screen when
//          Import Control names it: 0; -1 when it names another program
//   -4     loads name, ID and third field: 0; -1 no file; -2 a bad record
//   -3     0 when `buffer` holds the imported name exactly, else -1
//   -2, -1 copies "EXPORT.DAT", "IMPORT.DAT" to the path in `buffer`: 0, or
//          -1 when the copy failed
//   64 and above, below -11: -2
// Texts copied into `buffer` are cut to `buffer_size` - 1 characters.
int worklist_control(int operation, char* buffer, std::size_t buffer_size = kWorklistBufferSize);

// The main menu's import: forgets the patient imported before (and empties
// the import folder first when the import code's bit 2 says so), runs the
// import control and loads the patient it brought.  -1 when the import
// control could not run; 0 when no patient came in (the import folder is
// then emptied); 1 when one did.
int import_worklist_patient();

// Forgets the imported patient (name, ID and third field).
void clear_imported_patient();

// The imported patient; an empty name means none.
const char* imported_patient_name();
const char* imported_patient_id();
const char* imported_patient_third();

// Deletes every file of "C:\TEMP\" and "C:\DATA\" (folders stay).
void purge_work_dirs();

// Whether a folder named by the settings may be emptied by a purge: only a
// folder inside a drive, never a drive's root, a folder outside the drives,
// one that is or holds "C:\STUDIES\", "C:\PROGRAMS\" or an archive path,
// nor one that holds the data directory.  A refused folder is named in a
// debug note.
bool may_empty_folder(const std::string& win_folder);

}  // namespace vaslab
