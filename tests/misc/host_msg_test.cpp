// Message catalogue: golden frames written field by field (hex groups) or built
// from the field offsets of each message, the link's own known vectors, round
// trips and widening rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "misc/host_msg.h"
#include "misc/pack.h"

namespace {

using Bytes = std::vector<U08>;

// A frame of `len` bytes with sync bytes and type, payload zero.
Bytes blank(int type, int len) {
  Bytes b(static_cast<std::size_t>(len), 0);
  b[0] = 0x4A;
  b[1] = 0x58;
  b[2] = static_cast<U08>(type);
  return b;
}

// Store the low n bytes of v big-endian at offset off.
void put(Bytes& b, int off, U64 v, int n) {
  for (int i = 0; i < n; ++i) b[static_cast<std::size_t>(off + i)] = static_cast<U08>(v >> (8 * (n - 1 - i)));
}

// Bytes from hex digits; blanks between fields are ignored.
Bytes hex(const std::string& h) {
  Bytes b;
  std::string digits;
  for (char c : h)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    b.push_back(static_cast<U08>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return b;
}

ASIC_CHAN_MEAS_T sample_chan() {
  ASIC_CHAN_MEAS_T m{};
  m.gnss_type = 1;
  m.k_num = -7;
  m.prn = 23;
  m.state = 6;
  m.loop_gain_mode = -2;
  m.peak_tap_loc = 0xA5;
  m.bitcnt = 0x01020304;
  m.acc_power = 0xF1F2F3F4;
  m.cn_count = -300;
  m.cn_div = 5;
  m.cn_shift = -3;
  m.cn_integ = 0x1234;
  m.nsc = 0xEE;
  m.track_issue = 9;
  m.unlock_count = -1;
  m.carrier_phase = 0x7FFF;
  m.acc_carrier_cycle = -123456789;
  m.acc_carrier_cycle_count = 0x89ABCDEF;
  m.code_phase_reg = 0x11223344;
  m.code_phase_reg2 = 0x55667788;
  m.dop_freq = -4000;
  m.ch_noise_power = 0xCAFEBABE;
  m.unlock_status = 0x0000FFFF;
  m.debug_msg = 0xDEADBEEF;
  for (int i = 0; i < MSG_CARRIER_ARY_N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    m.start_carrier_phase_ary[k] = static_cast<S16>(-100 * i - 1);
    m.acc_carrier_cycle_ary[k] = static_cast<S16>(1000 + i);
    m.acc_carrier_cycle_count_ary[k] = static_cast<U08>(200 + i);
    m.carrier_phase_no_good_count_ary[k] = static_cast<U08>(i);
  }
  m.carrier_phase_ary_count = 7;
  m.end_carrier_phase = 0xBEEF;
  return m;
}

// One message of the catalogue: its packer on fixed values, the exact frame
// expected, and an unpack-then-pack of that frame (which must give it back).
struct Golden {
  std::string name;
  std::function<int(U08*)> pack_fn;
  Bytes expected;
  std::function<int(const U08*, U08*)> repack_fn;  // unpack the first buffer, pack into the second
};

void PrintTo(const Golden& g, std::ostream* os) { *os << g.name; }

// Four-byte search-state sets: byte f of set s of state k is k * stride + 4 * s + f.
template <typename T>
void fill_sets(T* st, int n_sets, int stride) {
  for (int k = 0; k < 8; ++k)
    for (int s = 0; s < n_sets; ++s) {
      const U08 base = static_cast<U08>(k * stride + s * 4);
      st[k].set[static_cast<std::size_t>(s)] = {base, static_cast<U08>(base + 1), static_cast<U08>(base + 2),
                                                static_cast<U08>(base + 3)};
    }
}

// A stored field as a packer takes it: an array (or one struct) by address, a
// plain value by value.
template <typename P, typename A>
auto field(A& x) {
  if constexpr (std::is_pointer_v<P>)
    return x.data();
  else
    return x[0];
}

// Unpacks into fields of the unpacker's own types (room for N entries each),
// checks the unpacker's length, and packs them again.
template <std::size_t N, typename... U, typename... P>
std::function<int(const U08*, U08*)> repack(int (*unpack)(const U08*, U*...), int (*pack)(U08*, P...)) {
  return [unpack, pack](const U08* a, U08* b) {
    std::tuple<std::array<U, N>...> v{};
    const int n = std::apply([&](auto&... x) { return unpack(a, x.data()...); }, v);
    EXPECT_EQ(n, std::apply([&](auto&... x) { return pack(b, field<P>(x)...); }, v));
    return n;
  };
}

// A message of plain fields: packed from `fields`, its frame `frame_hex`, and
// unpacked again into exactly the same fields (signs included).
template <typename... U, typename... P>
Golden plain(const std::string& name, int (*pack)(U08*, P...), int (*unpack)(const U08*, U*...),
             const std::string& frame_hex, std::tuple<U...> fields) {
  return {name, [pack, fields](U08* b) { return std::apply([&](const U&... x) { return pack(b, x...); }, fields); },
          hex(frame_hex),
          [pack, unpack, fields](const U08* a, U08* b) {
            std::tuple<U...> v{};
            const int n = std::apply([&](U&... x) { return unpack(a, &x...); }, v);
            EXPECT_EQ(v, fields);
            EXPECT_EQ(n, std::apply([&](const U&... x) { return pack(b, x...); }, v));
            return n;
          }};
}

std::vector<Golden> golden_cases() {
  std::vector<Golden> v;
  // Vectors known from the link's own documentation.
  v.push_back(plain("pse_clock_minus_2", pack_msg_pse_set_clock_offset, unpack_msg_pse_set_clock_offset,
                    "4A580A FFFFFFFE", {-2}));
  v.push_back(
      plain("drop_channel_3_17_2", pack_msg_drop_channel, unpack_msg_drop_channel, "4A5812 03 11 02", {3, 17, 2}));
  v.push_back(plain("rtc_1_5_1000", pack_msg_rtc, unpack_msg_rtc, "4A580E 0001 00000005 000003E8", {1, 5, 1000}));
  v.push_back(plain("hostbase_init", pack_msg_hostbase_init, unpack_msg_hostbase_init, "4A580F", {}));

  // Messages without payload.
  v.push_back(plain("empty_2", pack_msg_pse_init, unpack_msg_pse_init, "4A5802", {}));
  v.push_back(plain("empty_5", pack_msg_pse_enable_all, unpack_msg_pse_enable_all, "4A5805", {}));
  v.push_back(plain("empty_6", pack_msg_pse_disable_all, unpack_msg_pse_disable_all, "4A5806", {}));
  v.push_back(plain("empty_12", pack_msg_asic_init, unpack_msg_asic_init, "4A580C", {}));
  v.push_back(plain("empty_16", pack_msg_hostbase_stop, unpack_msg_hostbase_stop, "4A5810", {}));
  v.push_back(plain("empty_30", pack_msg_reset_noise_power, unpack_msg_reset_noise_power, "4A581E", {}));
  v.push_back(plain("empty_36", pack_msg_glo_pse_init, unpack_msg_glo_pse_init, "4A5824", {}));
  v.push_back(plain("empty_41", pack_msg_glo_pse_enable_all, unpack_msg_glo_pse_enable_all, "4A5829", {}));
  v.push_back(plain("empty_42", pack_msg_glo_pse_disable_all, unpack_msg_glo_pse_disable_all, "4A582A", {}));
  v.push_back(plain("empty_47", pack_msg_glo_asic_init, unpack_msg_glo_asic_init, "4A582F", {}));

  v.push_back({"gtc",
               [](U08* b) {
                 const GTC_RD_T g{0x01020304, 0x05060708, 0x090A0B0C, -5};
                 const ASIC_READ_RTC_T r{0xA0A1A2A3, 0xB0B1B2B3, 0xC0C1C2C3};
                 return pack_msg_gtc(b, &g, -2, 1, 2500000, -77, &r);
               },
               hex("4A5800 01020304 05060708 090A0B0C FFFFFFFB FFFE 01 002625A0 FFFFFFB3 A0A1A2A3 B0B1B2B3 C0C1C2C3"),
               repack<1>(unpack_msg_gtc, pack_msg_gtc)});
  v.push_back({"chan",
               [](U08* b) {
                 const ASIC_CHAN_MEAS_T m = sample_chan();
                 return pack_msg_chan(b, 19, &m);
               },
               hex("4A5801 13 01 F9 17 06 FE A5 01020304 F1F2F3F4 FED4 05 FD 1234 EE 09 FFFF 7FFF F8A432EB 89ABCDEF "
                   "11223344 55667788 FFFFF060 CAFEBABE 0000FFFF DEADBEEF"),
               repack<1>(unpack_msg_chan, pack_msg_chan)});
  {  // CHAN_CARRIER
    Bytes e = blank(62, 67);
    put(e, 3, 4, 1);
    put(e, 4, 7, 1);
    put(e, 5, 0xBEEF, 2);
    for (int i = 0; i < 10; ++i) {
      put(e, 7 + 6 * i, static_cast<U16>(-100 * i - 1), 2);
      put(e, 9 + 6 * i, static_cast<U16>(1000 + i), 2);
      put(e, 11 + 6 * i, static_cast<U08>(200 + i), 1);
      put(e, 12 + 6 * i, static_cast<U08>(i), 1);
    }
    v.push_back({"chan_carrier",
                 [](U08* b) {
                   const ASIC_CHAN_MEAS_T m = sample_chan();
                   return pack_msg_chan_carrier(b, 4, &m);
                 },
                 e, repack<1>(unpack_msg_chan_carrier, pack_msg_chan_carrier)});
  }
  {  // GTC_CLOCK_COUNTS
    Bytes e = blank(63, 64);
    put(e, 3, 3, 1);
    for (int i = 0; i < 10; ++i) {
      put(e, 4 + 6 * i, 0x10000000u + static_cast<U32>(i), 4);
      put(e, 8 + 6 * i, static_cast<U16>(900 + i), 2);
    }
    v.push_back({"gtc_clock_counts",
                 [](U08* b) {
                   U32 c[10];
                   U16 s[10];
                   for (int i = 0; i < 10; ++i) {
                     c[i] = 0x10000000u + static_cast<U32>(i);
                     s[i] = static_cast<U16>(900 + i);
                   }
                   return pack_msg_gtc_clock_counts(b, 3, c, s);
                 },
                 e, repack<10>(unpack_msg_gtc_clock_counts, pack_msg_gtc_clock_counts)});
  }
  v.push_back(plain("databits", pack_msg_get_databits, unpack_msg_get_databits,
                    "4A580D 05 02 28 3FFFFFFF 80000001 0001E240 07", {5, 2, 40, 0x3FFFFFFF, 0x80000001, 123456, 7}));
  v.push_back({"pse_param",
               [](U08* b) {
                 const PSE_PARAM_T p{11, 12, 13, 14, 0x0102, 500};
                 return pack_msg_pse_set_signal_mode_param(b, 2, &p);
               },
               hex("4A5803 02 0B 0C 0D 0E 0102 01F4"),
               repack<1>(unpack_msg_pse_set_signal_mode_param, pack_msg_pse_set_signal_mode_param)});
  v.push_back({"glo_pse_param",
               [](U08* b) {
                 const GLO_PSE_PARAM_T p{11, 12, 13, 14, 0x0102, 500};
                 return pack_msg_glo_pse_set_signal_mode_param(b, 2, &p);
               },
               hex("4A5825 02 0B 0C 0D 0E 0102 01F4"),
               repack<1>(unpack_msg_glo_pse_set_signal_mode_param, pack_msg_glo_pse_set_signal_mode_param)});
  {  // PSE_SET: 8 states of 14 bytes from offset 5
    Bytes e = blank(4, 117);
    put(e, 3, 1, 1);
    put(e, 4, 3, 1);
    for (int k = 0; k < 8; ++k) {
      for (int f = 0; f < 12; ++f) put(e, 5 + 14 * k + f, static_cast<U08>(k * 16 + f), 1);
      put(e, 5 + 14 * k + 12, static_cast<U08>(k % 4), 1);
      put(e, 5 + 14 * k + 13, static_cast<U08>(k % 3), 1);
    }
    v.push_back({"pse_set",
                 [](U08* b) {
                   PSE_STATE_T st[8]{};
                   fill_sets(st, 3, 16);
                   for (int k = 0; k < 8; ++k) {
                     st[k].nsets = static_cast<S16>(k % 4);
                     st[k].primary_set_ndx = static_cast<S16>(k % 3);
                   }
                   return pack_msg_pse_set_search_states_array(b, 1, 3, st);
                 },
                 e, repack<8>(unpack_msg_pse_set_search_states_array, pack_msg_pse_set_search_states_array)});
  }
  {  // GLO_PSE_SET: 8 states of 10 bytes from offset 5
    Bytes e = blank(40, 85);
    put(e, 3, 0xFF, 1);
    put(e, 4, 8, 1);
    for (int k = 0; k < 8; ++k) {
      for (int f = 0; f < 8; ++f) put(e, 5 + 10 * k + f, static_cast<U08>(k * 8 + f), 1);
      put(e, 5 + 10 * k + 8, 2, 1);
      put(e, 5 + 10 * k + 9, 1, 1);
    }
    v.push_back({"glo_pse_set",
                 [](U08* b) {
                   GLO_PSE_STATE_T st[8]{};
                   fill_sets(st, 2, 8);
                   for (auto& s : st) {
                     s.nsets = 2;
                     s.primary_set_ndx = 1;
                   }
                   return pack_msg_glo_pse_set_search_states_array(b, -1, 8, st);
                 },
                 e, repack<8>(unpack_msg_glo_pse_set_search_states_array, pack_msg_glo_pse_set_search_states_array)});
  }
  {  // PSE_SVDOPP with num 3: all 20 entries from the caller's array
    Bytes e = blank(9, 64);
    put(e, 3, 3, 1);
    for (int i = 0; i < 20; ++i) {
      put(e, 4 + 3 * i, static_cast<U08>(i + 1), 1);
      put(e, 5 + 3 * i, static_cast<U16>(-50 * i), 2);
    }
    v.push_back({"pse_svdopp_num3",
                 [](U08* b) {
                   PSE_PRN_DOPP_T d[20];
                   for (int i = 0; i < 20; ++i) d[i] = {static_cast<S16>(i + 1), static_cast<S16>(-50 * i)};
                   return pack_msg_pse_set_sv_doppler(b, 3, d);
                 },
                 e, repack<20>(unpack_msg_pse_set_sv_doppler, pack_msg_pse_set_sv_doppler)});
  }
  {  // GLO_PSE_SVDOPP: 14 entries
    Bytes e = blank(45, 46);
    put(e, 3, 14, 1);
    for (int i = 0; i < 14; ++i) {
      put(e, 4 + 3 * i, static_cast<U08>(i - 7), 1);
      put(e, 5 + 3 * i, static_cast<U16>(100 * i), 2);
    }
    v.push_back({"glo_pse_svdopp",
                 [](U08* b) {
                   GLO_PSE_KN_DOPP_T d[14];
                   for (int i = 0; i < 14; ++i) d[i] = {static_cast<S16>(i - 7), static_cast<S16>(100 * i)};
                   return pack_msg_glo_pse_set_sv_doppler(b, 14, d);
                 },
                 e, repack<14>(unpack_msg_glo_pse_set_sv_doppler, pack_msg_glo_pse_set_sv_doppler)});
  }
  {  // weak arrays: PSE (11), GLO (61) as ccs; BD2 (65) as ccss
    Bytes e = blank(11, 36);
    put(e, 3, 2, 1);
    for (int i = 0; i < 8; ++i) {
      put(e, 4 + 4 * i, static_cast<U08>(i + 3), 1);
      put(e, 5 + 4 * i, static_cast<U08>(-i), 1);
      put(e, 6 + 4 * i, static_cast<U16>(-1000 + i), 2);
    }
    v.push_back({"pse_weak",
                 [](U08* b) {
                   PSE_WEAK_SEARCH_T w[8];
                   for (int i = 0; i < 8; ++i)
                     w[i] = {static_cast<S16>(i + 3), static_cast<S16>(-i), static_cast<S16>(-1000 + i)};
                   return pack_msg_pse_set_weak_array(b, 2, w);
                 },
                 e, repack<8>(unpack_msg_pse_set_weak_array, pack_msg_pse_set_weak_array)});
    e[2] = 61;
    v.push_back({"glo_pse_weak",
                 [](U08* b) {
                   GLO_PSE_WEAK_SEARCH_T w[8];
                   for (int i = 0; i < 8; ++i)
                     w[i] = {static_cast<S16>(i + 3), static_cast<S16>(-i), static_cast<S16>(-1000 + i)};
                   return pack_msg_glo_pse_set_weak_array(b, 2, w);
                 },
                 e, repack<8>(unpack_msg_glo_pse_set_weak_array, pack_msg_glo_pse_set_weak_array)});
    e = blank(65, 52);
    put(e, 3, 8, 1);
    for (int i = 0; i < 8; ++i) {
      put(e, 4 + 6 * i, static_cast<U08>(i + 1), 1);
      put(e, 5 + 6 * i, static_cast<U08>(i), 1);
      put(e, 6 + 6 * i, static_cast<U16>(-i), 2);
      put(e, 8 + 6 * i, static_cast<U16>(60000 + i), 2);
    }
    v.push_back(
        {"bd2_pse_weak",
         [](U08* b) {
           BD2_PSE_WEAK_SEARCH_T w[8];
           for (int i = 0; i < 8; ++i)
             w[i] = {static_cast<S16>(i + 1), static_cast<S16>(i), static_cast<S16>(-i), static_cast<U16>(60000 + i)};
           return pack_msg_bd2_pse_set_weak_array(b, 8, w);
         },
         e, repack<8>(unpack_msg_bd2_pse_set_weak_array, pack_msg_bd2_pse_set_weak_array)});
  }
  {  // ASIC_SET_TR: 12 x cl
    Bytes e = blank(31, 64);
    put(e, 3, 12, 1);
    for (int i = 0; i < 12; ++i) {
      put(e, 4 + 5 * i, static_cast<U08>(i + 1), 1);
      put(e, 5 + 5 * i, static_cast<U32>(-70000 * i), 4);
    }
    v.push_back({"set_tr",
                 [](U08* b) {
                   ASIC_TR_T t[12];
                   for (int i = 0; i < 12; ++i) t[i] = {static_cast<S16>(i + 1), -70000 * i};
                   return pack_msg_tr(b, 12, t);
                 },
                 e, repack<12>(unpack_msg_tr, pack_msg_tr)});
  }
  {  // ASIC_PREDICT_MEAS: head, then 20 entries of 16 bytes from offset 9
    Bytes e = blank(17, 329);
    put(e, 3, 2, 1);
    put(e, 4, 345600, 4);
    put(e, 8, 1, 1);
    for (int k = 0; k < 20; ++k) {
      const int o = 9 + 16 * k;
      put(e, o, static_cast<U08>(k + 1), 1);
      put(e, o + 1, static_cast<U16>(-k), 2);
      put(e, o + 3, static_cast<U32>(1023000 + k), 4);
      put(e, o + 7, static_cast<U32>(-k * 1000), 4);
      put(e, o + 11, static_cast<U32>(-2500 + k), 4);
      put(e, o + 15, static_cast<U08>(k & 1), 1);
    }
    v.push_back({"predict_meas",
                 [](U08* b) {
                   ASIC_PREDICTED_MEAS_T p[20];
                   for (int k = 0; k < 20; ++k)
                     p[k] = {static_cast<S16>(k + 1), static_cast<S16>(-k), 1023000 + k, -k * 1000, -2500 + k,
                             static_cast<S16>(k & 1)};
                   return pack_msg_predict_meas(b, 2, 345600, p, 1);
                 },
                 e, repack<20>(unpack_msg_predict_meas, pack_msg_predict_meas)});
  }
  v.push_back(plain("glo_predict_meas", pack_msg_glo_predict_meas, unpack_msg_glo_predict_meas, "4A5827 04 00054600 00",
                    {4, 0x00054600, 0}));
  v.push_back(plain("glo_str_start", pack_msg_set_string_start_bitcnt, unpack_msg_set_string_start_bitcnt,
                    "4A5826 11 FFFFFFF7 03", {17, -9, 3}));
  v.push_back({"adjust_rtc",
               [](U08* b) {
                 const ASIC_RTC_ADJ_T a{32767, 2300, 604799, 0xFFFFFFF0, 0x12345678, 0xAAAA};
                 return pack_msg_adjust_rtc(b, &a);
               },
               hex("4A5813 7FFF 08FC 00093A7F FFFFFFF0"), repack<1>(unpack_msg_adjust_rtc, pack_msg_adjust_rtc)});
  v.push_back(plain("hot_start", pack_msg_set_hot_start_predict_time, unpack_msg_set_hot_start_predict_time,
                    "4A5838 0005464E 03E7 3FEF FFFFFFFF 7D00 0001", {345678, 999, 16367, -1, 32000, 1}));
  v.push_back(plain("set_1pps", pack_msg_set_1pps, unpack_msg_set_1pps, "4A5819 01 00F9C033 FFFFFFFE",
                    {1, 16367667, 0xFFFFFFFE}));
  v.push_back(plain("glo_set_1pps", pack_msg_glo_set_1pps, unpack_msg_glo_set_1pps, "4A5834 01 00F9C033 FFFFFFFE",
                    {1, 16367667, 0xFFFFFFFE}));
  v.push_back(plain("pse_status", pack_msg_pse_status, unpack_msg_pse_status, "4A581A 01 02 FF 04 80 06 80000001",
                    {1, 2, -1, 4, -128, 6, 0x80000001}));
  v.push_back(plain("glo_pse_status", pack_msg_glo_pse_status, unpack_msg_glo_pse_status,
                    "4A5833 01 02 FF 04 80 06 80000001", {1, 2, -1, 4, -128, 6, 0x80000001}));
  v.push_back(plain("weak_bs_flag", pack_msg_asic_weak_bs_flag, unpack_msg_asic_weak_bs_flag, "4A581B 00000005", {5}));
  v.push_back(plain("cnr_status", pack_msg_pse_update_tm_cnr_status, unpack_msg_pse_update_tm_cnr_status,
                    "4A581C 01 02 03 04", {1, 2, 3, 4}));
  v.push_back(
      plain("shift_msc", pack_msg_ch_shift_msc, unpack_msg_ch_shift_msc, "4A5818 0B 17 02 FF", {11, 23, 2, -1}));
  v.push_back(plain("glo_shift_msc", pack_msg_glo_ch_shift_msc, unpack_msg_glo_ch_shift_msc, "4A5836 0B F9 02 FE",
                    {11, -7, 2, -2}));
  v.push_back(plain("tm_shift_tap", pack_msg_command_tm_shift_tap, unpack_msg_command_tm_shift_tap, "4A5837 13 01 FD",
                    {19, 1, -3}));
  v.push_back(plain("clock_46", pack_msg_glo_pse_set_clock_offset, unpack_msg_glo_pse_set_clock_offset,
                    "4A582E 7FFFFFFF", {0x7FFFFFFF}));
  v.push_back(plain("clock_64", pack_msg_pse_bd2_set_clock_offset, unpack_msg_bd2_pse_set_clock_offset,
                    "4A5840 7FFFFFFF", {0x7FFFFFFF}));
  // One-byte commands: type, unpacker, packer, value, expected byte.
  using U1 = int (*)(const U08*, S16*);
  using P1 = int (*)(U08*, S16);
  const std::tuple<int, U1, P1, S16, U08> ones[] = {
      {7, unpack_msg_pse_enable, pack_msg_pse_enable, 3, 3},
      {8, unpack_msg_pse_disable, pack_msg_pse_disable, -1, 0xFF},
      {43, unpack_msg_glo_pse_enable, pack_msg_glo_pse_enable, 2, 2},
      {44, unpack_msg_glo_pse_disable, pack_msg_glo_pse_disable, 5, 5},
      {20, unpack_msg_set_small_loop_gain, pack_msg_set_small_loop_gain, 19, 19},
      {21, unpack_msg_pse_rcv_is_static, pack_msg_pse_rcv_is_static, 1, 1},
      {22, unpack_msg_pse_pause, pack_msg_pse_pause, 1, 1},
      {23, unpack_msg_skip_10ms_integ, pack_msg_skip_10ms_integ, 0x101,
       1},  // an S16 sent as one byte keeps its low byte
      {29, unpack_msg_pse_need_waas_search, pack_msg_pse_need_waas_search, 2, 2},
      {48, unpack_msg_glo_pse_pause, pack_msg_glo_pse_pause, 0, 0},
  };
  for (const auto& [type, u, p, value, byte] : ones) {
    Bytes e = blank(type, 4);
    e[3] = byte;
    v.push_back({"one_byte_" + std::to_string(type), [p, value](U08* b) { return p(b, value); }, e,
                 [u, p](const U08* a, U08* b) {
                   S16 x;
                   u(a, &x);
                   return p(b, x);
                 }});
  }
  v.push_back(
      plain("one_byte_49", pack_msg_glo_pse_change_145_param, unpack_msg_glo_pse_change_145_param, "4A5831 FE", {-2}));
  return v;
}

class GoldenFrames : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenFrames, PackerWritesExactBytesAndUnpackThenPackGivesThemBack) {
  const Golden& g = GetParam();
  U08 a[800] = {}, b[800] = {};
  const int n = g.pack_fn(a);
  EXPECT_EQ(n, static_cast<int>(g.expected.size()));
  EXPECT_EQ(Bytes(a, a + std::max(n, 0)), g.expected);
  const HOST_MSG_INFO_T* info = HOST_MSG_find(g.expected[2]);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->len, n) << info->name;
  EXPECT_EQ(g.repack_fn(a, b), n);
  EXPECT_EQ(Bytes(a, a + std::max(n, 0)), Bytes(b, b + std::max(n, 0)));
}

