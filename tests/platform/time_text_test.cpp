// Time values: text forms, buffer limits and DXL round trips.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nn/nn.h"

namespace {

std::string text(const tagTIMEDATE& td) {
  char buf[80];
  uint16_t len = 0;
  EXPECT_EQ(NnTimeToText(&td, buf, sizeof buf, &len), NN_OK);
  EXPECT_EQ(len, std::strlen(buf));
  return buf;
}

tagTIMEDATE dxl(const char* s) {
  tagTIMEDATE td{};
  EXPECT_TRUE(NnTimeFromDxl(s, &td)) << s;
  return td;
}

bool same(const tagTIMEDATE& a, const tagTIMEDATE& b) {
  return a.Innards[0] == b.Innards[0] && a.Innards[1] == b.Innards[1];
}

TEST(TimeText, KnownDayNumbersAndFormats) {
  const tagTIMEDATE t = NnTimeFromParts(2000, 1, 1, 12, 0, 0, 0);
  EXPECT_EQ(t.Innards[1], 2451545u);  // the Julian day of 2000-01-01
  EXPECT_EQ(t.Innards[0], 12u * 360000u);
  EXPECT_EQ(text(t), "2000-01-01 12:00:00");
  EXPECT_EQ(text(NnTimeFromParts(2024, 2, 29, 23, 59, 59, 99)), "2024-02-29 23:59:59");
  EXPECT_EQ(text(NnTimeFromParts(1970, 1, 1, 0, 0, 0, 0)), "1970-01-01 00:00:00");

  tagTIMEDATE dateOnly = t;
  dateOnly.Innards[0] = 0xFFFFFFFF;
  EXPECT_EQ(text(dateOnly), "2000-01-01");
  tagTIMEDATE timeOnly = t;
  timeOnly.Innards[1] = 0xFFFFFF;
  EXPECT_EQ(text(timeOnly), "12:00:00");

  // Flags in the high byte of the day word are not part of the date.
  tagTIMEDATE flagged = t;
  flagged.Innards[1] |= 0x80000000u;
  EXPECT_EQ(text(flagged), "2000-01-01 12:00:00");
}

TEST(TimeText, PartsCarryOver) {
  // Out-of-range parts carry into the next unit rather than producing nonsense.
  EXPECT_EQ(text(NnTimeFromParts(2023, 12, 31, 23, 59, 60, 0)), "2024-01-01 00:00:00");
  EXPECT_EQ(text(NnTimeFromParts(2023, 13, 1, 0, 0, 0, 0)), "2024-01-01 00:00:00");
  EXPECT_EQ(text(NnTimeFromParts(2023, 3, 0, 0, 0, 0, 0)), "2023-02-28 00:00:00");
  EXPECT_EQ(text(NnTimeFromParts(2023, 1, 1, -1, 0, 0, 0)), "2022-12-31 23:00:00");
}

TEST(TimeText, BufferTooSmall) {
  const tagTIMEDATE t = NnTimeFromParts(2021, 6, 7, 8, 9, 10, 0);
  char buf[32];
  uint16_t len = 99;
  // "2021-06-07 08:09:10" is 19 bytes: 20 fit with the NUL, 19 do not.
  EXPECT_EQ(NnTimeToText(&t, buf, 20, &len), NN_OK);
  EXPECT_EQ(len, 19);
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(NnTimeToText(&t, buf, 19, &len), NN_ERR_MEMORY);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[19], 'x');
  EXPECT_EQ(len, 0);
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(NnTimeToText(&t, buf, 0, &len), NN_ERR_MEMORY);
  EXPECT_EQ(buf[0], 'x');  // nothing written into a zero-size buffer
}

TEST(TimeText, Range) {
  const tagTIMEDATE a = NnTimeFromParts(2021, 6, 7, 8, 9, 10, 0);
  tagTIMEDATE b = NnTimeFromParts(2021, 6, 8, 0, 0, 0, 0);
  b.Innards[0] = 0xFFFFFFFF;
  char buf[163];
  uint16_t len = 0;
  ASSERT_EQ(NnTimeRangeToText(&a, &b, buf, sizeof buf, &len), NN_OK);
  EXPECT_STREQ(buf, "2021-06-07 08:09:10 - 2021-06-08");
  EXPECT_EQ(len, std::strlen(buf));
  char small[10];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(NnTimeRangeToText(&a, &b, small, 8, &len), NN_ERR_MEMORY);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(small[8], 'x');
}

TEST(TimeDxl, ZonesConvertToUtc) {
  EXPECT_EQ(text(dxl("20120830T110442,46+01")), "2012-08-30 10:04:42");
  EXPECT_EQ(dxl("20120830T110442,46+01").Innards[0] % 100, 46u);
  EXPECT_EQ(text(dxl("20060511T220630,13-04")), "2006-05-12 02:06:30");
  EXPECT_EQ(text(dxl("20200101T003000,00+0530")), "2019-12-31 19:00:00");
  EXPECT_EQ(text(dxl("20200101T003000Z")), "2020-01-01 00:30:00");
  EXPECT_EQ(text(dxl("20200101T003000")), "2020-01-01 00:30:00");
  EXPECT_EQ(text(dxl("20070102")), "2007-01-02");
  EXPECT_EQ(text(dxl("T103000,25")), "10:30:00");
  EXPECT_EQ(dxl("T103000,25").Innards[0], 10u * 360000u + 30u * 6000u + 25u);
  EXPECT_EQ(text(dxl("T003000,00+01")), "23:30:00");  // a time of day wraps
}

TEST(TimeDxl, Malformed) {
  tagTIMEDATE td{};
  for (const char* bad :
       {"", "2012", "20121301", "20120230", "20120830T", "20120830T2504", "20120830T250000",
        "20120830T110442,4", "20120830T110442,46+", "20120830T110442,46+1", "20120830T110442,46 ",
        "20120830T110442,46+01x", "T", "2012-08-30", "20120830X110442"}) {
    EXPECT_FALSE(NnTimeFromDxl(bad, &td)) << bad;
  }
  EXPECT_FALSE(NnTimeFromDxl(nullptr, &td));
}

TEST(TimeDxl, RoundTripExact) {
  const tagTIMEDATE samples[] = {
      NnTimeFromParts(2012, 8, 30, 11, 4, 42, 46),
      NnTimeFromParts(1999, 12, 31, 23, 59, 59, 99),
      NnTimeFromParts(1, 1, 1, 0, 0, 0, 1),
      {{0xFFFFFFFF, 2451545}},   // date only
      {{4321, 0xFFFFFF}},        // time only
      {{0, 0}},                  // the first day there is
      {{8639999, 0xFFFFFE}},     // the last day there is
  };
  for (const tagTIMEDATE& t : samples) {
    const std::string s = NnTimeToDxl(t);
    tagTIMEDATE back{};
    ASSERT_TRUE(NnTimeFromDxl(s.c_str(), &back)) << s;
    EXPECT_TRUE(same(back, t)) << s;
  }
  EXPECT_EQ(NnTimeToDxl(NnTimeFromParts(2012, 8, 30, 11, 4, 42, 46)), "20120830T110442,46+00");
  EXPECT_EQ(NnTimeToDxl({{0xFFFFFFFF, 2451545}}), "20000101");
}

TEST(TimeNow, IsPlausible) {
  const tagTIMEDATE now = NnTimeNow();
  EXPECT_LT(now.Innards[0], 8640000u);
  EXPECT_GT(now.Innards[1], NnTimeFromParts(2020, 1, 1, 0, 0, 0, 0).Innards[1]);
}

}  // namespace
