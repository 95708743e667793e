#include "trees/report.hpp"

#include <cstdio>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace trees {
namespace {

// The bytes of a name: as they are on POSIX systems, UTF-8 on Windows.
std::string bytesOf(const std::filesystem::path& path) {
#if defined(_WIN32)
  try {
    return path.u8string();
  } catch (...) {
    return path.string();  // a name with a lone surrogate
  }
#else
  return path.native();
#endif
}

// Length of the well-formed UTF-8 character at text[i] (shortest form, no
// surrogates, up to U+10FFFF), or 0.
std::size_t utf8Character(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned lead = byte(i);
  const auto continuation = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(i + 1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0)) return 0;
    return continuation(i + 1) && continuation(i + 2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned second = byte(i + 1);
    if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) return 0;
    return continuation(i + 1) && continuation(i + 2) && continuation(i + 3) ? 4 : 0;
  }
  return 0;
}

std::string base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t group = 0;
  int bits = 0;
  for (const char c : bytes) {
    group = (group << 8) | static_cast<unsigned char>(c);
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(kDigits[(group >> bits) & 0x3F]);
    }
  }
  if (bits > 0) out.push_back(kDigits[(group << (6 - bits)) & 0x3F]);
  while (out.size() % 4 != 0)
    out.push_back('=');
  return out;
}

}  // namespace

std::string displayPath(const std::filesystem::path& path) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytesOf(path)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
#if !defined(_WIN32)  // on Windows it is the separator, in no name
    } else if (byte == '\\') {
      out += "\\\\";
#endif
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void appendJsonString(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8Character(text, i);
    const auto byte = static_cast<unsigned char>(text[i]);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    if (byte == '"' || byte == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(byte));
    } else if (byte < 0x20) {
      out += "\\u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  out.push_back('"');
}

void appendJsonPath(std::string& out, const char* key, const std::filesystem::path& path) {
  const std::string bytes = bytesOf(path);
  bool utf8 = true;
  for (std::size_t i = 0, length; i < bytes.size() && utf8; i += length)
    utf8 = (length = utf8Character(bytes, i)) != 0;
  out.push_back('"');
  out += key;
  out += "\":";
  appendJsonString(out, bytes);
  if (!utf8) {
    out += ",\"";
    out += key;
    out += "_bytes\":\"" + base64(bytes) + "\"";
  }
}

bool standardErrorIsATerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

unsigned processorsAvailable() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  const unsigned count = std::thread::hardware_concurrency();
  return count != 0 ? count : 1;
}

Progress::Progress(bool enabled)
    : enabled_(enabled), start_(std::chrono::steady_clock::now()), last_(start_) {}

void Progress::update(std::size_t done, std::uint64_t bytes) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100))
    return;
  last_ = now;
  shown_ = true;
  std::fprintf(stderr, "\r%zu files, %s ", done, byteCount(bytes).c_str());
  std::fflush(stderr);
}

void Progress::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  shown_ = false;
}

double Progress::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string byteCount(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < (1u << 20))
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
  else if (bytes < (1ull << 30))
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  else
    std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1 << 30));
  return text;
}

}  // namespace trees
