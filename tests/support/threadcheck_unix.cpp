// Keeps the ThreadSanitizer round honest. That round runs only the tests labelled "threads" in
// tests/CMakeLists.txt, so a test that starts a thread without the label would never be checked
// for races. CTest tells each test program whether it may start threads (KLINE_THREADS=allowed
// for the labelled tests, forbidden for the others); this program's pthread_create, which comes
// before the C library's, stops a forbidden one at its first thread and says why. Run by hand
// (no KLINE_THREADS), a test program starts threads as it likes.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

void Say(const char* text) {
  ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)written;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) {
  const char* mode = std::getenv("KLINE_THREADS");
  if (mode != nullptr && std::strcmp(mode, "forbidden") == 0) {
    Say("\nThis test starts a thread but is not labelled \"threads\" in tests/CMakeLists.txt, so "
        "the ThreadSanitizer round would never run it. Label it there.\n");
    std::abort();
  }
  static const auto real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
  if (real == nullptr) {
    Say("\npthread_create: the C library's was not found\n");
    std::abort();
  }
  return real(thread, attr, start, arg);
}
