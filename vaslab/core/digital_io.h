// Front-panel keys and the digital outputs (volume, cuff selection).
#pragma once

namespace vaslab {

// Opens the port-I/O driver; 1 on success.
int open_port_driver();
void select_cuffs(int cuffs);
void set_hardware_volume(int volume);
// Uninitialises and unloads the embedded-board I/O library.
void unload_susi();
// -1 when no front-panel key is down, else the key's value.
int read_front_panel_key();

}  // namespace vaslab
