#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace kline {

// Standard output or standard error as a terminal may be given it: what is written passes line by
// line through TerminalText, so that bytes from the ECU, a file or the command line cannot move
// the cursor, clear or recolour the screen. Text without control characters passes unchanged;
// JSON has none to show (it escapes them itself). Files the program writes are records and keep
// their exact bytes: they are not written through this. Once the target fails (a closed pipe), so
// does every write here, so that the writer notices.
class TerminalStream : public std::ostream {
 public:
  explicit TerminalStream(std::ostream& target);
  ~TerminalStream() override;
  TerminalStream(const TerminalStream&) = delete;
  TerminalStream& operator=(const TerminalStream&) = delete;

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(std::ostream& target) : target_(target) {}
    // Passes on what is kept, a line cut short included.
    void pass();

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

   private:
    std::ostream& target_;
    std::string line_;
  };
  Buffer buffer_;
};

}  // namespace kline
