#include "io/warn.hpp"

#include <cstdio>

namespace qmr {

namespace {
std::string *gSink = nullptr;
} // namespace

void setWarningSink(std::string *sink) { gSink = sink; }

namespace {
void emit(std::string line) {
  if (gSink != nullptr) {
    gSink->append(line).push_back('\n');
    return;
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}
} // namespace

void notice(std::string_view message) { emit("qmr: " + std::string(message)); }

void warn(const Unit &u, long rec, std::size_t col1, std::size_t col2,
          std::string_view message) {
  std::string line = "qmr: warning: " + u.name();
  if (rec > 0) line += ", record " + std::to_string(rec);
  if (col1 > 0) {
    line += ", columns " + std::to_string(col1) + "-" + std::to_string(col2);
  }
  if (!u.section().empty()) line += " (" + u.section() + ")";
  line += ": ";
  line += message;
  if (rec > 0) u.setWarnedRecord(rec);
  emit(std::move(line));
}

void warnField(const Unit &u, long rec, int field, int width,
               std::string_view message, int first) {
  const auto from = static_cast<std::size_t>(first + (field - 1) * width);
  warn(u, rec, from, from + static_cast<std::size_t>(width) - 1, message);
}

std::string seeWarning(const Unit &u) {
  const long w = u.warnedRecord();
  if (w <= 0) return {};
  return "; see the warning about record " + std::to_string(w) + " above";
}

std::string visible(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (b < 0x20 || b == 0x7f) {
      out += "\\x";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

} // namespace qmr
