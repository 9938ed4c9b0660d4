#include "settings/safesave.h"

#include "serial/filepath.h"

namespace kline {

std::string ReplaceContent(const std::filesystem::path& target, const std::filesystem::path& dir,
                           const std::string& text, bool exists) {
  return ReplaceContent(target, dir, text, exists, *SystemSaveSteps());
}

std::string ReplaceContent(const std::filesystem::path& target, const std::filesystem::path& dir,
                           const std::string& text, bool exists, SaveSteps& steps) {
  std::filesystem::path tmp;
  if (std::string why = steps.create(target, exists, tmp); !why.empty())
    return "cannot create a file in the folder " + PathToUtf8(dir) + ": " + why;
  // The bytes are on the disk before the new file takes the old one's place: a power loss
  // leaves the old file or the whole new one, never an empty one.
  std::string err = steps.write(text);
  if (err.empty()) err = steps.sync();
  if (std::string why = steps.close(); err.empty()) err = why;
  if (err.empty()) err = steps.rename(tmp, target);
  if (!err.empty()) {
    steps.remove(tmp);
    return "writing it failed: " + err;
  }
  steps.syncFolder(dir);
  return {};
}

}  // namespace kline
