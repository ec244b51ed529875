#include "util/url/basic_url_parser.hpp"

#include <cstddef>
#include <cstdint>

#include "util/url/code_points.hpp"
#include "util/url/percent_encode.hpp"

namespace valdori::util::url {
namespace {

using Result = boost::system::result<UrlRecord, ParseFailure>;

enum class State : std::uint8_t {
  SchemeStart,
  Scheme,
  NoScheme,
  SpecialRelativeOrAuthority,
  PathOrAuthority,
  Relative,
  RelativeSlash,
  SpecialAuthoritySlashes,
  SpecialAuthorityIgnoreSlashes,
  Authority,
  Host,
  Port,
  File,
  FileSlash,
  FileHost,
  PathStart,
  Path,
  OpaquePath,
  Query,
  Fragment,
};

constexpr char32_t kEof = 0xffffffff;

constexpr bool is_c0_control_or_space(char32_t c) { return c <= 0x20; }
constexpr bool is_ascii_tab_or_newline(char32_t c) { return c == '\t' || c == '\n' || c == '\r'; }

template <class Text>
bool is_windows_drive_letter(const Text& text) {
  return text.size() == 2 && is_ascii_alpha(text[0]) && (text[1] == ':' || text[1] == '|');
}

bool is_normalized_windows_drive_letter(std::string_view text) {
  return is_windows_drive_letter(text) && text[1] == ':';
}

bool starts_with_windows_drive_letter(std::u32string_view text) {
  if (text.size() < 2 || !is_windows_drive_letter(text.substr(0, 2))) return false;
  if (text.size() == 2) return true;
  const char32_t third = text[2];
  return third == '/' || third == '\\' || third == '?' || third == '#';
}

bool ascii_case_insensitive_equal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return ascii_lowercase(x) == ascii_lowercase(y); });
}

// "." or "%2e" in any case.
bool is_single_dot_segment(std::string_view segment) {
  return segment == "." || ascii_case_insensitive_equal(segment, "%2e");
}

// "..", ".%2e", "%2e." or "%2e%2e" in any case.
bool is_double_dot_segment(std::string_view segment) {
  return segment == ".." || ascii_case_insensitive_equal(segment, ".%2e") ||
         ascii_case_insensitive_equal(segment, "%2e.") || ascii_case_insensitive_equal(segment, "%2e%2e");
}

void shorten_path(UrlRecord& url) {
  if (url.scheme == "file" && url.path.size() == 1 && is_normalized_windows_drive_letter(url.path.front())) return;
  if (!url.path.empty()) url.path.pop_back();
}

ParseFailure host_failure(HostError error) { return {std::string(describe(error))}; }

// What the parser ignores before its first step: C0 controls and spaces around the input, tabs and
// newlines anywhere. Every code point removed is one byte in UTF-8, so the bytes are worked on
// directly.
std::string remove_ignored_code_points(std::string_view input) {
  std::string out(strip_c0_control_or_space(input));
  std::erase_if(out, [](char c) { return is_ascii_tab_or_newline(static_cast<unsigned char>(c)); });
  return out;
}

class BasicUrlParser {
 public:
  BasicUrlParser(std::string_view input, const UrlRecord* base)
      : input_(decode_utf8(remove_ignored_code_points(input))), base_(base) {}

  Result run() {
    for (;;) {
      if (auto failed = step()) return std::move(*failed);
      if (pointer_ >= size()) break;
      ++pointer_;
    }
    return std::move(url_);
  }

 private:
  std::ptrdiff_t size() const { return static_cast<std::ptrdiff_t>(input_.size()); }
  char32_t c() const { return pointer_ >= 0 && pointer_ < size() ? input_[pointer_] : kEof; }
  // The code points after c.
  std::u32string_view remaining() const {
    return pointer_ + 1 < size() ? std::u32string_view(input_).substr(pointer_ + 1) : std::u32string_view();
  }
  std::u32string_view from_pointer() const {
    return pointer_ < size() ? std::u32string_view(input_).substr(pointer_) : std::u32string_view();
  }
  bool special() const { return url_.is_special(); }
  bool is_special_backslash() const { return special() && c() == '\\'; }
  // EOF, "/", "?" or "#", or "\" in a special URL: the end of an authority.
  bool ends_authority() const {
    return c() == kEof || c() == '/' || c() == '?' || c() == '#' || is_special_backslash();
  }

