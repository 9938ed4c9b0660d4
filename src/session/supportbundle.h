#pragma once

#include <string>
#include <vector>

namespace kline {

class SessionCore;

// One file of a support bundle: its name in the archive and its text, or the file on disk that
// becomes it (`fromPath`, UTF-8).
struct BundleFile {
  std::string name;
  std::string data;
  std::string fromPath;
};

// What a support bundle is made of: gathered by the front end (the program and system, the
// ports, the last adapter check) and from the session (SessionBundleParts).
struct SupportBundleParts {
  std::string created;       // the local time it was made, ISO 8601
  std::string about;         // program version and build, system, Qt
  std::string portsJson;     // as `klinediag-cli ports --json` prints it
  std::string adapterCheck;  // the last adapter check's text; empty: none yet
  std::string settingsPath;
  std::string settingsText;  // the file as it is; empty with settingsWhy when it cannot be read
  std::string settingsWhy;
  std::string logMain, logTest, logDiag;  // the log panes of Form2, Form1 and Form3
  std::string events;                     // JSON Lines of the last minutes
  std::string linkHistory;
  bool hasJournal = false;
  // A consistent copy of the records file, only when the user asked for it; empty: none.
  std::string recordsCopy;
};

// Fills the session's parts: the three log panes, the settings file, the journal's events and
// link history. On the session's thread.
void SessionBundleParts(SessionCore& core, SupportBundleParts& parts);

// The bundle's files, README.txt first (what each file holds).
std::vector<BundleFile> SupportBundleFiles(const SupportBundleParts& parts);

}  // namespace kline
