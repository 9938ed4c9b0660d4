#include "connection/connectchecklist.h"

#include "connection/ecutypes.h"
#include "connection/firstanswerwatch.h"
#include "connection/portfield.h"

namespace kline {

std::string WakeUpLine(const EcuTypeInfo& type) {
  return std::string(type.label) + ": " + type.wakeUpLine;
}

ConnectChecklist BuildConnectChecklist(const EcuTypeInfo& type, const std::string& port,
                                       const ChecklistContext& context) {
  ConnectChecklist c;
  // An ECU that sends a burst when the ignition comes on, which the window waits for.
  const bool burst = type.wakeUp == WakeUp::Burst;
  const std::string within = " within " + std::to_string(FirstAnswerWatch::kWaitMs / 1000) + " s.";
  c.heading = (burst ? "No wake-up burst from the ECU on " : "No answer from the ECU on ") + port +
              within + " Check, in this order:";

  c.items.push_back(
      {"The ignition is on",
       {burst ? "The ECU sends its burst when the ignition comes on: " + context.listening +
                    ", switch it off, wait a few seconds and on again."
              : "The ECU answers only with the ignition on (and the engine stop switch at run)."}});

  c.items.push_back({"The adapter's K-line side has power",
                     {"Most adapters take the bike's 12 V through the diagnostic connector; "
                      "without it they pass nothing, not even their own echo.",
                      context.adapterCheck}});

  ChecklistItem ecu{"The ECU type: " + std::string(type.label) + " is selected",
                    {WakeUpLine(type)}};
  for (const EcuTypeInfo& t : EcuTypes())
    if (&t != &type) ecu.lines.push_back(WakeUpLine(t));
  c.items.push_back(std::move(ecu));

  ChecklistItem where{"The port: " + port, {}};
  if (ParsePortField(port).kind == PortField::Kind::Sim)
    where.lines.push_back(
        "sim is the built-in simulated ECU: its description says when it wakes (ignition_ms).");
  if (context.ports.empty()) {
    where.lines.push_back(
        "The system sees no serial port now: is the adapter plugged in, its driver installed?");
  } else {
    where.lines.push_back("The serial ports the system sees now:");
    for (const SeenPort& p : context.ports) {
      std::string line = "  " + p.device;
      if (!p.description.empty()) line += "  " + p.description;
      if (!p.usbId.empty()) line += "  (USB " + p.usbId + ")";
      if (!p.chip.empty()) line += "  " + p.chip;
      if (p.latencyTimerMs > 4)
        line += ", latency timer " + std::to_string(p.latencyTimerMs) +
                " ms (slow: see klinediag-cli check-adapter --fix)";
      where.lines.push_back(std::move(line));
    }
  }
  c.items.push_back(std::move(where));

  c.items.push_back({"The cable on the diagnostic connector",
                     {"The K-line wire to the connector's K-line pin, ground to ground, 12 V to "
                      "the battery feed.",
                      "A wire on the wrong pin is as silent as no cable at all."}});
  return c;
}

std::string ConnectChecklist::text() const {
  std::string out = heading + "\n";
  int n = 0;
  for (const ChecklistItem& item : items) {
    out += "  " + std::to_string(++n) + ". " + item.title + "\n";
    for (const std::string& line : item.lines)
      if (!line.empty()) out += "     " + line + "\n";
  }
  return out;
}

}  // namespace kline
