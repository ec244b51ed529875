#include "agent/toml/masked_text.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "agent/toml/string_literal.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::toml_doc {
namespace {

constexpr std::string_view kMask = "****";
constexpr std::array<std::string_view, 2> kSecretKeys = {"sk", "shared_secret"};

// A multi-line string that runs on past the end of its line.
struct OpenString {
  std::string_view delimiter;  // """ or '''
  bool secret = false;
};

// `text` shown in place of the bytes from `begin` to `end` of a line.
struct Replacement {
  std::size_t begin;
  std::size_t end;
  std::string text;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(std::ranges::count_if(text, [](char c) { return !is_continuation_byte(c); }));
}

// Where code point `column` (from 1) of `text` starts; past its end, each column is one byte.
std::size_t offset_of(std::string_view text, std::size_t column) {
  std::size_t offset = 0;
  for (std::size_t n = 1; n < column; ++n) {
    if (offset >= text.size()) return text.size() + (column - n);
    ++offset;
    while (offset < text.size() && is_continuation_byte(text[offset])) ++offset;
  }
  return offset;
}

// Finds a line's secrets: a secret key's value, which runs from its "=" to the end of the line
// (a string keeps its quotes), and the credentials of every URL, in strings as in bare text (a
// word holding "@").
class LineScan {
 public:
  // `open` is the multi-line string the line starts in, if any; it is left as the line ends.
  LineScan(std::string_view line, std::optional<OpenString>& open) : line_(line), open_(open) {}

  // The replacements, in the order of the line; scans once.
  std::vector<Replacement> run() {
    std::size_t i = open_ ? string_from(0, open_->delimiter, open_->secret) : 0;
    std::size_t bare_from = i;
    std::string_view last_key;  // the bare or quoted word that an "=" would make a key
    bool value_is_secret = false;
    while (i < line_.size()) {
      const char c = line_[i];
      if (c == '#') break;  // a comment: bare text to the end
      if (c == '"' || c == '\'') {
        mask_urls_in_words(bare_from, i);
        const std::string_view delimiter =
            line_.substr(i).starts_with(std::string(3, c)) ? line_.substr(i, 3) : line_.substr(i, 1);
        const std::size_t content = i + delimiter.size();
        i = string_from(content, delimiter, value_is_secret);
        last_key = string_text_;
        value_is_secret = false;
        bare_from = i;
      } else if (c == '=') {
        value_is_secret = std::ranges::find(kSecretKeys, last_key) != kSecretKeys.end();
        last_key = {};
        ++i;
        while (i < line_.size() && is_blank(line_[i])) ++i;
        // A value that is no string has no end to find: all the rest of the line is masked.
        if (value_is_secret && i < line_.size() && line_[i] != '"' && line_[i] != '\'') {
          mask_urls_in_words(bare_from, i);
          mask_secret(i, line_.size());
          bare_from = i = line_.size();
        }
      } else if (is_bare_key_char(c)) {
        const std::size_t word = i;
        while (i < line_.size() && is_bare_key_char(line_[i])) ++i;
        last_key = line_.substr(word, i - word);
      } else {
        if (!is_blank(c) && c != '.') last_key = {};  // a dotted key's last part names it
        ++i;
      }
    }
    mask_urls_in_words(bare_from, line_.size());
    return std::move(replacements_);
  }

  bool held_secret() const { return held_secret_; }

 private:
  // Masks the string whose content starts at `content`; gives where the line goes on after it.
  std::size_t string_from(std::size_t content, std::string_view delimiter, bool secret) {
    std::size_t end = content;
    while (end < line_.size() && !line_.substr(end).starts_with(delimiter)) {
      end += delimiter.front() == '"' && line_[end] == '\\' ? 2 : 1;  // a basic string's escapes
    }
    end = std::min(end, line_.size());
    if (end == line_.size() && delimiter.size() == 3) {
      open_ = OpenString{delimiter == "\"\"\"" ? "\"\"\"" : "'''", secret};
    } else if (end < line_.size()) {
      open_.reset();
    }
    string_text_ = line_.substr(content, end - content);
    if (secret) {
      mask_secret(content, end);
    } else if (string_text_.find('@') != std::string_view::npos) {
      replace(content, end, util::mask_url(string_text_));
    }
    if (end == line_.size()) return end;
    std::size_t next = end + delimiter.size();
    if (!secret) return next;
    // A quote inside a secret ends its string early: the rest of the line may be more of it.
    while (next < line_.size() && is_blank(line_[next])) ++next;
    if (next < line_.size()) mask_secret(next, line_.size());
    return line_.size();
  }

