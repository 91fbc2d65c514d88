// The Edit System Data screen: every field of the hardware settings.
#pragma once

namespace vaslab {

int edit_system_data();

}  // namespace vaslab
