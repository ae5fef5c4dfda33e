// The program's entry point: wx builds the one CVeltranoApp and starts it.
#include "app/VeltranoApp.h"

wxIMPLEMENT_APP(CVeltranoApp);
