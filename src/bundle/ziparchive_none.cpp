// A build without a zip library: the support bundle says why it cannot be written.
#include "bundle/ziparchive.h"

namespace kline {

bool ZipArchivesAvailable() {
  return false;
}

std::string WriteZipArchive(const std::string& path, const std::vector<BundleFile>& /*files*/) {
  return "cannot write " + path +
         ": this build of klinediag has no support bundle (it was built without libzip)";
}

}  // namespace kline
