#pragma once

#include "link/port_assignment.h"

class Form1;

// The panel's start: what the settings file holds that is never read is told in the warning
// box (a typo would otherwise send to the default device unnoticed), then the window loads.
void startPanel(Form1& form, const serial::PortAssignment& assignment);
