#include "convert/declarations.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace convert {
namespace {

std::string lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isValueCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) != 0 || c == '-' || c == '_' || c == '.' || c == ':';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\r' || c == '\n';
}

// `key` in `text` from `from`, letter case aside; npos when it is not there.
std::size_t find(const std::string& text, const char* key, std::size_t from = 0) {
  const std::size_t length = std::strlen(key);
  for (std::size_t at = from; at + length <= text.size(); ++at) {
    std::size_t k = 0;
    while (k < length && std::tolower(static_cast<unsigned char>(text[at + k])) ==
                             std::tolower(static_cast<unsigned char>(key[k])))
      ++k;
    if (k == length) return at;
  }
  return std::string::npos;
}

std::size_t skipSpaces(const std::string& text, std::size_t at) {
  while (at < text.size() && isSpace(text[at]))
    ++at;
  return at;
}

// The value at `at` (quoted or not), as a declaration.
bool valueAt(const std::string& text, std::size_t at, std::uint64_t line, const char* form,
             const char* replacement, std::vector<Declaration>& found,
             bool (*allowed)(char) = isValueCharacter) {
  if (at < text.size() && (text[at] == '"' || text[at] == '\'')) ++at;
  std::size_t end = at;
  while (end < text.size() && allowed(text[end]))
    ++end;
  // A value may end with a colon that belongs to what follows (Vim's "set
  // fenc=x:").
  while (end > at && text[end - 1] == ':')
    --end;
  if (end == at) return false;
  found.push_back({line, at, text.substr(at, end - at), form, replacement});
  return true;
}

bool isDigitOrLetter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

bool isVimValue(char c) {
  return isValueCharacter(c) && c != ':';
}

void xmlDeclaration(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  const std::size_t start = s.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  if (s.compare(start, 5, "<?xml") != 0) return;
  const std::size_t close = s.find("?>", start);
  std::size_t at = find(s, "encoding", start);
  if (at == std::string::npos || (close != std::string::npos && at > close)) return;
  at = skipSpaces(s, at + 8);
  if (at >= s.size() || s[at] != '=') return;
  valueAt(s, skipSpaces(s, at + 1), line, "an XML declaration", "UTF-8", found);
}

void cssCharset(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  const std::size_t start = s.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  if (s.compare(start, 10, "@charset \"") != 0) return;
  valueAt(s, start + 9, line, "@charset", "UTF-8", found);
}

void htmlMeta(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  for (std::size_t at = find(s, "<meta"); at != std::string::npos; at = find(s, "<meta", at + 5)) {
    const std::size_t close = s.find('>', at);
    for (std::size_t c = find(s, "charset", at);
         c != std::string::npos && (close == std::string::npos || c < close);
         c = find(s, "charset", c + 7)) {
      const std::size_t equals = skipSpaces(s, c + 7);
      if (equals < s.size() && s[equals] == '=') {
        valueAt(s, skipSpaces(s, equals + 1), line, "a <meta> charset", "UTF-8", found);
        break;
      }
    }
  }
}

// -*- coding: x -*- (and "-*- mode: c; coding: x -*-").
void emacsCookie(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  const std::size_t open = s.find("-*-");
  if (open == std::string::npos) return;
  const std::size_t close = s.find("-*-", open + 3);
  if (close == std::string::npos) return;
  const std::size_t at = find(s, "coding:", open);
  if (at == std::string::npos || at > close) return;
  valueAt(s, skipSpaces(s, at + 7), line, "an Emacs coding cookie", "utf-8", found,
          [](char c) { return isValueCharacter(c) && c != ':' && c != ';'; });
}

// PEP 263 and Ruby: a comment whose text holds "coding:" or "coding=".
void codingComment(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  const std::size_t hash = s.find('#');
  if (hash == std::string::npos || s.find_first_not_of(" \t\f") != hash) return;
  for (std::size_t at = find(s, "coding", hash); at != std::string::npos;
       at = find(s, "coding", at + 6)) {
    const std::size_t after = at + 6;
    if (after < s.size() && (s[after] == ':' || s[after] == '=')) {
      std::size_t value = after + 1;
      while (value < s.size() && (s[value] == ' ' || s[value] == '\t'))
        ++value;
      valueAt(s, value, line, "a coding comment", "utf-8", found,
              [](char c) { return isDigitOrLetter(c) || c == '-' || c == '_' || c == '.'; });
      return;
    }
  }
}

