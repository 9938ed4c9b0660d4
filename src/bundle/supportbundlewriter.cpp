#include "bundle/supportbundlewriter.h"

#include <filesystem>

#include "bundle/ziparchive.h"
#include "records/recordstore.h"
#include "serial/filepath.h"

namespace kline {

std::string WriteSupportBundle(const std::string& zipPath, SupportBundleParts parts,
                               const std::string& recordsPath) {
  if (!ZipArchivesAvailable()) return WriteZipArchive(zipPath, {});
  std::string copy;
  if (!recordsPath.empty()) {
    std::error_code ec;
    if (!std::filesystem::exists(PathFromUtf8(recordsPath), ec))
      return "no records file " + recordsPath + " to include";
    std::string why;
    auto store = records::RecordStore::Open(recordsPath, records::RecordStore::Mode::ReadOnly, why);
    if (!store) return why;
    copy = zipPath + ".records-copy";
    if (!store->backup(copy, why)) {
      std::filesystem::remove(PathFromUtf8(copy), ec);
      return why;
    }
    parts.recordsCopy = copy;
  }
  std::string why = WriteZipArchive(zipPath, SupportBundleFiles(parts));
  if (!copy.empty()) {
    std::error_code ec;
    std::filesystem::remove(PathFromUtf8(copy), ec);
  }
  return why;
}

}  // namespace kline
