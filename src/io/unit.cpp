#include "io/unit.hpp"

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
  if (fp_ != nullptr && fp_ != stdout) {
    if (mode_ == Mode::Write) flushBlock();
    std::fclose(fp_);
  }
}

// Reading and writing go through the unit's own block: the C library's
// stream buffer would only copy every byte once more.
void Unit::startBlocks() {
  std::setvbuf(fp_, nullptr, _IONBF, 0);
  if (!buf_) buf_ = std::make_unique_for_overwrite<char[]>(kBufSize);
  pos_ = 0;
  end_ = 0;
  eof_ = false;
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
  startBlocks();
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
  startBlocks();
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
  startBlocks();
  mode_ = Mode::Read;
  lazy_ = true;
  recno_ = 0;
  return true;
}

bool Unit::openDiscard(const std::string &path) {
  name_ = path_ = path;
  if (isFolder(path)) {
    why_ = "it is a folder";
    return false;
  }
  // The file could not be created where its folder is missing.
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) {
    why_ = std::strerror(ENOENT);
    return false;
  }
  if (!std::filesystem::is_directory(folder, ec)) {
    why_ = std::strerror(ENOTDIR);
    return false;
  }
  openMemory(path);
  path_ = path;
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
  std::string_view v;
  const bool ok = next(v);
  rec.assign(v);
  return ok;
}

