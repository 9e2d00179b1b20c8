// Time values: conversions between TIMEDATE, calendar parts, our fixed text
// form and the DXL datetime form.
//
// A TIMEDATE holds ticks of 1/100 s since midnight UTC in Innards[0] and the
// Julian day number in the low 24 bits of Innards[1]. The high byte of
// Innards[1] may carry flags from elsewhere; it is ignored when read and
// written as zero.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "nn/nn.h"
#include "formula.h"  // the time helpers shared with the formula evaluator

namespace nntime {

namespace {

constexpr int64_t kTicksPerDay = 8640000;
constexpr int64_t kUnixEpochJulianDay = 2440588;  // 1970-01-01

// Days since 1970-01-01 of a proleptic Gregorian date (any integer year).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

int daysInMonth(int64_t y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

// Builds a value from a day number (days since 1970) and ticks within or
// beyond the day; both are normalised. Out-of-range days are clamped.
tagTIMEDATE fromDaysTicks(int64_t days, int64_t ticks) {
  days += floorDiv(ticks, kTicksPerDay);
  ticks -= floorDiv(ticks, kTicksPerDay) * kTicksPerDay;
  int64_t jd = days + kUnixEpochJulianDay;
  if (jd < 0) jd = 0;
  if (jd > kMaxJulianDay) jd = kMaxJulianDay;
  tagTIMEDATE td;
  td.Innards[0] = uint32_t(ticks);
  td.Innards[1] = uint32_t(jd);
  return td;
}

bool digits(const char* p, int n, int* out) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  *out = v;
  return true;
}

// Copies text into buf when it fits with its NUL; else an empty text and NN_ERR_MEMORY.
NnStatus deliver(const char* text, size_t n, char* buf, uint16_t bufSize, uint16_t* len) {
  if (n + 1 > bufSize) {
    if (buf && bufSize > 0) buf[0] = '\0';
    if (len) *len = 0;
    return NN_ERR_MEMORY;
  }
  std::memcpy(buf, text, n);
  buf[n] = '\0';
  if (len) *len = uint16_t(n);
  return NN_OK;
}

}  // namespace

bool isDateOnly(const tagTIMEDATE& td) { return td.Innards[0] == kNoTime; }
bool isTimeOnly(const tagTIMEDATE& td) { return (td.Innards[1] & kDayMask) == kNoDate; }

int64_t toSeconds100(const tagTIMEDATE& td) {
  const int64_t jd = td.Innards[1] & kDayMask;
  const int64_t ticks = isDateOnly(td) ? 0 : td.Innards[0];
  return (jd - kUnixEpochJulianDay) * kTicksPerDay + ticks;
}

tagTIMEDATE fromSeconds100(int64_t hundredths) { return fromDaysTicks(0, hundredths); }

tagTIMEDATE dateOnly(int64_t year, int64_t month, int64_t day) {
  // Months beyond 1..12 carry into the year, days beyond the month into the next.
  const int64_t m0 = month - 1;
  year += floorDiv(m0, 12);
  month = m0 - floorDiv(m0, 12) * 12 + 1;
  tagTIMEDATE td = fromDaysTicks(daysFromCivil(year, month, 1) + day - 1, 0);
  td.Innards[0] = kNoTime;
  return td;
}

std::string toText(const tagTIMEDATE& td) {
  const bool noDate = isTimeOnly(td), noTime = isDateOnly(td);
  if (noDate && noTime) return {};
  char out[64];
  int n = 0;
  if (!noDate) {
    int64_t y;
    int m, d;
    civilFromDays(int64_t(td.Innards[1] & kDayMask) - kUnixEpochJulianDay, &y, &m, &d);
    n = std::snprintf(out, sizeof out, "%04lld-%02d-%02d", (long long)y, m, d);
  }
  if (!noTime) {
    // Ticks beyond a day are not a time of day; show them capped rather than invent a date.
    uint32_t t = td.Innards[0];
    if (t >= kTicksPerDay) t = kTicksPerDay - 1;
    const uint32_t s = t / 100;
    n += std::snprintf(out + n, sizeof out - size_t(n), "%s%02u:%02u:%02u", noDate ? "" : " ",
                       s / 3600, (s / 60) % 60, s % 60);
  }
  return std::string(out, size_t(n));
}

}  // namespace nntime

using namespace nntime;

NnStatus NnTimeToText(const tagTIMEDATE* td, char* buf, uint16_t bufSize, uint16_t* len) {
  if (!td || (!buf && bufSize > 0)) return NN_ERR_INVALID_ARG;
  const std::string s = toText(*td);
  return deliver(s.data(), s.size(), buf, bufSize, len);
}

NnStatus NnTimeRangeToText(const tagTIMEDATE* first, const tagTIMEDATE* second, char* buf,
                           uint16_t bufSize, uint16_t* len) {
  if (!first || !second || (!buf && bufSize > 0)) return NN_ERR_INVALID_ARG;
  const std::string s = toText(*first) + " - " + toText(*second);
  return deliver(s.data(), s.size(), buf, bufSize, len);
}

