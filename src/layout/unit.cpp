#include "layout/unit.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace qmr {

namespace {
constexpr std::size_t kBufSize = 1 << 16;

bool isFolder(const std::string &path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}
} // namespace

Unit::~Unit() {
  if (fp_ != nullptr && fp_ != stdout) std::fclose(fp_);
}

void Unit::fail(const std::string &what) {
  why_ = what;
  failed_ = true;
}

bool Unit::openRead(const std::string &path) {
  name_ = path;
  path_ = path;
  if (isFolder(path)) {
    why_ = "it is a folder";
    return false;
  }
  fp_ = std::fopen(path.c_str(), "rb");
  if (fp_ == nullptr) {
    why_ = std::strerror(errno);
    return false;
  }
  mode_ = Mode::Read;
  recno_ = 0;
  return true;
}

bool Unit::openWrite(const std::string &path) {
  name_ = path;
  path_ = path;
  if (isFolder(path)) {
    why_ = "it is a folder";
    return false;
  }
  fp_ = std::fopen(path.c_str(), "wb");
  if (fp_ == nullptr) {
    why_ = std::strerror(errno);
    return false;
  }
  buf_ = std::make_unique<char[]>(kBufSize);
  std::setvbuf(fp_, buf_.get(), _IOFBF, kBufSize);
  mode_ = Mode::Write;
  return true;
}

bool Unit::openUnknown(const std::string &path) {
  name_ = path;
  path_ = path;
  if (isFolder(path)) {
    why_ = "it is a folder";
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    std::FILE *made = std::fopen(path.c_str(), "ab");
    if (made == nullptr) {
      why_ = std::strerror(errno);
      return false;
    }
    std::fclose(made);
  }
  fp_ = std::fopen(path.c_str(), "rb");
  if (fp_ == nullptr) {
    why_ = std::strerror(errno);
    return false;
  }
  mode_ = Mode::Read;
  lazy_ = true;
  recno_ = 0;
  return true;
}

bool Unit::openUnknownToRead(const std::string &path) {
  std::error_code ec;
  if (isFolder(path) || std::filesystem::exists(path, ec))
    return openUnknown(path);
  name_ = path;
  path_ = path;
  mode_ = Mode::Read;
  lazy_ = true;
  missing_ = true;
  recno_ = 0;
  return true;
}

void Unit::openConsole() {
  name_ = "standard output";
  fp_ = stdout;
  mode_ = Mode::Console;
}

void Unit::openText(std::string name, std::string text) {
  name_ = std::move(name);
  mem_ = std::move(text);
  memPos_ = 0;
  memory_ = true;
  mode_ = Mode::Read;
  recno_ = 0;
}

void Unit::openMemory(std::string name) {
  name_ = std::move(name);
  mem_.clear();
  memory_ = true;
  mode_ = Mode::Write;
}

bool Unit::next(std::string &rec) {
  rec.clear();
  if (mode_ != Mode::Read) return false;
  if (memory_) {
    if (memPos_ >= mem_.size()) return false;
    std::size_t end = mem_.find('\n', memPos_);
    if (end == std::string::npos) end = mem_.size();
    std::size_t len = end - memPos_;
    rec.assign(mem_, memPos_, len < kMaxRecord ? len : kMaxRecord);
    memPos_ = end + 1;
  } else {
    if (fp_ == nullptr) return false;
    int c = std::getc(fp_);
    if (c == EOF) return false;
    std::size_t len = 0;
    while (c != EOF && c != '\n') {
      if (rec.size() < kMaxRecord) rec.push_back(static_cast<char>(c));
      if (++len > kMaxLine) {
        overlong_ = true;
        return false;
      }
      c = std::getc(fp_);
    }
  }
  if (!rec.empty() && rec.back() == '\r') rec.pop_back();
  if (recno_ == 0 && rec.starts_with("\xEF\xBB\xBF")) rec.erase(0, 3);
  ++recno_;
  return true;
}

bool Unit::peek(std::string &rec) {
  if (mode_ != Mode::Read) return false;
  const long recno = recno_;
  const bool overlong = overlong_;
  bool got = false;
  if (memory_) {
    const std::size_t pos = memPos_;
    got = next(rec);
    memPos_ = pos;
  } else if (fp_ != nullptr) {
    const long pos = std::ftell(fp_);
    if (pos < 0) return false;
    got = next(rec);
    std::clearerr(fp_);
    std::fseek(fp_, pos, SEEK_SET);
  }
  recno_ = recno;
  overlong_ = overlong;
  return got;
}

bool Unit::ensureWriter() {
  if (mode_ == Mode::Write || mode_ == Mode::Console) return true;
  if (lazy_ && mode_ == Mode::Read) {
    // The first write replaces the whole content of the file.
    if (fp_ != nullptr) std::fclose(fp_);
    fp_ = std::fopen(path_.c_str(), "wb");
    if (fp_ == nullptr) {
      mode_ = Mode::Closed;
      fail(std::strerror(errno));
      return false;
    }
    buf_ = std::make_unique<char[]>(kBufSize);
    std::setvbuf(fp_, buf_.get(), _IOFBF, kBufSize);
    mode_ = Mode::Write;
    return true;
  }
  if (!failed_) fail("the file is not open for writing");
  return false;
}

void Unit::put(std::string_view line) {
  if (!ensureWriter()) return;
  written_ = true;
  if (memory_) {
    mem_.append(line);
    mem_.push_back('\n');
    return;
  }
  if (std::fwrite(line.data(), 1, line.size(), fp_) != line.size() ||
      std::fputc('\n', fp_) == EOF) {
    if (!failed_) fail(std::strerror(errno));
  }
}

bool Unit::close() {
  bool ok = !failed_;
  if (fp_ != nullptr) {
    if (mode_ == Mode::Console) {
      if (std::fflush(fp_) != 0 && ok) {
        fail(std::strerror(errno));
        ok = false;
      }
    } else {
      bool writing = mode_ == Mode::Write;
      if (writing && std::fflush(fp_) != 0 && ok) {
        fail(std::strerror(errno));
        ok = false;
      }
      if (writing && std::ferror(fp_) && ok) {
        fail("write error");
        ok = false;
      }
      if (std::fclose(fp_) != 0 && writing && ok) {
        fail(std::strerror(errno));
        ok = false;
      }
    }
  }
  fp_ = nullptr;
  buf_.reset();
  mode_ = Mode::Closed;
  missing_ = false;
  return ok;
}

std::string resolvePath(std::string_view deckName) {
  std::size_t end = deckName.find_last_not_of(' ');
  std::string name(end == std::string_view::npos ? std::string_view()
                                                 : deckName.substr(0, end + 1));
  for (char &c : name) {
    if (c == '\\') c = '/';
  }
  static constexpr std::string_view kHome = "C:/QMR/";
  if (name.size() >= kHome.size()) {
    bool home = true;
    for (std::size_t i = 0; i < kHome.size(); ++i) {
      char c = name[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c != kHome[i]) home = false;
    }
    if (home) name.erase(0, kHome.size());
  }
  return name;
}

} // namespace qmr
