#include "agent/toml/masked_text.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "agent/toml/bare_key.hpp"
#include "agent/toml/string_literal.hpp"
#include "util/text/utf8.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::toml_doc {
namespace {

using util::kMask;
constexpr std::array<std::string_view, 2> kSecretKeys = {"sk", "shared_secret"};

// A multi-line string that runs on past the end of its line.
struct OpenString {
  std::string_view delimiter;  // """ or '''
  bool secret = false;
};

// What a line starts inside of, left by the lines before it.
struct Carry {
  std::optional<OpenString> open;
  // The brackets still open in a secret key's array or inline table, whose lines are masked.
  std::size_t secret_depth = 0;
};

// `text` shown in place of the bytes from `begin` to `end` of a line.
struct Replacement {
  std::size_t begin;
  std::size_t end;
  std::string text;
};

// Where a string's content ends, and where the line goes on after its closing delimiter.
struct StringEnd {
  std::size_t end;
  std::size_t next;
  bool closed;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Where code point `column` (from 1) of `text` starts; past its end, each column is one byte.
std::size_t offset_of(std::string_view text, std::size_t column) {
  const std::size_t index = column > 0 ? column - 1 : 0;
  const std::size_t points = util::text::code_point_count(text);
  return index < points ? util::text::code_point_offset(text, index) : text.size() + (index - points);
}

// A masked URL in a basic string that had escapes, written with escapes again.
std::string escaped(const std::string& text) {
  const auto literal = string_literal(text);
  return literal ? literal->substr(1, literal->size() - 2) : std::string(kMask);
}

// Finds a line's secrets: the value of a secret key, from its start to the end of the line and
// on over the lines an array, inline table or multi-line string runs to (a string keeps its
// quotes), and the credentials of every URL, in strings as in bare text (a word holding "@").
// A key is read as TOML reads it (quoted, escapes and all); a careless ":" or no separator after
// it still makes what follows its value. A comment is read as text that may hold both.
class LineScan {
 public:
  // `carry` is what the line starts inside of; it is left as the line ends.
  LineScan(std::string_view line, Carry& carry) : line_(line), carry_(carry) {}

  // The replacements, in the order of the line; scans once.
  std::vector<Replacement> run() {
    const std::size_t from = carry_.open ? resume_string() : 0;
    if (carry_.secret_depth == 0) {
      scan(from);
    } else if (from < line_.size()) {
      mask_secret(from, line_.size());
      follow_secret_value(from);
    }
    return std::move(replacements_);
  }

  bool held_secret() const { return held_secret_; }

 private:
  void scan(std::size_t i) {
    std::size_t bare_from = i;
    bool key_place = true;  // where an assignment may start: a line, an inline table's entry, a comment
    while (i < line_.size()) {
      const char c = line_[i];
      std::string key;
      if (is_quote(c)) {
        mask_urls_in_words(bare_from, i);
        const std::string_view delimiter = delimiter_at(i);
        const std::size_t content = i + delimiter.size();
        const StringEnd string = string_end(content, delimiter);
        if (!string.closed) open_string(delimiter, false);
        const std::string text = text_of(content, string.end, delimiter);
        mask_urls_in_string(content, string.end, text, delimiter);
        key = text;
        i = bare_from = string.next;
      } else if (is_bare_key_char(c)) {
        const std::size_t word = i;
        while (i < line_.size() && is_bare_key_char(line_[i])) ++i;
        key = line_.substr(word, i - word);
      } else {
        if (c == '#') in_comment_ = true;
        if (!is_blank(c)) key_place = c == '{' || c == ',' || c == '.' || c == '#';
        ++i;
        continue;
      }
      if (std::ranges::find(kSecretKeys, key) != kSecretKeys.end()) {
        if (const auto value = value_start(i, key_place)) {
          mask_urls_in_words(bare_from, *value);
          secret_value(*value);
          return;
        }
      }
      key_place = false;
    }
    mask_urls_in_words(bare_from, line_.size());
  }

  // Where the value of a secret key that ends at `key_end` starts: after "=" or ":" (a careless
  // one), or where the key starts an assignment, after blanks or right at a quote.
  std::optional<std::size_t> value_start(std::size_t key_end, bool key_place) const {
    const std::size_t next = skip_blanks(key_end);
    if (next == line_.size()) return std::nullopt;
    const char c = line_[next];
    if (c == '=' || c == ':') return skip_blanks(next + 1);
    if (!key_place || std::string_view(".,]}#").find(c) != std::string_view::npos) return std::nullopt;
    if (next > key_end || is_quote(c)) return next;
    return std::nullopt;
  }

  // Masks a secret key's value that starts at `start` and all its line holds after it: a quote
  // inside a secret ends its string early, and what follows is more of it.
  void secret_value(std::size_t start) {
    if (start == line_.size()) return;
    if (is_quote(line_[start])) {
      const std::string_view delimiter = delimiter_at(start);
      const std::size_t content = start + delimiter.size();
      const StringEnd string = string_end(content, delimiter);
      if (!string.closed) open_string(delimiter, true);
      mask_secret(content, string.end);
      mask_rest(string.next);
      return;
    }
    mask_secret(start, line_.size());
    if (line_[start] == '[' || line_[start] == '{') follow_secret_value(start);
  }