// vim: set fileencoding=x : and vim:fenc=x
void vimModeline(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  for (const char* marker : {"vim:", "vi:", "ex:"}) {
    for (std::size_t at = s.find(marker); at != std::string::npos; at = s.find(marker, at + 1)) {
      if (at != 0 && !isSpace(s[at - 1])) continue;
      for (const char* option : {"fileencoding=", "fenc="}) {
        const std::size_t o = s.find(option, at);
        if (o != std::string::npos && (isSpace(s[o - 1]) || s[o - 1] == ':')) {
          valueAt(s, o + std::strlen(option), line, "a Vim modeline", "utf-8", found, isVimValue);
          return;
        }
      }
    }
  }
}

// #pragma code_page(932), as resource scripts for rc.exe hold it.
void codePagePragma(const std::string& s, std::uint64_t line, std::vector<Declaration>& found) {
  std::size_t at = skipSpaces(s, 0);
  if (at >= s.size() || s[at] != '#') return;
  at = skipSpaces(s, at + 1);
  if (s.compare(at, 6, "pragma") != 0) return;
  at = skipSpaces(s, at + 6);
  if (s.compare(at, 9, "code_page") != 0) return;
  at = skipSpaces(s, at + 9);
  if (at >= s.size() || s[at] != '(') return;
  valueAt(s, skipSpaces(s, at + 1), line, "#pragma code_page", "65001", found, isDigitOrLetter);
}

std::string extensionOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : lower(name.substr(dot));
}

}  // namespace

bool namesUTF8(const std::string& value) {
  const std::string v = lower(value);
  return v == "65001" || v.rfind("utf-8", 0) == 0 || v.rfind("utf8", 0) == 0 ||
         v.rfind("utf_8", 0) == 0 || v == "prefer-utf-8";
}

std::vector<Declaration> declarationsIn(const char* line, std::size_t size, std::uint64_t number,
                                        bool first, bool head, bool tail) {
  const std::string s(line, std::min(size, kLineLimit));
  std::vector<Declaration> found;
  codePagePragma(s, number, found);
  if (first) {
    xmlDeclaration(s, number, found);
    cssCharset(s, number, found);
  }
  if (head && number <= 2) {
    emacsCookie(s, number, found);
    codingComment(s, number, found);
  }
  if (head || tail) vimModeline(s, number, found);
  // One value found by two rules (a coding comment in Emacs' form) is one.
  std::sort(found.begin(), found.end(),
            [](const Declaration& a, const Declaration& b) { return a.column < b.column; });
  found.erase(
      std::unique(found.begin(), found.end(),
                  [](const Declaration& a, const Declaration& b) { return a.column == b.column; }),
      found.end());
  return found;
}

bool DeclarationEditor::write(const char* data, std::size_t size) {
  for (std::size_t at = 0; at < size;) {
    const void* newline = std::memchr(data + at, '\n', size - at);
    const std::size_t end =
        newline == nullptr ? size
                           : static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1;
    if (!long_ && line_.size() + (end - at) > kLineLimit) {
      // Too long to hold a declaration: it goes out as it comes, with what
      // was held before it.
      if (!release(0) || !sink_(line_.data(), line_.size())) return false;
      offset_ += line_.size();
      line_.clear();
      long_ = true;
    }
    if (long_) {
      if (!sink_(data + at, end - at)) return false;
      offset_ += end - at;
    } else {
      line_.append(data + at, end - at);
    }
    at = end;
    if (newline != nullptr) {
      if (long_) {
        long_ = false;
        ++number_;
      } else if (!endLine()) {
        return false;
      }
    }
  }
  return true;
}

