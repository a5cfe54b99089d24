// The simulator's control channel (commands from the scannersim tool) and the few views of
// the simulated world it needs beyond the IBSIM_* calls.
#pragma once

#include <string>

namespace ibsim {

// Starts serving the control socket unless IBSCAN_SIM_CONTROL=0; stops and removes it.
void startControl();
void stopControl();

// One line per scanner: its description, physical state, LEDs and prompt.
std::string controlStatus();
// The scanner a command without "@N" is meant for: the capturing one, else the open one,
// else the first attached; 0 when there is none.
int controlDefaultScanner();
// Plugs in scanner N again (with its scenario description) or a new WATSON with that id.
int controlPlug(int scannerId);

} // namespace ibsim
