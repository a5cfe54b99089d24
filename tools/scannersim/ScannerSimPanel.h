// The trainer panel of scannersim: buttons for the person at the scanner and the scanner's
// LEDs and prompt as the station last set them.
#pragma once

// Runs the panel (a Qt window) against the program with the given pid (0: the only one).
int runPanel(int argc, char** argv, int pid);
