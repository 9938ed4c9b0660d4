#include "terminalstream.h"

#include "serial/text.h"

namespace kline {

TerminalStream::TerminalStream(std::ostream& target) : std::ostream(nullptr), buffer_(target) {
  rdbuf(&buffer_);
}

TerminalStream::~TerminalStream() {
  buffer_.pass();
}

void TerminalStream::Buffer::pass() {
  if (line_.empty()) return;
  target_ << TerminalText(line_);
  line_.clear();
}

TerminalStream::Buffer::int_type TerminalStream::Buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  // Standard output that can no longer be written (its reader gone): this stream fails too.
  if (!target_) return traits_type::eof();
  const char ch = traits_type::to_char_type(c);
  line_ += ch;
  if (ch == '\n') pass();
  return c;
}

std::streamsize TerminalStream::Buffer::xsputn(const char* s, std::streamsize n) {
  // Whole lines go on at once; the rest waits for its line end or a flush.
  if (!target_) return 0;
  const std::string_view text(s, static_cast<std::size_t>(n));
  const std::size_t end = text.rfind('\n');
  if (end == std::string_view::npos) {
    line_.append(text);
    return n;
  }
  line_.append(text.substr(0, end + 1));
  pass();
  line_.append(text.substr(end + 1));
  return n;
}

int TerminalStream::Buffer::sync() {
  pass();
  target_.flush();
  return target_ ? 0 : -1;
}

}  // namespace kline
