#include "bundle/ziparchive.h"

#include <zip.h>

#include <cstdlib>
#include <memory>

namespace kline {

namespace {

std::string ErrorText(zip_error_t* e) {
  return zip_error_strerror(e);
}

}  // namespace

bool ZipArchivesAvailable() {
  return true;
}

std::string WriteZipArchive(const std::string& path, const std::vector<BundleFile>& files) {
  int code = 0;
  // libzip writes a temporary file beside `path` and renames it over `path` at zip_close. A
  // length of 0 below reads a file to its end.
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!z) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    std::string why = ErrorText(&e);
    zip_error_fini(&e);
    return "cannot write " + path + ": " + why;
  }
  auto fail = [&](const std::string& what) {
    std::string why = what + ": " + zip_strerror(z);
    zip_discard(z);
    return "cannot write " + path + ": " + why;
  };
  for (const BundleFile& f : files) {
    zip_source_t* src = f.fromPath.empty() ? zip_source_buffer(z, f.data.data(), f.data.size(), 0)
                                           : zip_source_file(z, f.fromPath.c_str(), 0, 0);
    if (!src) return fail(f.name);
    const zip_int64_t i = zip_file_add(z, f.name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (i < 0) {
      zip_source_free(src);
      return fail(f.name);
    }
  }
  // The buffers above must live until here: zip_close reads them.
  if (zip_close(z) != 0) return fail("writing the archive");
  return {};
}

}  // namespace kline
