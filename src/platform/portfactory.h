#pragma once

#include <QString>
#include <memory>

#include "connection/form2.h"
#include "host/host.h"
#include "sim/simconfig.h"

// The port object for a serial device named in the port field, through Qt. The session core
// makes the simulated ECU itself.
kline::PortFactory MakeDeviceFactory();

// The settings file: beside the executable and named after it with ".ini"; where that folder
// cannot be written (an installed program), the same name in the per-user configuration folder,
// which is created.
QString DefaultSettingsPath();
