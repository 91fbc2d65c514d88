// The study menu module "mastermn": "M" the study menu and the review screen
// of the chosen study, "P" the temporary files, any other letter the archive.  The review
// screen shows the plan of the open study with each step's status and runs,
// views and reports its steps.
#pragma once

namespace vaslab {

// argv {"mastermn", letter}; 4 for any other argument count, else 0.
int mastermn_main(int argc, char* argv[]);

// With exam id 0 a new temporary study of the template; with an exam id the
// stored study (template number 0: taken from its first page).  8 when left,
// 4 when the study cannot be set up.
int review_screen(int template_number, int exam_id);

// Button codes of the review screen.
constexpr int kReviewProceed = 3;
constexpr int kReviewExit = 102;
constexpr int kReviewNewStudy = 103;
constexpr int kReviewPatient = 105;
constexpr int kReviewStepReport = 104;
constexpr int kReviewView = 108;
constexpr int kReviewPrint = 107;
constexpr int kReviewExport = 109;
constexpr int kReviewUp = 100;
constexpr int kReviewDown = 101;
constexpr int kReviewList = 110;
constexpr int kReviewStudyDirectory = 106;

}  // namespace vaslab
