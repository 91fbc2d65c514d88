// Placeholders until each module is built: a module that is not there
// answers as a module without an entry does (-1), so the step runner stops
// at once.  Each module's own source replaces its line here.
#include "vaslab/studies/module_entries.h"

namespace vaslab {

int timer_main(int, char*[]) { return -1; }

}  // namespace vaslab
