#pragma once

#include <string>

#include "session/supportbundle.h"

namespace kline {

// Writes a support bundle to `zipPath`: the parts as files and, when `recordsPath` is not empty,
// a consistent copy of that records file (made beside the archive, then removed). Returns why
// it could not, or an empty text. Any thread; the records file is opened read-only for the copy.
std::string WriteSupportBundle(const std::string& zipPath, SupportBundleParts parts,
                               const std::string& recordsPath);

}  // namespace kline
