#pragma once

#include <string>

#include "platform/adaptercheck.h"

namespace kline {

// The last adapter check is kept in the user's data folder (beside the bike records), so that a
// support bundle can tell it later: its time, the port asked for and its findings.
std::string LastAdapterCheckPath();
// Writes the check's text; a failure is not the check's concern and is left unsaid.
void SaveLastAdapterCheck(const std::string& port, const AdapterReport& r);
// Checks the cable on `port` (the port field's text; the port must be free) and keeps the result
// for a support bundle: what both front ends do when the user asks for the check.
AdapterReport CheckAdapterAndKeep(const std::string& port);
// The kept text, or empty when no check was kept yet.
std::string LastAdapterCheckText();

}  // namespace kline
