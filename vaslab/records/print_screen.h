// The print screen: from the list screens it queues one study, a patient's
// studies or every listed study for the print queue, and views the chosen
// one.  Queueing never waits for paper.
#pragma once

namespace vaslab {

// Source flags of the print screen's list.
constexpr int kPrintArchived = 0;   // pages in archive path 1
constexpr int kPrintTemporary = 1;  // temporary studies, whose report is made first

// The print screen over the study list of the calling screen.
int print_queue_screen(int source);

// Print screen button codes.
constexpr int kPrintUp = 100;
constexpr int kPrintDown = 101;
constexpr int kPrintPage = 102;
constexpr int kPrintPatient = 103;
constexpr int kPrintAll = 104;
constexpr int kPrintCopies = 105;
constexpr int kPrintInk = 106;
constexpr int kPrintView = 107;
constexpr int kPrintExit = 108;
constexpr int kPrintList = 109;

}  // namespace vaslab
