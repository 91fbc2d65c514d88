// Placeholders until each module is built: a module that is not there
// answers as a module without an entry does (-1), so the step runner stops
// at once.  Each module's own source replaces its line here; none is left.
#include "vaslab/studies/module_entries.h"