  // Counts the brackets of a secret array or inline table from `i` on, so that the lines it runs
  // on to are masked until it closes.
  void follow_secret_value(std::size_t i) {
    if (in_comment_) return;
    while (i < line_.size() && line_[i] != '#') {
      const char c = line_[i];
      if (is_quote(c)) {
        const std::string_view delimiter = delimiter_at(i);
        const StringEnd string = string_end(i + delimiter.size(), delimiter);
        if (!string.closed) return open_string(delimiter, true);
        i = string.next;
        continue;
      }
      if (c == '[' || c == '{') ++carry_.secret_depth;
      if ((c == ']' || c == '}') && --carry_.secret_depth == 0) return;
      ++i;
    }
  }

  // The rest of the multi-line string the line starts in; gives where the line goes on after it.
  std::size_t resume_string() {
    const OpenString open = *carry_.open;
    const StringEnd string = string_end(0, open.delimiter);
    if (string.closed) carry_.open.reset();
    if (!open.secret) {
      mask_urls_in_string(0, string.end, text_of(0, string.end, open.delimiter), open.delimiter);
      return string.next;
    }
    mask_secret(0, string.end);
    if (carry_.secret_depth > 0) return string.next;
    mask_rest(string.next);
    return line_.size();
  }

  // Where the string whose content starts at `content` ends. Up to two quotes right before a
  // multi-line string's closing delimiter are its content ("'''x''''" holds "x'").
  StringEnd string_end(std::size_t content, std::string_view delimiter) const {
    std::size_t end = content;
    while (end < line_.size() && !line_.substr(end).starts_with(delimiter)) {
      end += delimiter.front() == '"' && line_[end] == '\\' ? 2 : 1;  // a basic string's escapes
    }
    if (end >= line_.size()) return {line_.size(), line_.size(), false};
    std::size_t next = end + delimiter.size();
    for (int extra = 0; extra < 2 && delimiter.size() == 3 && next < line_.size() && line_[next] == delimiter.front();
         ++extra) {
      ++end;
      ++next;
    }
    return {end, next, true};
  }

  // A multi-line string left open at the line's end goes on in the next line; one in a comment
  // ends with it, as does any single-line string.
  void open_string(std::string_view delimiter, bool secret) {
    if (delimiter.size() == 3 && !in_comment_) carry_.open = OpenString{delimiter, secret};
  }

  std::string text_of(std::size_t content, std::size_t end, std::string_view delimiter) const {
    const std::string_view written = line_.substr(content, end - content);
    return delimiter.front() == '"' ? basic_string_text(written) : std::string(written);
  }

  // A comment's apostrophes are prose: only a double quote opens a string there.
  bool is_quote(char c) const { return c == '"' || (c == '\'' && !in_comment_); }

  std::string_view delimiter_at(std::size_t i) const {
    const std::string_view rest = line_.substr(i);
    return rest.starts_with(std::string(3, rest.front())) ? rest.substr(0, 3) : rest.substr(0, 1);
  }

  std::size_t skip_blanks(std::size_t i) const {
    while (i < line_.size() && is_blank(line_[i])) ++i;
    return i;
  }

  // Masks the URL credentials in a string's content, read with its escapes (`\u0040` is an "@").
  void mask_urls_in_string(std::size_t content, std::size_t end, const std::string& text, std::string_view delimiter) {
    if (text.find('@') == std::string::npos) return;
    const std::string masked = util::mask_url(text);
    if (masked == text) return;
    const bool had_escapes =
        delimiter.front() == '"' && line_.substr(content, end - content).find('\\') != std::string_view::npos;
    replace(content, end, had_escapes ? escaped(masked) : masked);
  }

  // Text outside strings has no URL bounds to go by: each word holding "@" is read as one.
  void mask_urls_in_words(std::size_t begin, std::size_t end) {
    while (begin < end) {
      begin = std::min(skip_blanks(begin), end);
      std::size_t word_end = begin;
      while (word_end < end && !is_blank(line_[word_end])) ++word_end;
      const std::string_view word = line_.substr(begin, word_end - begin);
      if (word.find('@') != std::string_view::npos) replace(begin, word_end, util::mask_url(word));
      begin = word_end;
    }
  }

  void mask_rest(std::size_t from) {
    from = skip_blanks(from);
    if (from < line_.size()) mask_secret(from, line_.size());
  }

  void mask_secret(std::size_t begin, std::size_t end) {
    held_secret_ = true;
    replace(begin, end, std::string(kMask));
  }

  void replace(std::size_t begin, std::size_t end, std::string text) {
    if (line_.substr(begin, end - begin) != text) replacements_.push_back({begin, end, std::move(text)});
  }

  std::string_view line_;
  Carry& carry_;
  std::vector<Replacement> replacements_;
  bool in_comment_ = false;
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
  masked.column = util::text::code_point_count(std::string_view(text).substr(0, within)) + (*moved - within) + 1;
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
    out.append(text.substr(from, open + 1 - from)).append(util::text::code_point_count(quoted) > 1 ? kMask : quoted);
    out.push_back(text[close]);
    from = close + 1;
  }
  out.append(text.substr(from));
  return out;
}

}  // namespace

MaskedLine masked_line(std::string_view source, std::size_t line_number, std::size_t column) {
  Carry carry;
  std::size_t start = 0;
  for (std::size_t number = 1;; ++number) {
    const std::size_t newline = source.find('\n', start);
    std::string_view line = source.substr(start, newline == std::string_view::npos ? newline : newline - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    LineScan scan(line, carry);
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
  Carry carry;
  const std::string urls_masked = apply(message, LineScan(message, carry).run(), 1).text;
  return line_held_secret ? mask_quoted(urls_masked) : urls_masked;
}

}  // namespace valdori::agent::toml_doc
