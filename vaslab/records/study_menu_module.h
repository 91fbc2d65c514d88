// The study menu module "mastermn": "M" the study menu, "L" the archive,
// "P" the temporary files.
#pragma once

namespace vaslab {

int mastermn_main(int argc, char* argv[]);

}  // namespace vaslab