// More bytes after those not yet handed out (moved to the block's start).
// False at the end of the file (or when it cannot be read further).
bool Unit::fill() {
  if (eof_) return false;
  if (pos_ > 0) {
    std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  const std::size_t n = std::fread(buf_.get() + end_, 1, kBufSize - end_, fp_);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  end_ += n;
  return true;
}

bool Unit::next(std::string_view &rec) {
  rec = {};
  if (mode_ != Mode::Read) return false;
  if (memory_) {
    if (memPos_ >= mem_.size()) return false;
    std::size_t end = mem_.find('\n', memPos_);
    if (end == std::string::npos) end = mem_.size();
    std::size_t len = end - memPos_;
    rec = std::string_view(mem_).substr(memPos_,
                                        len < kMaxRecord ? len : kMaxRecord);
    memPos_ = end + 1;
  } else {
    if (fp_ == nullptr) return false; // a missing file read as empty
    std::size_t scanned = 0; // bytes after pos_ known to hold no line end
    for (;;) {
      const char *from = buf_.get() + pos_;
      const auto *nl = static_cast<const char *>(
          std::memchr(from + scanned, '\n', end_ - pos_ - scanned));
      if (nl != nullptr) {
        const auto len = static_cast<std::size_t>(nl - from);
        rec = std::string_view(from, len < kMaxRecord ? len : kMaxRecord);
        lineStart_ = pos_;
        pos_ += len + 1;
        break;
      }
      scanned = end_ - pos_;
      if (scanned == kBufSize) {
        if (!nextLong(rec)) return false;
        break;
      }
      if (!fill()) { // the last line has no end
        if (scanned == 0) return false;
        rec = std::string_view(buf_.get() + pos_,
                               scanned < kMaxRecord ? scanned : kMaxRecord);
        lineStart_ = pos_;
        pos_ = end_;
        break;
      }
    }
  }
  if (!rec.empty() && rec.back() == '\r') rec.remove_suffix(1);
  if (recno_ == 0 && rec.starts_with("\xEF\xBB\xBF")) rec.remove_prefix(3);
  ++recno_;
  return true;
}

// A line that fills a whole block: its first kMaxRecord characters are the
// record; the rest is passed over up to the line end. A line that goes on
// beyond kMaxLine characters is no record: reading stops after its
// character kMaxLine + 1.
bool Unit::nextLong(std::string_view &rec) {
  ++longLines_;
  long_.assign(buf_.get() + pos_, kMaxRecord);
  std::size_t taken = end_ - pos_; // characters of the line passed over
  pos_ = end_;
  for (;;) {
    if (!fill()) break; // the line ends with the file
    const char *from = buf_.get() + pos_;
    const auto *nl =
        static_cast<const char *>(std::memchr(from, '\n', end_ - pos_));
    const std::size_t len =
        nl != nullptr ? static_cast<std::size_t>(nl - from) : end_ - pos_;
    if (taken + len > kMaxLine) {
      pos_ += kMaxLine + 1 - taken;
      overlong_ = true;
      return false;
    }
    taken += len;
    if (nl != nullptr) {
      pos_ += len + 1;
      break;
    }
    pos_ = end_;
  }
  rec = long_;
  return true;
}

bool Unit::peek(std::string &rec) {
  rec.clear();
  if (mode_ != Mode::Read) return false;
  const long recno = recno_;
  const bool overlong = overlong_;
  bool got = false;
  std::string_view v;
  if (memory_) {
    const std::size_t pos = memPos_;
    got = next(v);
    rec.assign(v);
    memPos_ = pos;
  } else if (fp_ != nullptr) {
    const long at = std::ftell(fp_);
    if (at < 0) return false;
    // The file offset of the first byte not handed out.
    const long offset = at - static_cast<long>(end_ - pos_);
    const long longLines = longLines_;
    got = next(v);
    rec.assign(v);
    if (longLines_ != longLines || overlong_) {
      // The line left the block: read again from where it starts.
      std::clearerr(fp_);
      std::fseek(fp_, offset, SEEK_SET);
      pos_ = 0;
      end_ = 0;
      eof_ = false;
    } else if (got) {
      pos_ = lineStart_; // the line is still in the block
    }
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
    startBlocks();
    mode_ = Mode::Write;
    return true;
  }
  if (!failed_) fail("the file is not open for writing");
  return false;
}

bool Unit::openNull(const std::string &path) {
  name_ = path_ = path;
  mode_ = Mode::Null;
  return true;
}

void Unit::put(std::string_view line) {
  if (mode_ == Mode::Write && !memory_ && end_ + line.size() < kBufSize) {
    std::memcpy(buf_.get() + end_, line.data(), line.size());
    end_ += line.size();
    buf_[end_++] = '\n';
    written_ = true;
    return;
  }
  if (mode_ == Mode::Null) return;
  if (!ensureWriter()) return;
  written_ = true;
  if (memory_) {
    mem_.append(line);
    mem_.push_back('\n');
    return;
  }
  if (mode_ == Mode::Console) {
    if (std::fwrite(line.data(), 1, line.size(), fp_) != line.size() ||
        std::fputc('\n', fp_) == EOF) {
      if (!failed_) fail(std::strerror(errno));
    }
    return;
  }
  if (end_ + line.size() + 1 > kBufSize) {
    flushBlock();
    while (line.size() >= kBufSize) { // a line longer than a block
      std::memcpy(buf_.get(), line.data(), kBufSize);
      end_ = kBufSize;
      flushBlock();
      line.remove_prefix(kBufSize);
    }
  }
  std::memcpy(buf_.get() + end_, line.data(), line.size());
  end_ += line.size();
  buf_[end_++] = '\n';
}

void Unit::flushBlock() {
  if (end_ == 0) return;
  if (std::fwrite(buf_.get(), 1, end_, fp_) != end_ && !failed_)
    fail(std::strerror(errno));
  end_ = 0;
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
      if (writing) {
        flushBlock();
        ok = !failed_;
      }
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

void Unit::logRecord(long rec, std::string_view text,
                     std::vector<ReadRecord::Field> fields, bool missing) {
  log_.resize(static_cast<std::size_t>(rec - 1));
  std::shared_ptr<const ReadRecord::Shape> shape;
  if (!log_.empty() && log_.back().shape &&
      log_.back().shape->fields == fields &&
      log_.back().shape->section == section_)
    shape = log_.back().shape;
  else
    shape = std::make_shared<const ReadRecord::Shape>(
        ReadRecord::Shape{std::move(fields), section_});
  log_.push_back({std::string(text), std::move(shape), missing});
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
