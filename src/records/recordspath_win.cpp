#include <cstdlib>
#include <filesystem>
#include <string>

#include "records/recordstore.h"
#include "serial/filepath.h"

namespace kline::records {

std::string DefaultRecordsPath() {
  // Read as UTF-16: a user folder such as C:\Users\Jérôme is not lost to the ANSI code page.
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  std::filesystem::path base =
      local && *local ? std::filesystem::path(local) : std::filesystem::path(L".");
  return PathToUtf8(base / L"klinediag" / L"records.sqlite");
}

}  // namespace kline::records