  // Text outside strings has no URL bounds to go by: each word holding "@" is read as one.
  void mask_urls_in_words(std::size_t begin, std::size_t end) {
    while (begin < end) {
      while (begin < end && is_blank(line_[begin])) ++begin;
      std::size_t word_end = begin;
      while (word_end < end && !is_blank(line_[word_end])) ++word_end;
      const std::string_view word = line_.substr(begin, word_end - begin);
      if (word.find('@') != std::string_view::npos) replace(begin, word_end, util::mask_url(word));
      begin = word_end;
    }
  }

  void mask_secret(std::size_t begin, std::size_t end) {
    held_secret_ = true;
    replace(begin, end, std::string(kMask));
  }

  void replace(std::size_t begin, std::size_t end, std::string text) {
    if (line_.substr(begin, end - begin) != text) replacements_.push_back({begin, end, std::move(text)});
  }

  std::string_view line_;
  std::optional<OpenString>& open_;
  std::vector<Replacement> replacements_;
  std::string_view string_text_;  // the content of the last string read
  bool held_secret_ = false;
};

// The line with its replacements made, and `column` moved with it.
MaskedLine apply(std::string_view line, const std::vector<Replacement>& replacements, std::size_t column) {
  const std::size_t target = offset_of(line, column);
  std::optional<std::size_t> moved;
  std::string text;
  std::size_t from = 0;
  for (const Replacement& replacement : replacements) {
    if (!moved && target < replacement.begin) moved = text.size() + (target - from);
    text.append(line.substr(from, replacement.begin - from));
    if (!moved && target < replacement.end) moved = text.size();
    text.append(replacement.text);
    from = replacement.end;
  }
  if (!moved) moved = text.size() + (target - from);
  text.append(line.substr(from));
  const std::size_t within = std::min(*moved, text.size());
  MaskedLine masked;
  masked.column = code_points(std::string_view(text).substr(0, within)) + (*moved - within) + 1;
  masked.text = std::move(text);
  return masked;
}

// Every part of `text` quoted in ' or ` that is longer than one code point, masked.
std::string mask_quoted(std::string_view text) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t open = text.find_first_of("'`"); open != std::string_view::npos;
       open = text.find_first_of("'`", from)) {
    const std::size_t close = text.find(text[open], open + 1);
    if (close == std::string_view::npos) break;
    const std::string_view quoted = text.substr(open + 1, close - open - 1);
    out.append(text.substr(from, open + 1 - from)).append(code_points(quoted) > 1 ? kMask : quoted);
    out.push_back(text[close]);
    from = close + 1;
  }
  out.append(text.substr(from));
  return out;
}

}  // namespace

MaskedLine masked_line(std::string_view source, std::size_t line_number, std::size_t column) {
  std::optional<OpenString> open;
  std::size_t start = 0;
  for (std::size_t number = 1;; ++number) {
    const std::size_t newline = source.find('\n', start);
    std::string_view line = source.substr(start, newline == std::string_view::npos ? newline : newline - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    LineScan scan(line, open);
    const std::vector<Replacement> replacements = scan.run();
    if (number == line_number) {
      MaskedLine masked = apply(line, replacements, column);
      masked.held_secret = scan.held_secret();
      return masked;
    }
    if (newline == std::string_view::npos) return {{}, column, false};
    start = newline + 1;
  }
}

std::string masked_message(std::string_view message, bool line_held_secret) {
  std::optional<OpenString> open;
  const std::string urls_masked = apply(message, LineScan(message, open).run(), 1).text;
  return line_held_secret ? mask_quoted(urls_masked) : urls_masked;
}

}  // namespace valdori::agent::toml_doc
