// The input side shared by the decade-line and the header-block reader: the
// chunked line source, the state kept between read calls and RwInput itself.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "rwfile/rw_internal.h"
#include "rwfile/trrw.h"

namespace kavrel {

namespace rw {

std::string trimmedId(std::string_view id) {
  const std::size_t end = id.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(id.substr(0, end + 1));
}

LineSource::LineSource(std::string text) : buffer_(std::move(text)) {
  pos_ = buffer_.data();
  end_ = pos_ + buffer_.size();
  skipByteOrderMark();
}

LineSource::LineSource(std::FILE* stream, bool ownsStream)
    : stream_(stream), ownsStream_(ownsStream) {
  buffer_.resize(kChunkSize);
  pos_ = end_ = buffer_.data();
  if (refill()) skipByteOrderMark();
}

LineSource::~LineSource() {
  if (ownsStream_ && stream_ != nullptr) std::fclose(stream_);
}

void LineSource::skipByteOrderMark() {
  // A UTF-8 byte-order mark written by some editors would shift every column
  // of its line by three; it is not part of the data. It is dropped at the
  // start of every line, not only of the file, so that files joined end to
  // end read like the files themselves, and an identifier can never begin
  // with one (the writer's file would then begin with it and read back
  // shifted).
  while (end_ - pos_ >= 3 && std::memcmp(pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
}

// The next `c` at or after pos_ in the buffer, or end_. The place found is
// kept in `cache` and used again until pos_ passes it, so each byte is
// searched once for each of the two line ends.
const char* LineSource::nextOf(char c, const char*& cache) {
  if (cache == nullptr || cache < pos_) {
    const void* found = std::memchr(pos_, c, static_cast<std::size_t>(end_ - pos_));
    cache = found != nullptr ? static_cast<const char*>(found) : end_;
  }
  return cache;
}

bool LineSource::refill() {
  if (stream_ == nullptr || failed_) return false;
  const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), stream_);
  pos_ = buffer_.data();
  end_ = pos_ + got;
  nextLineFeed_ = nextReturn_ = nullptr;
  if (got == 0 && std::ferror(stream_) != 0) failed_ = true;
  return got > 0;
}

const Line* LineSource::next() {
  if (pushedBack_) {
    pushedBack_ = false;
    ++lineNumber_;
    return &line_;
  }
  if (pos_ == end_ && !refill()) return nullptr;
  if (skipLineFeed_) {
    skipLineFeed_ = false;
    if (*pos_ == '\n' && ++pos_ == end_ && !refill()) return nullptr;
  }
  skipByteOrderMark();
  std::size_t len = 0;
  while (true) {
    const char* const end = end_;
    const char* const p = std::min(nextOf('\n', nextLineFeed_), nextOf('\r', nextReturn_));
    const std::size_t take = std::min(static_cast<std::size_t>(p - pos_), kLineWidth - len);
    std::memcpy(line_.data() + len, pos_, take);
    len += take;
    if (p != end) {
      pos_ = p + 1;
      if (*p == '\r') {
        if (pos_ != end_) {
          if (*pos_ == '\n') ++pos_;
        } else {
          skipLineFeed_ = true;
        }
      }
      break;
    }
    // The line goes on in the next chunk, or ends with the input.
    pos_ = end_;
    if (!refill()) break;
  }
  std::memset(line_.data() + len, ' ', kLineWidth - len);
  ++lineNumber_;
  return &line_;
}

void LineSource::pushBack() {
  pushedBack_ = true;
  --lineNumber_;
}

ReaderState::ReaderState(std::string text, std::string inputName)
    : source(std::move(text)), name(std::move(inputName)) {}

ReaderState::ReaderState(std::FILE* stream, bool ownsStream, std::string inputName)
    : source(stream, ownsStream), name(std::move(inputName)) {}

void ReaderState::beginCall() {
  info = RwReadInfo{};
  warnings.clear();
}

void ReaderState::warn(RwWarning::Kind kind, int32_t line, std::string_view id, std::string text) {
  if (warnings.size() >= kMaxWarningsPerRead) {
    ++info.warningsNotKept;
    return;
  }
  warnings.push_back(RwWarning{kind, line, trimmedId(id), std::move(text)});
}

void ReaderState::message(const char* text) {
  if (messages != nullptr) {
    std::fputs(text, messages);
    std::fputc('\n', messages);
    std::fflush(messages);
  }
}

}  // namespace rw

std::string RwWarning::message() const {
  std::string out;
  if (line > 0) out = "line " + std::to_string(line);
  if (!series.empty()) out += (out.empty() ? "series " : ", series ") + series;
  if (!out.empty()) out += ": ";
  return out + text;
}

RwInput::RwInput(std::unique_ptr<rw::ReaderState> state) : state_(std::move(state)) {}
RwInput::RwInput(RwInput&&) noexcept = default;
RwInput& RwInput::operator=(RwInput&&) noexcept = default;
RwInput::~RwInput() = default;

namespace {

// Reads from `f` until `text` holds a few complete lines (enough to tell the
// formats apart) or, with `whole`, until the end. False on a read error.
bool readInto(std::FILE* f, std::string& text, bool whole) {
  constexpr std::size_t kHeadLines = 8;
  constexpr std::size_t kHeadLimit = std::size_t{4} << 20;
  if (whole) {
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0) {
      text.reserve(text.size() + static_cast<std::size_t>(st.st_size));
    }
  }
  char chunk[1 << 16];
  while (whole ||
         (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) < kHeadLines &&
          text.size() < kHeadLimit)) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, f);
    text.append(chunk, got);
    if (got < sizeof chunk) return std::ferror(f) == 0;
  }
  return true;
}

}  // namespace