INSTANTIATE_TEST_SUITE_P(Catalogue, GoldenFrames, ::testing::ValuesIn(golden_cases()),
                         [](const ::testing::TestParamInfo<Golden>& i) { return i.param.name; });

TEST(HostMsg, EveryTypeHasAGoldenFrame) {
  std::vector<int> seen(66, 0);
  for (const Golden& g : golden_cases()) seen[g.expected[2]] = 1;
  for (const HOST_MSG_INFO_T& m : HOST_MSG_TABLE) {
    if (m.dir == MSG_DIR_T2H && (m.type == MSG_TYPE_DEADRECKONING || m.type == MSG_TYPE_DR_TEMPERATURE)) continue;
    EXPECT_TRUE(seen[m.type]) << m.name;
  }
}

TEST(HostMsg, CatalogueTableIsConsistent) {
  for (int t = -1; t <= 70; ++t) {
    const HOST_MSG_INFO_T* m = HOST_MSG_find(t);
    const bool unused = t < 0 || t > 65 || t == 34 || t == 35 || t == 50 || t == 53 || (t >= 57 && t <= 60);
    EXPECT_EQ(m == nullptr, unused) << t;
    if (m != nullptr) {
      EXPECT_EQ(m->type, t);
    }
  }
}

// (the checksummed HOSTBASE_INIT and RTC frames are known vectors of the pack and dispatch tests)
TEST(HostMsg, KnownRtcVector) {
  const U08 rtc[] = {0x4A, 0x58, 0x0E, 0x07, 0xD0, 0x00, 0x01, 0x51, 0x80, 0x00, 0x00, 0x00, 0x00};
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 1;
  EXPECT_EQ(unpack_msg_rtc(rtc, &wn, &sec, &subsec), 13);
  EXPECT_EQ(wn, 2000);
  EXPECT_EQ(sec, 86400);
  EXPECT_EQ(subsec, 0u);
}

