// Amputations, clearing the set and leaving the station.
#include "UTrazel.h"

void TFTrazel::btClearClick() {}
void TFTrazel::btSalirClick() {}
void TFTrazel::miSalirClick() {}
void TFTrazel::AmputarClick(int) {}
void TFTrazel::Cargarimagenesdeprueba1Click() {}