std::optional<RwInput> RwInput::openFile(const std::string& path, InputFormat format) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  if (format != InputFormat::decade) {
    std::string text;
    bool ok = readInto(f, text, false);
    if (ok && format == InputFormat::automatic) format = detectInputFormat(text);
    if (ok && format != InputFormat::decade) ok = readInto(f, text, true);
    if (ok && format == InputFormat::decade) ok = std::fseek(f, 0, SEEK_SET) == 0;
    if (!ok || format != InputFormat::decade) {
      std::fclose(f);
      if (!ok) return std::nullopt;
      return fromText(std::move(text), path, format);
    }
  }
  RwInput in(std::make_unique<rw::ReaderState>(f, /*ownsStream=*/true, path));
  if (in.state_->source.failed()) return std::nullopt;
  return in;
}

RwInput RwInput::fromStream(std::FILE* stream, std::string name) {
  return RwInput(std::make_unique<rw::ReaderState>(stream, /*ownsStream=*/false, std::move(name)));
}

RwInput RwInput::fromText(std::string text, std::string name, InputFormat format) {
  if (format == InputFormat::automatic) format = detectInputFormat(text);
  if (format == InputFormat::decade) {
    return RwInput(std::make_unique<rw::ReaderState>(std::move(text), std::move(name)));
  }
  auto state = std::make_unique<rw::ReaderState>(std::string(), name);
  state->format = format;
  state->table =
      format == InputFormat::heidelberg ? readHeidelberg(text, name) : readCsvTable(text, name);
  return RwInput(std::move(state));
}

const std::string& RwInput::name() const noexcept { return state_->name; }
InputFormat RwInput::format() const noexcept { return state_->format; }
int32_t RwInput::lineNumber() const noexcept { return state_->source.lineNumber(); }
const RwReadInfo& RwInput::lastRead() const noexcept { return state_->info; }
const std::vector<RwWarning>& RwInput::warnings() const noexcept { return state_->warnings; }
bool RwInput::readError() const noexcept { return state_->source.failed(); }
void RwInput::setMessageStream(std::FILE* stream) noexcept { state_->messages = stream; }

}  // namespace kavrel