// One-byte fields widened on reception.
TEST(HostMsg, WideningOfOneByteFields) {
  ASIC_CHAN_MEAS_T m = sample_chan();
  U08 buf[80];
  S16 ch = 0;
  pack_msg_chan(buf, 0xC8, &m);
  ASIC_CHAN_MEAS_T got{};
  unpack_msg_chan(buf, &ch, &got);
  EXPECT_EQ(ch, 200);
  EXPECT_EQ(got.k_num, -7);
  EXPECT_EQ(got.loop_gain_mode, -2);

  m.carrier_phase_ary_count = 0xFF;
  pack_msg_chan_carrier(buf, 0xC8, &m);
  unpack_msg_chan_carrier(buf, &ch, &got);
  EXPECT_EQ(ch, 200);
  EXPECT_EQ(static_cast<S16>(got.carrier_phase_ary_count), -1);
  EXPECT_EQ(got.carrier_phase_ary_count, 0xFFFF);

  pack_msg_get_databits(buf, 0xC8, 0xC8, 0xC8, 1, 2, 3, 0xFF);
  S16 gnss = 0, prn = 0;
  U32 d = 0, di = 0, bc = 0;
  U08 iss = 0;
  unpack_msg_get_databits(buf, &ch, &gnss, &prn, &d, &di, &bc, &iss);
  EXPECT_EQ(ch, 200);
  EXPECT_EQ(gnss, 200);
  EXPECT_EQ(prn, 200);
  EXPECT_EQ(iss, 0xFF);

  S16 pse = 0;
  pack_msg_pse_enable(buf, 0xFE);
  unpack_msg_pse_enable(buf, &pse);
  EXPECT_EQ(pse, -2);
  pack_msg_glo_pse_disable(buf, -3);
  unpack_msg_glo_pse_disable(buf, &pse);
  EXPECT_EQ(pse, -3);

  S16 cnt = 0;
  U32 clk[10];
  U16 sub[10];
  pack_msg_gtc_clock_counts(buf, 0xFF, clk, sub);
  unpack_msg_gtc_clock_counts(buf, &cnt, clk, sub);
  EXPECT_EQ(cnt, 255);  // a count is unsigned; the proxy limits it to 10

  GLO_PSE_KN_DOPP_T kn[14] = {{-7, 100}};
  pack_msg_glo_pse_set_sv_doppler(buf, 14, kn);
  kn[0] = {};
  unpack_msg_glo_pse_set_sv_doppler(buf, &cnt, kn);
  EXPECT_EQ(kn[0].kn, -7);
}

}  // namespace
