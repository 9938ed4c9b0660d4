// The ports subcommand: the serial ports, likely K-line cables first.
#include "platform/portlist.h"
#include "platform/portsjson.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

const Example kPortsExamples[] = {
    {"klinediag-cli ports",
     "The serial ports the system sees, likely K-line cables first (marked *), with the number "
     "that --port takes."},
    {"klinediag-cli ports --json", "The same as JSON, for a script."},
};

class PortsCommand : public Command {
 public:
  PortsCommand(CLI::App& program, GlobalOptions& global) : global_(global) {
    CLI::App& app = addSubcommand(
        program, "ports", "List the serial ports, likely K-line cables first", kPortsExamples);
    global.add(app, GlobalOptions::Name::Json);
  }
  int run(std::ostream& out, std::ostream& err) override;

 private:
  GlobalOptions& global_;
};

}  // namespace

std::unique_ptr<Command> AddPorts(CLI::App& program, GlobalOptions& global) {
  return std::make_unique<PortsCommand>(program, global);
}

int PortsCommand::run(std::ostream& out, std::ostream& /*err*/) {
  const std::vector<PortRecord> ports = PortList::Available();
  if (global_.json) {
    out << PortsJson(ports) << "\n";
    return 0;
  }
  std::size_t width = 4;
  for (const auto& p : ports) width = std::max(width, Columns(p.device));
  out << "   #  " << PadRight("PORT", width) << "  USB ID     DESCRIPTION\n";
  bool marked = false;
  for (const auto& p : ports) {
    std::string about = p.description;
    for (const std::string& more :
         {p.manufacturer, p.serialNumber.empty() ? "" : "serial " + p.serialNumber})
      if (!more.empty()) about += (about.empty() ? "" : ", ") + more;
    marked = marked || p.likelyKLine;
    std::string line = std::string(p.likelyKLine ? "*" : " ") + " " +
                       PadLeft(p.number ? std::to_string(p.number) : "", 2) + "  " +
                       PadRight(p.device, width) + "  " + PadRight(p.usbId(), 9) + "  " + about;
    out << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
    // What is known of the chip, under its port.
    std::string facts = p.chip ? "chip " + std::string(p.chip->name) : "";
    if (!p.driver.empty()) facts += (facts.empty() ? "driver " : ", driver ") + p.driver;
    if (p.latencyTimerMs)
      facts += (facts.empty() ? "" : ", ") +
               ("latency timer " + std::to_string(*p.latencyTimerMs) + " ms") +
               (*p.latencyTimerMs > 4 ? " (slow: see check-adapter --fix)" : "");
    const std::string indent(6, ' ');
    if (!facts.empty()) out << indent << facts << "\n";
    if (p.chip)
      for (std::string_view n : p.chip->notes) out << indent << "- " << n << "\n";
  }
  if (marked) out << "* likely K-line cable (a USB-serial chip such cables are built on)\n";
  return 0;
}

}  // namespace kline
