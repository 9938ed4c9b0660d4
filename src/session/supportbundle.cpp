#include "session/supportbundle.h"

#include <fstream>
#include <sstream>

#include "serial/filepath.h"
#include "session/sessioncore.h"

namespace kline {

namespace {

std::string LogOf(SessionCore& core, const char* window) {
  ControlModel* m = core.window(window);
  return m ? m->log().text() : std::string();
}

}  // namespace

void SessionBundleParts(SessionCore& core, SupportBundleParts& parts) {
  parts.logMain = LogOf(core, "Form2");
  parts.logTest = LogOf(core, "Form1");
  parts.logDiag = LogOf(core, "Form3");
  parts.settingsPath = core.form().settings().path();
  std::ifstream in(PathFromUtf8(parts.settingsPath), std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    parts.settingsText = text.str();
  } else {
    parts.settingsWhy = "not written yet, or cannot be read";
  }
  if (const EventJournal* j = core.journal()) {
    parts.hasJournal = true;
    parts.events = j->jsonLines(core.elapsedMs());
    parts.linkHistory = j->linkHistoryText();
  }
}

std::vector<BundleFile> SupportBundleFiles(const SupportBundleParts& p) {
  std::vector<BundleFile> files;
  std::string readme =
      "klinediag support bundle, made " + p.created +
      "\n\nWhat the program saw on this machine, for whoever helps you. Each file is plain "
      "text (UTF-8) or JSON:\n\n";
  auto add = [&](std::string name, std::string data, const std::string& about) {
    readme +=
        "  " + name + std::string(name.size() < 18 ? 18 - name.size() : 1, ' ') + about + "\n";
    files.push_back({std::move(name), std::move(data), {}});
  };
  files.push_back({"README.txt", {}, {}});
  add("version.txt", p.about, "program version and build, system, Qt");
  add("ports.json", p.portsJson,
      "the serial ports and their chips (as 'klinediag-cli ports --json')");
  add("adapter-check.txt", p.adapterCheck.empty() ? "no adapter check yet\n" : p.adapterCheck,
      "the last adapter check: time, port, findings");
  add("settings.ini",
      p.settingsText.empty() && !p.settingsWhy.empty()
          ? "; " + p.settingsPath + ": " + p.settingsWhy + "\n"
          : p.settingsText,
      "the settings file as it is (" + p.settingsPath + ")");
  add("log-main.txt", p.logMain, "the main window's log pane (Form2)");
  add("log-test.txt", p.logTest, "the Test window's log pane (Form1)");
  add("log-diag.txt", p.logDiag, "the Diag window's log pane (Form3)");
  add("events.jsonl", p.events,
      p.hasJournal
          ? "the last ten minutes of the session's events, JSON Lines (t_ms: ms since start)"
          : "no session: no events");
  add("link-history.txt", p.hasJournal ? p.linkHistory : "no session\n",
      "each change of the link's state in the session (s since start)");
  if (!p.recordsCopy.empty()) {
    readme += "  records.sqlite    a copy of the bike records (you chose to include them)\n";
    files.push_back({"records.sqlite", {}, p.recordsCopy});
  } else {
    readme +=
        "\nThe bike records are not included (tick the box, or --with-records, to add them).\n";
  }
  files.front().data = std::move(readme);
  return files;
}

}  // namespace kline