  void copy_authority_from_base() {
    url_.username = base_->username;
    url_.password = base_->password;
    url_.host = base_->host;
    url_.port = base_->port;
  }

  // "Set state to ... and decrease pointer by 1": c is read again in the next state.
  void reconsume_in(State next) {
    state_ = next;
    --pointer_;
  }

  void start_query() {
    url_.query.emplace();
    state_ = State::Query;
  }
  void start_fragment() {
    url_.fragment.emplace();
    state_ = State::Fragment;
  }
  // A query on "?", a fragment on "#"; false for any other c.
  bool started_query_or_fragment() {
    if (c() == '?') {
      start_query();
    } else if (c() == '#') {
      start_fragment();
    } else {
      return false;
    }
    return true;
  }

  std::optional<ParseFailure> parse_host_into_url() {
    auto host = parse_host(buffer_, !special());
    if (!host) return host_failure(host.error());
    url_.host = std::move(*host);
    buffer_.clear();
    return std::nullopt;
  }

  // One run of the state machine on c; a failure ends the parse.
  std::optional<ParseFailure> step() {
    switch (state_) {
      case State::SchemeStart:
        if (is_ascii_alpha(c())) {
          buffer_ += ascii_lowercase(c());
          state_ = State::Scheme;
        } else {
          reconsume_in(State::NoScheme);
        }
        break;

      case State::Scheme:
        if (is_scheme_code_point(c())) {
          buffer_ += ascii_lowercase(c());
        } else if (c() == ':') {
          url_.scheme = encode_utf8(buffer_);
          buffer_.clear();
          if (url_.scheme == "file") {
            state_ = State::File;
          } else if (special() && base_ != nullptr && base_->scheme == url_.scheme) {
            state_ = State::SpecialRelativeOrAuthority;
          } else if (special()) {
            state_ = State::SpecialAuthoritySlashes;
          } else if (remaining().starts_with(U'/')) {
            state_ = State::PathOrAuthority;
            ++pointer_;
          } else {
            url_.path = {std::string()};
            url_.opaque_path = true;
            state_ = State::OpaquePath;
          }
        } else {
          buffer_.clear();
          state_ = State::NoScheme;
          pointer_ = -1;  // start over from the first code point
        }
        break;

      case State::NoScheme:
        if (base_ == nullptr || (base_->opaque_path && c() != '#')) return ParseFailure{"relative URL without a base"};
        if (base_->opaque_path) {
          url_.scheme = base_->scheme;
          url_.path = base_->path;
          url_.opaque_path = true;
          url_.query = base_->query;
          start_fragment();
        } else {
          reconsume_in(base_->scheme != "file" ? State::Relative : State::File);
        }
        break;

      case State::SpecialRelativeOrAuthority:
        if (c() == '/' && remaining().starts_with(U'/')) {
          state_ = State::SpecialAuthorityIgnoreSlashes;
          ++pointer_;
        } else {
          reconsume_in(State::Relative);
        }
        break;

      case State::PathOrAuthority:
        if (c() == '/') {
          state_ = State::Authority;
        } else {
          reconsume_in(State::Path);
        }
        break;

      case State::Relative:
        url_.scheme = base_->scheme;
        if (c() == '/' || is_special_backslash()) {
          state_ = State::RelativeSlash;
        } else {
          copy_authority_from_base();
          url_.path = base_->path;
          url_.query = base_->query;
          if (!started_query_or_fragment() && c() != kEof) {
            url_.query.reset();
            shorten_path(url_);
            reconsume_in(State::Path);
          }
        }
        break;

      case State::RelativeSlash:
        if (special() && (c() == '/' || c() == '\\')) {
          state_ = State::SpecialAuthorityIgnoreSlashes;
        } else if (c() == '/') {
          state_ = State::Authority;
        } else {
          copy_authority_from_base();
          reconsume_in(State::Path);
        }
        break;

      case State::SpecialAuthoritySlashes:
        state_ = State::SpecialAuthorityIgnoreSlashes;
        if (c() == '/' && remaining().starts_with(U'/')) {
          ++pointer_;
        } else {
          --pointer_;
        }
        break;

      case State::SpecialAuthorityIgnoreSlashes:
        if (c() != '/' && c() != '\\') {
          reconsume_in(State::Authority);
        }
        break;

      case State::Authority:
        if (c() == '@') {
          // Only the last "@" ends the credentials; earlier ones belong to them.
          if (at_sign_seen_) buffer_.insert(0, U"%40");
          at_sign_seen_ = true;
          for (const char32_t code_point : buffer_) {
            if (code_point == ':' && !password_token_seen_) {
              password_token_seen_ = true;
              continue;
            }
            utf8_percent_encode(code_point, EncodeSet::Userinfo, password_token_seen_ ? url_.password : url_.username);
          }
          buffer_.clear();
        } else if (ends_authority()) {
          if (at_sign_seen_ && buffer_.empty()) return ParseFailure{"credentials without a host"};
          pointer_ -= static_cast<std::ptrdiff_t>(buffer_.size()) + 1;
          buffer_.clear();
          state_ = State::Host;
        } else {
          buffer_ += c();
        }
        break;

      case State::Host:
        if (c() == ':' && !inside_brackets_) {
          if (buffer_.empty()) return ParseFailure{"missing host"};
          if (auto failed = parse_host_into_url()) return failed;
          state_ = State::Port;
        } else if (ends_authority()) {
          --pointer_;
          if (special() && buffer_.empty()) return ParseFailure{"missing host"};
          if (auto failed = parse_host_into_url()) return failed;
          state_ = State::PathStart;
        } else {
          if (c() == '[') inside_brackets_ = true;
          if (c() == ']') inside_brackets_ = false;
          buffer_ += c();
        }
        break;

      case State::Port:
        if (is_ascii_digit(c())) {
          buffer_ += c();
        } else if (ends_authority()) {
          if (!buffer_.empty()) {
            std::uint32_t port = 0;
            for (const char32_t digit : buffer_) {
              port = port * 10 + (digit - '0');
              if (port > 0xffff) return ParseFailure{"port out of range"};
            }
            if (port == default_port(url_.scheme)) {
              url_.port.reset();
            } else {
              url_.port = static_cast<std::uint16_t>(port);
            }
            buffer_.clear();
          }
          reconsume_in(State::PathStart);
        } else {
          return ParseFailure{"invalid port"};
        }
        break;

      case State::File:
        url_.scheme = "file";
        url_.host = url::Host{};
        if (c() == '/' || c() == '\\') {
          state_ = State::FileSlash;
        } else if (base_ != nullptr && base_->scheme == "file") {
          url_.host = base_->host;
          url_.path = base_->path;
          url_.query = base_->query;
          if (!started_query_or_fragment() && c() != kEof) {
            url_.query.reset();
            if (!starts_with_windows_drive_letter(from_pointer())) {
              shorten_path(url_);
            } else {
              url_.path.clear();
            }
            reconsume_in(State::Path);
          }
        } else {
          reconsume_in(State::Path);
        }
        break;

      case State::FileSlash:
        if (c() == '/' || c() == '\\') {
          state_ = State::FileHost;
        } else {
          if (base_ != nullptr && base_->scheme == "file") {
            url_.host = base_->host;
            if (!starts_with_windows_drive_letter(from_pointer()) && !base_->path.empty() &&
                is_normalized_windows_drive_letter(base_->path.front())) {
              url_.path.push_back(base_->path.front());
            }
          }
          reconsume_in(State::Path);
        }
        break;

      case State::FileHost:
        if (c() == kEof || c() == '/' || c() == '\\' || c() == '?' || c() == '#') {
          --pointer_;
          if (is_windows_drive_letter(buffer_)) {
            // "file://C|/x": the drive letter is the path's first segment, not a host.
            segment_ = encode_utf8(buffer_);
            buffer_.clear();
            state_ = State::Path;
          } else if (buffer_.empty()) {
            url_.host = url::Host{};
            state_ = State::PathStart;
          } else {
            if (auto failed = parse_host_into_url()) return failed;
            if (url_.host->serialized == "localhost") url_.host = url::Host{};
            state_ = State::PathStart;
          }
        } else {
          buffer_ += c();
        }
        break;

      case State::PathStart:
        if (special()) {
          state_ = State::Path;
          if (c() != '/' && c() != '\\') --pointer_;
        } else if (!started_query_or_fragment() && c() != kEof) {
          state_ = State::Path;
          if (c() != '/') --pointer_;
        }
        break;

      case State::Path:
        if (c() == kEof || c() == '/' || is_special_backslash() || c() == '?' || c() == '#') {
          const bool slash = c() == '/' || is_special_backslash();
          if (is_double_dot_segment(segment_)) {
            shorten_path(url_);
            if (!slash) url_.path.emplace_back();  // "/usr/.." is "/", not no path at all
          } else if (is_single_dot_segment(segment_) && !slash) {
            url_.path.emplace_back();
          } else if (!is_single_dot_segment(segment_)) {
            if (url_.scheme == "file" && url_.path.empty() && is_windows_drive_letter(segment_)) segment_[1] = ':';
            url_.path.push_back(segment_);
          }
          segment_.clear();
          started_query_or_fragment();
        } else {
          utf8_percent_encode(c(), EncodeSet::Path, segment_);
        }
        break;

      case State::OpaquePath:
        if (started_query_or_fragment()) break;
        if (c() == ' ') {
          // A space just before the query or fragment is escaped: the serialization must keep it.
          const bool before_query_or_fragment = remaining().starts_with(U'?') || remaining().starts_with(U'#');
          url_.path.front() += before_query_or_fragment ? "%20" : " ";
        } else if (c() != kEof) {
          utf8_percent_encode(c(), EncodeSet::C0Control, url_.path.front());
        }
        break;

      case State::Query:
        // Encoding each code point as it comes equals encoding the buffer at the end in UTF-8.
        if (c() == '#') {
          start_fragment();
        } else if (c() != kEof) {
          utf8_percent_encode(c(), special() ? EncodeSet::SpecialQuery : EncodeSet::Query, *url_.query);
        }
        break;

      case State::Fragment:
        if (c() != kEof) utf8_percent_encode(c(), EncodeSet::Fragment, *url_.fragment);
        break;
    }
    return std::nullopt;
  }

  const std::u32string input_;
  const UrlRecord* const base_;
  UrlRecord url_;
  State state_ = State::SchemeStart;
  std::u32string buffer_;  // code points of the scheme, authority, host or port being read
  std::string segment_;    // the path segment being read, percent-encoded
  bool at_sign_seen_ = false;
  bool inside_brackets_ = false;
  bool password_token_seen_ = false;
  std::ptrdiff_t pointer_ = 0;
};

}  // namespace

std::string_view strip_c0_control_or_space(std::string_view input) {
  const auto stripped = [](char c) { return is_c0_control_or_space(static_cast<unsigned char>(c)); };
  while (!input.empty() && stripped(input.front())) input.remove_prefix(1);
  while (!input.empty() && stripped(input.back())) input.remove_suffix(1);
  return input;
}

Result basic_url_parse(std::string_view input, const UrlRecord* base) { return BasicUrlParser(input, base).run(); }

}  // namespace valdori::util::url
