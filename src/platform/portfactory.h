#pragma once

#include <QString>
#include <memory>

#include "connection/form2.h"
#include "sim/simconfig.h"
#include "ui/host.h"

// The port object for the text of the port field: "sim" (any case) is the simulated ECU described
// by `sim`, running on the host's clock; anything else is a serial device through Qt.
// `host` must outlive every port made.
kline::PortFactory MakePortFactory(kline::Host& host, std::shared_ptr<const kline::SimConfig> sim);

// The settings file: beside the executable and named after it with ".ini"; where that folder
// cannot be written (an installed program), the same name in the per-user configuration folder,
// which is created.
QString DefaultSettingsPath();
