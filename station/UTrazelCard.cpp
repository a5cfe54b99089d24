// The ten-print card: composition and preview.
#include "UTrazel.h"

void TFTrazel::btPrintClick() {}
