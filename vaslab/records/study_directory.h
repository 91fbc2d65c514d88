// The list screens over the study list: the study directory, which saves
// temporary studies into the archive; the archive screen, which searches,
// views and deletes archived studies and starts a study with an archived
// study's history; and the temporary files screen, which reopens, views and
// deletes temporary studies.
#pragma once

namespace vaslab {

// From the review screen: the temporary studies with their save actions.
int study_directory_screen();
// From "mastermn" with any letter but "M" and "P".
int archive_screen();
// From "mastermn" "P"; 8 when a reopened study was left through its Exit.
int temp_files_screen();

// Button codes shared by the three screens.
constexpr int kListUp = 100;
constexpr int kListDown = 101;
constexpr int kListArea = 109;

// The study directory.
constexpr int kDirSavePage = 102;
constexpr int kDirSavePatient = 103;
constexpr int kDirSaveAll = 104;
constexpr int kDirView = 107;
constexpr int kDirCancel = 108;

// The archive screen.
constexpr int kArcName = 104;
constexpr int kArcId = 105;
constexpr int kArcDate = 106;
constexpr int kArcView = 108;
constexpr int kArcPrint = 102;
constexpr int kArcDelete = 103;
constexpr int kArcSearchToggle = 110;
constexpr int kArcUpdateHistory = 111;
constexpr int kArcExit = 107;

// The temporary files screen.
constexpr int kTempPrint = 103;
constexpr int kTempExport = 108;
constexpr int kTempDelete = 104;
constexpr int kTempView = 107;
constexpr int kTempEdit = 105;
constexpr int kTempExit = 110;

}  // namespace vaslab
