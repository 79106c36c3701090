// Loads the built Kestrune.dll by name, finds each export by its plain name,
// and checks that the callee removes exactly its argument block (stdcall).
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "tools/stack_probe.h"

namespace {

class KestruneDll : public testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryA("Kestrune.dll"); }
  static void TearDownTestSuite() {
    if (dll_) FreeLibrary(dll_);
    dll_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(dll_, nullptr) << "Kestrune.dll did not load"; }
  static const void* find(const char* name) {
    return reinterpret_cast<const void*>(GetProcAddress(dll_, name));
  }
  static HMODULE dll_;
};
HMODULE KestruneDll::dll_ = nullptr;

ArgBlock entry_args(double pa, double pb, int32_t ms, int32_t ga, double s,
                    double lv, int32_t d, double u, int32_t gb) {
  ArgBlock a;
  a.add(pa).add(pb).add(ms).add(ga).add(s).add(lv).add(d).add(u).add(gb);
  return a;
}

TEST_F(KestruneDll, EntryRulesRemove56Bytes) {
  struct {
    const char* name;
    int32_t answer;  // for the worked buy example
  } rules[] = {{"open_buy", 1}, {"open_sell", 0}};
  for (auto& r : rules) {
    const void* fn = find(r.name);
    ASSERT_NE(fn, nullptr) << r.name;
    ArgBlock args = entry_args(1.30020, 1.30000, 4, 1, -0.2, 1.3012, 10, 0.0001, 1);
    ASSERT_EQ(args.size(), 56u);
    StackCall c = call_measuring_esp(fn, args);
    EXPECT_EQ(c.removed, 56u) << r.name;
    EXPECT_EQ(static_cast<int32_t>(c.eax), r.answer) << r.name;
  }
}

TEST_F(KestruneDll, TradeTimeRemoves4Bytes) {
  const void* fn = find("trade_time");
  ASSERT_NE(fn, nullptr);
  struct {
    const char* what;
    uint32_t utc_time;
    int32_t answer;
  } cases[] = {
      {"Monday 2024-01-08 22:10:00", 1704751800u, 1},
      {"Sunday 2024-01-07 22:29:59", 1704666599u, 0},
      {"Sunday 2024-01-07 22:30:00", 1704666600u, 1},
      {"blackout Tuesday 2023-10-17 22:10:00", 1697580600u, 0},
      {"Tuesday 2040-01-03 22:10:00, above 2^31", 2209241400u, 1},
      {"Monday 2100-03-01 22:10:00", 4107622200u, 1},
      {"2^32 - 1", 4294967295u, 0},
  };
  for (auto& c : cases) {
    ArgBlock args;
    args.add(c.utc_time);
    ASSERT_EQ(args.size(), 4u);
    StackCall r = call_measuring_esp(fn, args);
    EXPECT_EQ(r.removed, 4u) << c.what;
    EXPECT_EQ(static_cast<int32_t>(r.eax), c.answer) << c.what;
  }
}

// use_server 0: the machine's clock only, so no network is touched.
TEST_F(KestruneDll, GetGmtOffsetRemoves12Bytes) {
  const void* fn = find("GetGmtOffset");
  ASSERT_NE(fn, nullptr);
  double offset_hours = 12345.0;
  // Hours ahead of this machine's UTC clock, with minutes of margin.
  const uint32_t wall_time = static_cast<uint32_t>(time(nullptr)) + 3 * 3600 + 300;
  ArgBlock args;
  args.add(wall_time).add(int32_t{0}).add(&offset_hours);
  ASSERT_EQ(args.size(), 12u);
  StackCall c = call_measuring_esp(fn, args);
  EXPECT_EQ(c.removed, 12u);
  EXPECT_EQ(static_cast<int32_t>(c.eax), 4);
  EXPECT_EQ(offset_hours, 3.0);
}

TEST_F(KestruneDll, DecoratedNamesAreNotExported) {
  for (const char* name : {"open_buy@56", "_open_buy@56", "open_sell@56",
                           "_open_sell@56", "trade_time@4", "_trade_time@4",
                           "GetGmtOffset@12", "_GetGmtOffset@12",
                           "DllMain", "DllMain@12"})
    EXPECT_EQ(find(name), nullptr) << name;
}

}  // namespace