bool DeclarationEditor::endLine() {
  Held line{number_++, offset_, std::move(line_)};
  line_.clear();
  offset_ += line.text.size();
  // An Emacs "Local Variables:" section is held whole while it may be the
  // file's last 3,000 bytes.
  if (line.text.find("Local Variables:") != std::string::npos) localVariables_ = line.number;
  if (!emit(line, false)) return false;
  heldBytes_ += line.text.size();
  held_.push_back(std::move(line));
  if (localVariables_ && heldBytes_ > 3000 + kLineLimit) localVariables_.reset();
  return release(kTailLines);
}

// Sends the held lines on but the last `keep` (and a Local Variables section
// that may still be the file's end).
bool DeclarationEditor::release(std::size_t keep) {
  while (held_.size() > keep && !(localVariables_ && held_.front().number >= *localVariables_)) {
    if (!sink_(held_.front().text.data(), held_.front().text.size())) return false;
    heldBytes_ -= held_.front().text.size();
    held_.pop_front();
  }
  return true;
}

// Looks at a line for the declarations it may hold where it is, notes those of
// another encoding, and with `fix` puts UTF-8 in their place.
bool DeclarationEditor::emit(Held& line, bool tail) {
  std::vector<Declaration> found =
      tail ? std::vector<Declaration>{}
           : declarationsIn(line.text.data(), line.text.size(), line.number, line.number == 1,
                            line.number <= kHeadLines, false);
  if (!tail && line.offset < kMetaBytes) htmlMeta(line.text, line.number, found);
  if (tail) {
    if (line.number > kHeadLines) vimModeline(line.text, line.number, found);
    if (localVariables_ && line.number > *localVariables_) {
      const std::size_t at = find(line.text, "coding:");
      if (at != std::string::npos && line.text.find("End:") == std::string::npos)
        valueAt(line.text, skipSpaces(line.text, at + 7), line.number, "an Emacs coding variable",
                "utf-8", found, [](char c) { return isValueCharacter(c) && c != ':' && c != ';'; });
    }
  }
  std::sort(found.begin(), found.end(),
            [](const Declaration& a, const Declaration& b) { return a.column > b.column; });
  for (const Declaration& d : found) {
    if (std::strcmp(d.form, "#pragma code_page") == 0) pragma_ = true;
    if (namesUTF8(d.value)) continue;
    others_.push_back(d);
    if (fix_) line.text.replace(d.column, d.value.size(), d.replacement);
  }
  return true;
}

bool DeclarationEditor::finish() {
  if (long_) {
    long_ = false;
  } else if (!line_.empty() && !endLine()) {
    return false;
  }
  // The held lines are the file's last: what may stand only there.
  if (localVariables_ && offset_ - held_.front().offset > 3000 + kLineLimit)
    localVariables_.reset();
  const std::size_t tail = held_.size() > kTailLines ? held_.size() - kTailLines : 0;
  for (std::size_t k = 0; k < held_.size(); ++k) {
    Held& line = held_[k];
    if (k >= tail || (localVariables_ && line.number > *localVariables_)) emit(line, true);
    if (!sink_(line.text.data(), line.text.size())) return false;
  }
  held_.clear();
  std::sort(others_.begin(), others_.end(), [](const Declaration& a, const Declaration& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  return true;
}

std::string readersNeedShiftJIS(const std::string& name, const char* start, std::size_t size,
                                bool withMark) {
  const std::string extension = extensionOf(name);
  if (extension == ".bat" || extension == ".cmd")
    return "read by cmd.exe in the console's code page";
  if (extension == ".reg" && size >= 8 && std::memcmp(start, "REGEDIT4", 8) == 0)
    return "REGEDIT4 files are read in the ANSI code page";
  if (extension == ".vbs" || extension == ".vbe" || extension == ".wsf" || extension == ".wsc")
    return "read by Windows Script Host in the ANSI code page";
  if (extension == ".ini" || extension == ".inf") return "read by Windows in the ANSI code page";
  if (!withMark && (extension == ".ps1" || extension == ".psm1" || extension == ".psd1"))
    return "read by Windows PowerShell 5.1 in the ANSI code page without a byte order mark (--bom)";
  if (!withMark && extension == ".csv")
    return "opened by Excel in the ANSI code page without a byte order mark (--bom)";
  return "";
}

}  // namespace convert
