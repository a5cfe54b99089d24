// Saving the set: the ten prints converted to WSQ files.
#include "UTrazel.h"

void TFTrazel::btGrabarClick() {}
