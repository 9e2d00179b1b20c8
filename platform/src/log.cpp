// The platform log. Every line is kept so that tools and tests can read what
// was reported; echoing to stderr is for people watching a run.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

struct LogState {
  std::mutex mu;
  std::string captured;
  bool echo = false;
};

LogState& logState() {
  static LogState* s = new LogState;
  return *s;
}

// A long batch run must not grow the capture without bound: past this the
// oldest half is dropped.
constexpr size_t kMaxCaptured = 64u * 1024 * 1024;

bool echoFromEnvironment() {
  const char* v = std::getenv("KV_LOG_ECHO");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

}  // namespace

void NnLogMessage(NnStatus status, const char* format, ...) {
  std::string line;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, args);
    if (n >= 0 && size_t(n) < sizeof small) {
      line.assign(small, size_t(n));
    } else if (n > 0) {
      std::vector<char> big(size_t(n) + 1);
      std::vsnprintf(big.data(), big.size(), format, again);
      line.assign(big.data(), size_t(n));
    }
    va_end(again);
    va_end(args);
  }
  if (status != 0) {
    char text[256];
    NnLoadStatusText(status, text, sizeof text);
    line += ": ";
    line += text;
  }
  line += '\n';

  LogState& s = logState();
  std::lock_guard<std::mutex> lock(s.mu);
  if (s.captured.size() + line.size() > kMaxCaptured) {
    size_t cut = s.captured.size() / 2;
    size_t nl = s.captured.find('\n', cut);
    s.captured.erase(0, nl == std::string::npos ? s.captured.size() : nl + 1);
  }
  s.captured += line;
  if (s.echo || echoFromEnvironment()) std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string NnLogCaptured() {
  LogState& s = logState();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.captured;
}

void NnLogClear() {
  LogState& s = logState();
  std::lock_guard<std::mutex> lock(s.mu);
  s.captured.clear();
}

void NnLogSetEcho(bool toStderr) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lock(s.mu);
  s.echo = toStderr;
}
