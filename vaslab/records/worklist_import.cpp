// Placeholder until the import screen is built: it reports that it could not
// run.
#include "vaslab/records/worklist_import.h"

namespace vaslab {

int dicommwl_main(int, char*[]) { return 1; }

}  // namespace vaslab