tagTIMEDATE NnTimeFromParts(int year, int month, int day, int hour, int minute, int second,
                            int hundredths) {
  const tagTIMEDATE date = dateOnly(year, month, day);
  const int64_t ticks = int64_t(hour) * 360000 + int64_t(minute) * 6000 + int64_t(second) * 100 +
                        hundredths;
  return fromDaysTicks(int64_t(date.Innards[1]) - kUnixEpochJulianDay, ticks);
}

tagTIMEDATE NnTimeNow() {
  using namespace std::chrono;
  const int64_t ms =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return fromSeconds100(floorDiv(ms, 10));
}

// Forms read: "YYYYMMDDTHHMMSS[,hh][zone]", "YYYYMMDD", "THHMMSS[,hh][zone]",
// zone "Z", "+hh", "-hh", "+hhmm". A year of other than four digits may be written
// with more digits and a leading '-' (so every representable day reads back).
bool NnTimeFromDxl(const char* text, tagTIMEDATE* out) {
  if (!text || !out) return false;
  const size_t n = std::strlen(text);
  size_t p = 0;
  bool haveDate = false;
  int64_t year = 0;
  int month = 0, day = 0;
  if (p < n && text[p] != 'T') {
    const bool negative = text[p] == '-';
    if (negative) ++p;
    size_t e = p;
    while (e < n && text[e] >= '0' && text[e] <= '9') ++e;
    const size_t len = e - p;
    if (len < 8 || len > 12) return false;
    for (size_t i = p; i < e - 4; ++i) year = year * 10 + (text[i] - '0');
    if (negative) year = -year;
    digits(text + e - 4, 2, &month);
    digits(text + e - 2, 2, &day);
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
    haveDate = true;
    p = e;
  }
  int64_t ticks = 0;
  bool haveTime = false;
  if (p < n && text[p] == 'T') {
    ++p;
    int hh, mm, ss, cc = 0;
    if (n - p < 6 || !digits(text + p, 2, &hh) || !digits(text + p + 2, 2, &mm) ||
        !digits(text + p + 4, 2, &ss))
      return false;
    if (hh > 23 || mm > 59 || ss > 59) return false;
    p += 6;
    if (p < n && text[p] == ',') {
      if (n - p < 3 || !digits(text + p + 1, 2, &cc)) return false;
      p += 3;
    }
    ticks = int64_t(hh) * 360000 + mm * 6000 + ss * 100 + cc;
    haveTime = true;
    if (p < n) {
      int64_t offsetMinutes = 0;
      if (text[p] == 'Z') {
        ++p;
      } else if (text[p] == '+' || text[p] == '-') {
        const int sign = text[p] == '-' ? -1 : 1;
        ++p;
        int zh, zm = 0;
        if (n - p < 2 || !digits(text + p, 2, &zh) || zh > 23) return false;
        p += 2;
        if (n - p >= 2) {
          if (!digits(text + p, 2, &zm) || zm > 59) return false;
          p += 2;
        }
        offsetMinutes = sign * (zh * 60 + zm);
      } else {
        return false;
      }
      ticks -= offsetMinutes * 6000;  // local minus offset is UTC
    }
  }
  if (p != n || (!haveDate && !haveTime)) return false;
  if (!haveTime) {
    *out = dateOnly(year, month, day);
    return true;
  }
  if (!haveDate) {
    // A time of day alone wraps around midnight when the zone moves it.
    ticks = ticks - floorDiv(ticks, kTicksPerDay) * kTicksPerDay;
    out->Innards[0] = uint32_t(ticks);
    out->Innards[1] = kNoDate;
    return true;
  }
  const int64_t jd = daysFromCivil(year, month, day) + kUnixEpochJulianDay +
                     floorDiv(ticks, kTicksPerDay);
  if (jd < 0 || jd > kMaxJulianDay) return false;
  *out = fromDaysTicks(daysFromCivil(year, month, day), ticks);
  return true;
}

std::string NnTimeToDxl(const tagTIMEDATE& td) {
  const bool noDate = isTimeOnly(td), noTime = isDateOnly(td);
  if (noDate && noTime) return {};
  char out[64];
  int n = 0;
  if (!noDate) {
    int64_t y;
    int m, d;
    civilFromDays(int64_t(td.Innards[1] & kDayMask) - kUnixEpochJulianDay, &y, &m, &d);
    n = std::snprintf(out, sizeof out, "%s%04lld%02d%02d", y < 0 ? "-" : "",
                      (long long)(y < 0 ? -y : y), m, d);
  }
  if (!noTime) {
    uint32_t t = td.Innards[0];
    if (t >= kTicksPerDay) t = kTicksPerDay - 1;
    const uint32_t s = t / 100;
    n += std::snprintf(out + n, sizeof out - size_t(n), "T%02u%02u%02u,%02u%s", s / 3600,
                       (s / 60) % 60, s % 60, t % 100, noDate ? "" : "+00");
  }
  return std::string(out, size_t(n));
}
