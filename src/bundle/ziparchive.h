#pragma once

#include <string>
#include <vector>

#include "session/supportbundle.h"

namespace kline {

// Writes a zip archive of `files` to `path` (UTF-8), replacing a file of that name only once
// the whole archive is written. Returns why it could not, or an empty text. A build without a
// zip library says so here.
std::string WriteZipArchive(const std::string& path, const std::vector<BundleFile>& files);

// Whether this build can write archives.
bool ZipArchivesAvailable();

}  // namespace kline
