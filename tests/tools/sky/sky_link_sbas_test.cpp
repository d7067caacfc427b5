// The SBAS GEO of a sky on the link, open and closed loop: its channel report
// (GNSS type SBAS, the target's number prn - 82, a 2 ms symbol counter) and
// its 32-symbol data-bit reports read back frame by frame; the words, fed to
// the kernel's SBAS decoder with their symbol counts, lock and give the sky's
// type 9 messages bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <vector>

#include "kernel/src/sbas_decode.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"
#include "tools/sky/sky_sbas.h"
#include "tools/sky/sky_search.h"

namespace {

int frame_len(U08 type) {
  switch (type) {
    case MSG_TYPE_GTC:
      return MSG_LEN_GTC;
    case MSG_TYPE_CHAN:
      return MSG_LEN_CHAN;
    case MSG_TYPE_CHAN_CARRIER:
      return MSG_LEN_CHAN_CARRIER;
    case MSG_TYPE_GTC_CLOCK_COUNTS:
      return MSG_LEN_GTC_CLOCK_COUNTS;
    case MSG_TYPE_ASIC_GET_DATABITS:
      return MSG_LEN_ASIC_GET_DATABITS;
    case MSG_TYPE_PSE_STATUS:
      return MSG_LEN_PSE_STATUS;
    default:
      return -1;
  }
}

std::vector<std::array<U32, 8>> Seen;
void record(S16, const U32* block, S16) {
  std::array<U32, 8> b{};
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = block[i];
  Seen.push_back(b);
}

struct LoopCase {
  const char* name;
  int closed_loop;
};

const LoopCase LOOP_CASES[] = {{"open_loop", 0}, {"closed_loop", 1}};

TEST(SkyLinkSbas, GeoChannelAndSymbolWordsDecode) {
  for (const LoopCase& c : LOOP_CASES) {
    SCOPED_TRACE(c.name);
    static SKY_SCENARIO_T sc;  // the link keeps a pointer to it until the next start
    char why[256] = "";
    ASSERT_EQ(SKY_parse_scenario("start_week = 2400\nstart_tow = 300000\nduration = 40\nnsat = 8\nlat = 35.6\n"
                                 "lon = 139.7\nheight = 40\nsbas = 129 140\nsbas_symbol_errors = 0.02\n",
                                 &sc, why, sizeof why),
              1)
        << why;
    ASSERT_EQ(SKY_init(&sc), 1);
    ASSERT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source()), 1);
    SKY_LINK_set_closed_loop(c.closed_loop);
    SKY_SBAS_GEO_T g;
    ASSERT_EQ(SKY_sbas_geo(&sc, 0, &g), 1);
    SBAS_DBC_init();
    SBAS_BKC_install_callback_geos(record);
    Seen.clear();
    const S16 ndx = SBAS_DBC_new(1);
    std::vector<U08> buf(65536);
    int geo_reports = 0, words = 0, epochs = 0, geo_ch = -1;
    U32 last_count = 0;
    for (;;) {
      const int n = SKY_LINK_next_epoch(buf.data(), buf.size(), nullptr);
      ASSERT_GE(n, 0);
      if (n == 0) break;
      ++epochs;
      for (int i = 0; i < n;) {
        const U08* f = buf.data() + i;
        const int len = frame_len(f[2]);
        ASSERT_GT(len, 0) << "type " << static_cast<int>(f[2]);
        S16 ch = 0;
        if (f[2] == MSG_TYPE_CHAN) {
          ASIC_CHAN_MEAS_T m{};
          unpack_msg_chan(f, &ch, &m);
          if (m.gnss_type == GNSS_TYPE_SBAS) {
            EXPECT_EQ(m.prn, 129 - 82);
            if (geo_reports == 0) {
              EXPECT_EQ(epochs, 1) << "the GEO's channel comes at once";
            }
            geo_ch = ch;
            ++geo_reports;
          }
        } else if (f[2] == MSG_TYPE_ASIC_GET_DATABITS) {
          S16 type = 0, prn = 0;
          U32 bits = 0, info = 0, count = 0;
          U08 issue = 0;
          unpack_msg_get_databits(f, &ch, &type, &prn, &bits, &info, &count, &issue);
          if (type == GNSS_TYPE_SBAS) {
            EXPECT_EQ(ch, geo_ch);
            EXPECT_EQ(prn, 129 - 82);
            EXPECT_EQ(info, 32U);
            if (words > 0) {
              EXPECT_EQ(count, last_count + 32) << "word " << words;
            }
            last_count = count;
            SBAS_DBC_collect(ndx, ch, 129, issue, bits, static_cast<S32>(count));
            ++words;
          }
        }
        i += len + 1;
      }
    }
    EXPECT_EQ(geo_reports, epochs);
    EXPECT_GE(words, 38 * 500 / 32);  // from the bit-sync epoch on, 15.6 words a second
    S16 locked = 0;
    S32 bk = 0, m9 = 0;
    SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
    EXPECT_EQ(locked, 1);
    EXPECT_GE(bk, 30);
    ASSERT_GE(Seen.size(), 2U);
    for (const auto& b : Seen) {
      bool found = false;
      for (int64_t k = 2400LL * 604800 + 300000; k < 2400LL * 604800 + 300040 && !found; ++k) {
        std::array<U32, 8> m{};
        if (SKY_SBAS_message(g, k, m.data()) == 9) found = m == b;
      }
      EXPECT_TRUE(found);
    }
    std::printf("[ figures  ] %-12s %d epochs, GEO on channel %d, %d symbol words, %d messages passed, locked %d\n",
                c.name, epochs, geo_ch, words, bk, locked);
  }
  SKY_LINK_set_closed_loop(0);
}

}  // namespace
