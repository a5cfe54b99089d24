// Intake of prints into the slots: capture requests, the quality line, the finger viewer and
// the finger-scan component's deliveries.
#include "UTrazel.h"

void TFTrazel::FormShow() {}
void TFTrazel::FormHide() {}
void TFTrazel::RequestCapture(int) {}
void TFTrazel::ShowQualityLine() {}
void TFTrazel::dedoDblClick() {}
