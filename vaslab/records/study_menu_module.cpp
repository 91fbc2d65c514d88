#include "vaslab/records/study_menu_module.h"

namespace vaslab {

int mastermn_main(int, char*[]) { return 0; }

}  // namespace vaslab
