#include "vaslab/core/stopwatch.h"

namespace vaslab {

void start_stopwatch() {}
void tick_stopwatch() {}

}  // namespace vaslab
