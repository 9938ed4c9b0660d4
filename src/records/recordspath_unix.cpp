#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "records/recordstore.h"

namespace kline::records {

std::string DefaultRecordsPath() {
  // XDG_DATA_HOME counts only when absolute; otherwise the data folder under the home folder.
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = getpwuid(getuid());
      home = pw ? pw->pw_dir : "";
    }
    base = std::string(home) + "/.local/share";
  }
  return base + "/klinediag/records.sqlite";
}

}  // namespace kline::records
