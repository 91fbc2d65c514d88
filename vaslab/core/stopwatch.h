// The study stopwatch.
#pragma once

namespace vaslab {

// Resets the stopwatch.
void start_stopwatch();
// Advances the stopwatch; runs every 250 ms from a window timer.
void tick_stopwatch();

}  // namespace vaslab
