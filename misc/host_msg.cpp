#include "misc/host_msg.h"

#include <initializer_list>

#include "misc/dispatch.h"
#include "misc/pack.h"
#include "misc/talon_assert.h"

namespace {

// Field writer over a frame buffer: each call encodes one field with pack()
// and advances.
struct Wr {
  U08* b;
  int n = 0;
  void c(int v) { n += pack(b + n, "c", v); }
  void s(int v) { n += pack(b + n, "s", v); }
  void l(U32 v) { n += pack(b + n, "l", v); }
};

// Field reader over a received frame: each call decodes one field with unpack().
struct Rd {
  const U08* b;
  int n = 0;
  U08 c() {
    U08 v = 0;
    n += unpack(b + n, "c", &v);
    return v;
  }
  S16 cu() { return static_cast<S16>(c()); }                    // one byte widened without sign
  S16 cs() { return static_cast<S16>(static_cast<S08>(c())); }  // one byte widened with sign
  S08 c8() { return static_cast<S08>(c()); }
  U16 s() {
    U16 v = 0;
    n += unpack(b + n, "s", &v);
    return v;
  }
  S16 ss() { return static_cast<S16>(s()); }
  U32 l() {
    U32 v = 0;
    n += unpack(b + n, "l", &v);
    return v;
  }
  S32 ls() { return static_cast<S32>(l()); }
};

Wr start(U08* buf, int type) {
  Wr w{buf};
  w.c(DP_SYNC0);
  w.c(DP_SYNC1);
  w.c(type);
  return w;
}

// Reader positioned after sync bytes and type.
Rd body(const U08* buf) { return Rd{buf, 3}; }

int done(int n, int len) {
  talon_assert(n == len, "host message length does not match its type");
  return n;
}

int pack_empty(U08* buf, int type, int len) { return done(start(buf, type).n, len); }

int pack_c(U08* buf, int type, int len, int v) {
  Wr w = start(buf, type);
  w.c(v);
  return done(w.n, len);
}

int pack_l(U08* buf, int type, int len, U32 v) {
  Wr w = start(buf, type);
  w.l(v);
  return done(w.n, len);
}

int unpack_cu(const U08* buf, int len, S16* v) {
  Rd r = body(buf);
  *v = r.cu();
  return done(r.n, len);
}

int unpack_cs(const U08* buf, int len, S16* v) {
  Rd r = body(buf);
  *v = r.cs();
  return done(r.n, len);
}

int unpack_l(const U08* buf, int len, U32* v) {
  Rd r = body(buf);
  *v = r.l();
  return done(r.n, len);
}

int unpack_ls(const U08* buf, int len, S32* v) {
  Rd r = body(buf);
  *v = r.ls();
  return done(r.n, len);
}

template <typename P>
int pack_param(U08* buf, int type, int len, S16 mode, const P* p) {
  Wr w = start(buf, type);
  w.c(mode);
  w.c(p->div_sel1);
  w.c(p->div_sel2);
  w.c(p->thr);
  w.c(p->cohit);
  w.s(p->incohit);
  w.s(p->freq_step);
  return done(w.n, len);
}

template <typename P>
int unpack_param(const U08* buf, int len, S16* mode, P* p) {
  Rd r = body(buf);
  *mode = r.cu();
  p->div_sel1 = r.c();
  p->div_sel2 = r.c();
  p->thr = r.c();
  p->cohit = r.c();
  p->incohit = r.s();
  p->freq_step = r.s();
  return done(r.n, len);
}

template <typename S>
int pack_states(U08* buf, int type, int len, S08 mode, S16 nstates, const S* states) {
  Wr w = start(buf, type);
  w.c(mode);
  w.c(nstates);
  for (int k = 0; k < MSG_PSE_STATES_N; ++k) {
    for (const auto& set : states[k].set) {
      w.c(set.mode);
      w.c(set.strength);
      w.c(set.bins);
      w.c(set.npse_use);
    }
    w.c(states[k].nsets);
    w.c(states[k].primary_set_ndx);
  }
  return done(w.n, len);
}

template <typename S>
int unpack_states(const U08* buf, int len, S08* mode, S16* nstates, S* states) {
  Rd r = body(buf);
  *mode = r.c8();
  *nstates = r.cu();
  for (int k = 0; k < MSG_PSE_STATES_N; ++k) {
    for (auto& set : states[k].set) {
      set.mode = r.c();
      set.strength = r.c();
      set.bins = r.c();
      set.npse_use = r.c();
    }
    states[k].nsets = r.cu();
    states[k].primary_set_ndx = r.cu();
  }
  return done(r.n, len);
}

// {id, dopp} pairs as "cs" (PSE_SVDOPP, GLO_PSE_SVDOPP). The id is a GPS prn
// (unsigned) or a GLONASS frequency number (signed).
template <typename E, S16 E::*ID>
int pack_dopp(U08* buf, int type, int len, int count, S16 num, const E* e) {
  Wr w = start(buf, type);
  w.c(num);
  for (int i = 0; i < count; ++i) {
    w.c(e[i].*ID);
    w.s(e[i].dopp);
  }
  return done(w.n, len);
}

template <typename E, S16 E::*ID, bool SIGNED_ID>
int unpack_dopp(const U08* buf, int len, int count, S16* num, E* e) {
  Rd r = body(buf);
  *num = r.cu();
  for (int i = 0; i < count; ++i) {
    e[i].*ID = SIGNED_ID ? r.cs() : r.cu();
    e[i].dopp = r.ss();
  }
  return done(r.n, len);
}

// {id, dmsc, dopp} as "ccs" (PSE_WEAK_ARRAY, GLO_PSE_WEAK_ARRAY).
template <typename E, S16 E::*ID>
int pack_weak(U08* buf, int type, int len, S16 num, const E* e) {
  Wr w = start(buf, type);
  w.c(num);
  for (int i = 0; i < MSG_WEAK_ARRAY_N; ++i) {
    w.c(e[i].*ID);
    w.c(e[i].dmsc);
    w.s(e[i].dopp);
  }
  return done(w.n, len);
}

template <typename E, S16 E::*ID, bool SIGNED_ID>
int unpack_weak(const U08* buf, int len, S16* num, E* e) {
  Rd r = body(buf);
  *num = r.cu();
  for (int i = 0; i < MSG_WEAK_ARRAY_N; ++i) {
    e[i].*ID = SIGNED_ID ? r.cs() : r.cu();
    e[i].dmsc = r.cs();
    e[i].dopp = r.ss();
  }
  return done(r.n, len);
}

int pack_status(U08* buf, int type, int len, S08 mode, S08 state, S08 p0, S08 p1, S08 p2, S08 p3, U32 flag) {
  Wr w = start(buf, type);
  for (S08 v : {mode, state, p0, p1, p2, p3}) w.c(v);
  w.l(flag);
  return done(w.n, len);
}

int unpack_status(const U08* buf, int len, S08* mode, S08* state, S08* p0, S08* p1, S08* p2, S08* p3, U32* flag) {
  Rd r = body(buf);
  for (S08* p : {mode, state, p0, p1, p2, p3}) *p = r.c8();
  *flag = r.l();
  return done(r.n, len);
}

int pack_1pps(U08* buf, int type, int len, S16 enable_disable, U32 pps_offset, U32 pps_period) {
  Wr w = start(buf, type);
  w.c(enable_disable);
  w.l(pps_offset);
  w.l(pps_period);
  return done(w.n, len);
}

int unpack_1pps(const U08* buf, int len, S16* enable_disable, U32* pps_offset, U32* pps_period) {
  Rd r = body(buf);
  *enable_disable = r.cu();
  *pps_offset = r.l();
  *pps_period = r.l();
  return done(r.n, len);
}

int pack_shift(U08* buf, int type, int len, S16 ch_id, S16 id, U08 track_issue, S16 shift_count) {
  Wr w = start(buf, type);
  w.c(ch_id);
  w.c(id);
  w.c(track_issue);
  w.c(shift_count);
  return done(w.n, len);
}

}  // namespace

const HOST_MSG_INFO_T* HOST_MSG_find(int type) {
  for (const HOST_MSG_INFO_T& m : HOST_MSG_TABLE)
    if (m.type == type) return &m;
  return nullptr;
}

// --- Type 0, GTC -------------------------------------------------------------
int pack_msg_gtc(U08* buf, const GTC_RD_T* gtc_p, S16 gtc_shift_count, S16 has_updated_rtc, U32 noise_power,
                 S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock, const ASIC_READ_RTC_T* rtc_gtc_meas_p) {
  Wr w = start(buf, MSG_TYPE_GTC);
  w.l(gtc_p->SSUBSEC_DIV_SSUBSEC);
  w.l(gtc_p->WEEK_SUBSEC);
  w.l(gtc_p->INTSEL_SEC);
  w.l(static_cast<U32>(gtc_p->IF_FREQ));
  w.s(gtc_shift_count);
  w.c(has_updated_rtc);
  w.l(noise_power);
  w.l(static_cast<U32>(gtc_sync_to_gps_time_error_unit_is_gtc_clock));
  w.l(rtc_gtc_meas_p->record_rtc_sec);
  w.l(rtc_gtc_meas_p->record_rtc_wn_subsec);
  w.l(rtc_gtc_meas_p->record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock);
  return done(w.n, MSG_LEN_GTC);
}

int unpack_msg_gtc(const U08* buf, GTC_RD_T* gtc_p, S16* gtc_shift_count_p, S16* has_updated_rtc_p, U32* noise_power_p,
                   S32* gtc_sync_to_gps_time_error_unit_is_gtc_clock_p, ASIC_READ_RTC_T* rtc_gtc_meas_p) {
  Rd r = body(buf);
  gtc_p->SSUBSEC_DIV_SSUBSEC = r.l();
  gtc_p->WEEK_SUBSEC = r.l();
  gtc_p->INTSEL_SEC = r.l();
  gtc_p->IF_FREQ = r.ls();
  *gtc_shift_count_p = r.ss();
  *has_updated_rtc_p = r.cu();
  *noise_power_p = r.l();
  *gtc_sync_to_gps_time_error_unit_is_gtc_clock_p = r.ls();
  rtc_gtc_meas_p->record_rtc_sec = r.l();
  rtc_gtc_meas_p->record_rtc_wn_subsec = r.l();
  rtc_gtc_meas_p->record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock = r.l();
  return done(r.n, MSG_LEN_GTC);
}

// --- Type 63, GTC_CLOCK_COUNTS -------------------------------------------------
int pack_msg_gtc_clock_counts(U08* buf, S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary) {
  Wr w = start(buf, MSG_TYPE_GTC_CLOCK_COUNTS);
  w.c(ary_count);
  for (int i = 0; i < MSG_GTC_CLOCK_N; ++i) {
    w.l(acc_clocks_ary[i]);
    w.s(acc_subsecs_ary[i]);
  }
  return done(w.n, MSG_LEN_GTC_CLOCK_COUNTS);
}

int unpack_msg_gtc_clock_counts(const U08* buf, S16* ary_count_p, U32* acc_clocks_ary, U16* acc_subsecs_ary) {
  Rd r = body(buf);
  *ary_count_p = r.cu();
  for (int i = 0; i < MSG_GTC_CLOCK_N; ++i) {
    acc_clocks_ary[i] = r.l();
    acc_subsecs_ary[i] = r.s();
  }
  return done(r.n, MSG_LEN_GTC_CLOCK_COUNTS);
}

// --- Type 1, CHAN ----------------------------------------------------------------
int pack_msg_chan(U08* buf, S16 ch_id, const ASIC_CHAN_MEAS_T* m) {
  Wr w = start(buf, MSG_TYPE_CHAN);
  w.c(ch_id);
  w.c(m->gnss_type);
  w.c(m->k_num);
  w.c(m->prn);
  w.c(m->state);
  w.c(m->loop_gain_mode);
  w.c(m->peak_tap_loc);
  w.l(m->bitcnt);
  w.l(m->acc_power);
  w.s(m->cn_count);
  w.c(m->cn_div);
  w.c(m->cn_shift);
  w.s(m->cn_integ);
  w.c(m->nsc);
  w.c(m->track_issue);
  w.s(m->unlock_count);
  w.s(m->carrier_phase);
  w.l(static_cast<U32>(m->acc_carrier_cycle));
  w.l(m->acc_carrier_cycle_count);
  w.l(m->code_phase_reg);
  w.l(m->code_phase_reg2);
  w.l(static_cast<U32>(m->dop_freq));
  w.l(m->ch_noise_power);
  w.l(m->unlock_status);
  w.l(m->debug_msg);
  return done(w.n, MSG_LEN_CHAN);
}

int unpack_msg_chan(const U08* buf, S16* ch_id_p, ASIC_CHAN_MEAS_T* m) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  m->gnss_type = r.c8();
  m->k_num = r.c8();
  m->prn = r.c8();
  m->state = r.c();
  m->loop_gain_mode = r.c8();
  m->peak_tap_loc = r.c();
  m->bitcnt = r.l();
  m->acc_power = r.l();
  m->cn_count = r.ss();
  m->cn_div = r.c8();
  m->cn_shift = r.c8();
  m->cn_integ = r.ss();
  m->nsc = r.c();
  m->track_issue = r.c();
  m->unlock_count = r.ss();
  m->carrier_phase = r.ss();
  m->acc_carrier_cycle = r.ls();
  m->acc_carrier_cycle_count = r.l();
  m->code_phase_reg = r.l();
  m->code_phase_reg2 = r.l();
  m->dop_freq = r.ls();
  m->ch_noise_power = r.l();
  m->unlock_status = r.l();
  m->debug_msg = r.l();
  return done(r.n, MSG_LEN_CHAN);
}

// --- Type 62, CHAN_CARRIER ---------------------------------------------------------
int pack_msg_chan_carrier(U08* buf, S16 ch_id, const ASIC_CHAN_MEAS_T* m) {
  Wr w = start(buf, MSG_TYPE_CHAN_CARRIER);
  w.c(ch_id);
  w.c(m->carrier_phase_ary_count);
  w.s(m->end_carrier_phase);
  for (int i = 0; i < MSG_CARRIER_ARY_N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    w.s(m->start_carrier_phase_ary[k]);
    w.s(m->acc_carrier_cycle_ary[k]);
    w.c(m->acc_carrier_cycle_count_ary[k]);
    w.c(m->carrier_phase_no_good_count_ary[k]);
  }
  return done(w.n, MSG_LEN_CHAN_CARRIER);
}

int unpack_msg_chan_carrier(const U08* buf, S16* ch_id_p, ASIC_CHAN_MEAS_T* m) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  m->carrier_phase_ary_count = static_cast<U16>(r.cs());
  m->end_carrier_phase = r.s();
  for (int i = 0; i < MSG_CARRIER_ARY_N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    m->start_carrier_phase_ary[k] = r.ss();
    m->acc_carrier_cycle_ary[k] = r.ss();
    m->acc_carrier_cycle_count_ary[k] = r.c();
    m->carrier_phase_no_good_count_ary[k] = r.c();
  }
  return done(r.n, MSG_LEN_CHAN_CARRIER);
}

// --- Messages without payload ---------------------------------------------------------
int pack_msg_pse_init(U08* buf) { return pack_empty(buf, MSG_TYPE_PSE_INIT, MSG_LEN_PSE_INIT); }
int unpack_msg_pse_init(const U08*) { return MSG_LEN_PSE_INIT; }
int pack_msg_glo_pse_init(U08* buf) { return pack_empty(buf, MSG_TYPE_GLO_PSE_INIT, MSG_LEN_GLO_PSE_INIT); }
int unpack_msg_glo_pse_init(const U08*) { return MSG_LEN_GLO_PSE_INIT; }
int pack_msg_pse_enable_all(U08* buf) { return pack_empty(buf, MSG_TYPE_PSE_ENABLE_ALL, MSG_LEN_PSE_ENABLE_ALL); }
int unpack_msg_pse_enable_all(const U08*) { return MSG_LEN_PSE_ENABLE_ALL; }
int pack_msg_glo_pse_enable_all(U08* buf) {
  return pack_empty(buf, MSG_TYPE_GLO_PSE_ENABLE_ALL, MSG_LEN_GLO_PSE_ENABLE_ALL);
}
int unpack_msg_glo_pse_enable_all(const U08*) { return MSG_LEN_GLO_PSE_ENABLE_ALL; }
int pack_msg_pse_disable_all(U08* buf) { return pack_empty(buf, MSG_TYPE_PSE_DISABLE_ALL, MSG_LEN_PSE_DISABLE_ALL); }
int unpack_msg_pse_disable_all(const U08*) { return MSG_LEN_PSE_DISABLE_ALL; }
int pack_msg_glo_pse_disable_all(U08* buf) {
  return pack_empty(buf, MSG_TYPE_GLO_PSE_DISABLE_ALL, MSG_LEN_GLO_PSE_DISABLE_ALL);
}
int unpack_msg_glo_pse_disable_all(const U08*) { return MSG_LEN_GLO_PSE_DISABLE_ALL; }
int pack_msg_asic_init(U08* buf) { return pack_empty(buf, MSG_TYPE_ASIC_INIT, MSG_LEN_ASIC_INIT); }
int unpack_msg_asic_init(const U08*) { return MSG_LEN_ASIC_INIT; }
int pack_msg_glo_asic_init(U08* buf) { return pack_empty(buf, MSG_TYPE_GLO_ASIC_INIT, MSG_LEN_GLO_ASIC_INIT); }
int unpack_msg_glo_asic_init(const U08*) { return MSG_LEN_GLO_ASIC_INIT; }
int pack_msg_hostbase_init(U08* buf) { return pack_empty(buf, MSG_TYPE_HOSTBASE_INIT, MSG_LEN_HOSTBASE_INIT); }
int unpack_msg_hostbase_init(const U08*) { return MSG_LEN_HOSTBASE_INIT; }
int pack_msg_hostbase_stop(U08* buf) { return pack_empty(buf, MSG_TYPE_HOSTBASE_STOP, MSG_LEN_HOSTBASE_STOP); }
int unpack_msg_hostbase_stop(const U08*) { return MSG_LEN_HOSTBASE_STOP; }
int pack_msg_reset_noise_power(U08* buf) {
  return pack_empty(buf, MSG_TYPE_ASIC_RESET_NOISE_POWER, MSG_LEN_ASIC_RESET_NOISE_POWER);
}
int unpack_msg_reset_noise_power(const U08*) { return MSG_LEN_ASIC_RESET_NOISE_POWER; }

// --- Types 3 and 37 ---------------------------------------------------------------------
int pack_msg_pse_set_signal_mode_param(U08* buf, S16 mode, const PSE_PARAM_T* p) {
  return pack_param(buf, MSG_TYPE_PSE_PARAM, MSG_LEN_PSE_PARAM, mode, p);
}
int unpack_msg_pse_set_signal_mode_param(const U08* buf, S16* mode_p, PSE_PARAM_T* p) {
  return unpack_param(buf, MSG_LEN_PSE_PARAM, mode_p, p);
}
int pack_msg_glo_pse_set_signal_mode_param(U08* buf, S16 mode, const GLO_PSE_PARAM_T* p) {
  return pack_param(buf, MSG_TYPE_GLO_PSE_PARAM, MSG_LEN_GLO_PSE_PARAM, mode, p);
}
int unpack_msg_glo_pse_set_signal_mode_param(const U08* buf, S16* mode_p, GLO_PSE_PARAM_T* p) {
  return unpack_param(buf, MSG_LEN_GLO_PSE_PARAM, mode_p, p);
}

// --- Types 4 and 40 ----------------------------------------------------------------------
int pack_msg_pse_set_search_states_array(U08* buf, S08 mode, S16 nstates, const PSE_STATE_T* states) {
  return pack_states(buf, MSG_TYPE_PSE_SET, MSG_LEN_PSE_SET, mode, nstates, states);
}
int unpack_msg_pse_set_search_states_array(const U08* buf, S08* mode_p, S16* nstates_p, PSE_STATE_T* states) {
  return unpack_states(buf, MSG_LEN_PSE_SET, mode_p, nstates_p, states);
}
int pack_msg_glo_pse_set_search_states_array(U08* buf, S08 mode, S16 nstates, const GLO_PSE_STATE_T* states) {
  return pack_states(buf, MSG_TYPE_GLO_PSE_SET, MSG_LEN_GLO_PSE_SET, mode, nstates, states);
}
int unpack_msg_glo_pse_set_search_states_array(const U08* buf, S08* mode_p, S16* nstates_p, GLO_PSE_STATE_T* states) {
  return unpack_states(buf, MSG_LEN_GLO_PSE_SET, mode_p, nstates_p, states);
}

// --- Types 7, 8, 43, 44 -------------------------------------------------------------------
int pack_msg_pse_enable(U08* buf, S16 pse) { return pack_c(buf, MSG_TYPE_PSE_ENABLE_ONE, MSG_LEN_PSE_ENABLE_ONE, pse); }
int unpack_msg_pse_enable(const U08* buf, S16* pse_p) { return unpack_cs(buf, MSG_LEN_PSE_ENABLE_ONE, pse_p); }
int pack_msg_pse_disable(U08* buf, S16 pse) {
  return pack_c(buf, MSG_TYPE_PSE_DISABLE_ONE, MSG_LEN_PSE_DISABLE_ONE, pse);
}
int unpack_msg_pse_disable(const U08* buf, S16* pse_p) { return unpack_cs(buf, MSG_LEN_PSE_DISABLE_ONE, pse_p); }
int pack_msg_glo_pse_enable(U08* buf, S16 pse) {
  return pack_c(buf, MSG_TYPE_GLO_PSE_ENABLE_ONE, MSG_LEN_GLO_PSE_ENABLE_ONE, pse);
}
int unpack_msg_glo_pse_enable(const U08* buf, S16* pse_p) { return unpack_cs(buf, MSG_LEN_GLO_PSE_ENABLE_ONE, pse_p); }
int pack_msg_glo_pse_disable(U08* buf, S16 pse) {
  return pack_c(buf, MSG_TYPE_GLO_PSE_DISABLE_ONE, MSG_LEN_GLO_PSE_DISABLE_ONE, pse);
}
int unpack_msg_glo_pse_disable(const U08* buf, S16* pse_p) {
  return unpack_cs(buf, MSG_LEN_GLO_PSE_DISABLE_ONE, pse_p);
}

// --- Types 9 and 45 ------------------------------------------------------------------------
int pack_msg_pse_set_sv_doppler(U08* buf, S16 num, const PSE_PRN_DOPP_T* dopp) {
  return pack_dopp<PSE_PRN_DOPP_T, &PSE_PRN_DOPP_T::prn>(buf, MSG_TYPE_PSE_SVDOPP, MSG_LEN_PSE_SVDOPP, MSG_PSE_SVDOPP_N,
                                                         num, dopp);
}
int unpack_msg_pse_set_sv_doppler(const U08* buf, S16* num_p, PSE_PRN_DOPP_T* dopp) {
  return unpack_dopp<PSE_PRN_DOPP_T, &PSE_PRN_DOPP_T::prn, false>(buf, MSG_LEN_PSE_SVDOPP, MSG_PSE_SVDOPP_N, num_p,
                                                                  dopp);
}
int pack_msg_glo_pse_set_sv_doppler(U08* buf, S16 num, const GLO_PSE_KN_DOPP_T* dopp) {
  return pack_dopp<GLO_PSE_KN_DOPP_T, &GLO_PSE_KN_DOPP_T::kn>(buf, MSG_TYPE_GLO_PSE_SVDOPP, MSG_LEN_GLO_PSE_SVDOPP,
                                                              MSG_GLO_PSE_SVDOPP_N, num, dopp);
}
int unpack_msg_glo_pse_set_sv_doppler(const U08* buf, S16* num_p, GLO_PSE_KN_DOPP_T* dopp) {
  return unpack_dopp<GLO_PSE_KN_DOPP_T, &GLO_PSE_KN_DOPP_T::kn, true>(buf, MSG_LEN_GLO_PSE_SVDOPP, MSG_GLO_PSE_SVDOPP_N,
                                                                      num_p, dopp);
}

// --- Types 10, 46, 64 -----------------------------------------------------------------------
int pack_msg_pse_set_clock_offset(U08* buf, S32 clk_offset) {
  return pack_l(buf, MSG_TYPE_PSE_CLOCK, MSG_LEN_PSE_CLOCK, static_cast<U32>(clk_offset));
}
int unpack_msg_pse_set_clock_offset(const U08* buf, S32* clk_offset_p) {
  return unpack_ls(buf, MSG_LEN_PSE_CLOCK, clk_offset_p);
}
int pack_msg_glo_pse_set_clock_offset(U08* buf, S32 clk_offset) {
  return pack_l(buf, MSG_TYPE_GLO_PSE_CLOCK, MSG_LEN_GLO_PSE_CLOCK, static_cast<U32>(clk_offset));
}
int unpack_msg_glo_pse_set_clock_offset(const U08* buf, S32* clk_offset_p) {
  return unpack_ls(buf, MSG_LEN_GLO_PSE_CLOCK, clk_offset_p);
}
int pack_msg_pse_bd2_set_clock_offset(U08* buf, S32 clk_offset) {
  return pack_l(buf, MSG_TYPE_BD2_PSE_CLOCK, MSG_LEN_BD2_PSE_CLOCK, static_cast<U32>(clk_offset));
}
int unpack_msg_bd2_pse_set_clock_offset(const U08* buf, S32* clk_offset_p) {
  return unpack_ls(buf, MSG_LEN_BD2_PSE_CLOCK, clk_offset_p);
}

// --- Types 11, 61, 65 ------------------------------------------------------------------------
int pack_msg_pse_set_weak_array(U08* buf, S16 num, const PSE_WEAK_SEARCH_T* weak) {
  return pack_weak<PSE_WEAK_SEARCH_T, &PSE_WEAK_SEARCH_T::prn>(buf, MSG_TYPE_PSE_WEAK_ARRAY, MSG_LEN_PSE_WEAK_ARRAY,
                                                               num, weak);
}
int unpack_msg_pse_set_weak_array(const U08* buf, S16* num_p, PSE_WEAK_SEARCH_T* weak) {
  return unpack_weak<PSE_WEAK_SEARCH_T, &PSE_WEAK_SEARCH_T::prn, false>(buf, MSG_LEN_PSE_WEAK_ARRAY, num_p, weak);
}
int pack_msg_glo_pse_set_weak_array(U08* buf, S16 num, const GLO_PSE_WEAK_SEARCH_T* weak) {
  return pack_weak<GLO_PSE_WEAK_SEARCH_T, &GLO_PSE_WEAK_SEARCH_T::kn>(buf, MSG_TYPE_GLO_PSE_WEAK_ARRAY,
                                                                      MSG_LEN_GLO_PSE_WEAK_ARRAY, num, weak);
}
int unpack_msg_glo_pse_set_weak_array(const U08* buf, S16* num_p, GLO_PSE_WEAK_SEARCH_T* weak) {
  return unpack_weak<GLO_PSE_WEAK_SEARCH_T, &GLO_PSE_WEAK_SEARCH_T::kn, true>(buf, MSG_LEN_GLO_PSE_WEAK_ARRAY, num_p,
                                                                              weak);
}
int pack_msg_bd2_pse_set_weak_array(U08* buf, S16 num, const BD2_PSE_WEAK_SEARCH_T* weak) {
  Wr w = start(buf, MSG_TYPE_BD2_PSE_WEAK_ARRAY);
  w.c(num);
  for (int i = 0; i < MSG_WEAK_ARRAY_N; ++i) {
    w.c(weak[i].prn);
    w.c(weak[i].dmsc);
    w.s(weak[i].dopp);
    w.s(weak[i].dsub_msc);
  }
  return done(w.n, MSG_LEN_BD2_PSE_WEAK_ARRAY);
}
int unpack_msg_bd2_pse_set_weak_array(const U08* buf, S16* num_p, BD2_PSE_WEAK_SEARCH_T* weak) {
  Rd r = body(buf);
  *num_p = r.cu();
  for (int i = 0; i < MSG_WEAK_ARRAY_N; ++i) {
    weak[i].prn = r.cu();
    weak[i].dmsc = r.cs();
    weak[i].dopp = r.ss();
    weak[i].dsub_msc = r.s();
  }
  return done(r.n, MSG_LEN_BD2_PSE_WEAK_ARRAY);
}

// --- One-byte commands ------------------------------------------------------------------------
int pack_msg_pse_rcv_is_static(U08* buf, S16 is_static) {
  return pack_c(buf, MSG_TYPE_PSE_RCV_IS_STATIC, MSG_LEN_PSE_RCV_IS_STATIC, is_static);
}
int unpack_msg_pse_rcv_is_static(const U08* buf, S16* p) { return unpack_cu(buf, MSG_LEN_PSE_RCV_IS_STATIC, p); }
int pack_msg_pse_need_waas_search(U08* buf, S16 waas_status) {
  return pack_c(buf, MSG_TYPE_PSE_NEED_WAAS_SEARCH, MSG_LEN_PSE_NEED_WAAS_SEARCH, waas_status);
}
int unpack_msg_pse_need_waas_search(const U08* buf, S16* p) { return unpack_cu(buf, MSG_LEN_PSE_NEED_WAAS_SEARCH, p); }
int pack_msg_pse_pause(U08* buf, S16 pause) { return pack_c(buf, MSG_TYPE_PSE_PAUSE, MSG_LEN_PSE_PAUSE, pause); }
int unpack_msg_pse_pause(const U08* buf, S16* p) { return unpack_cu(buf, MSG_LEN_PSE_PAUSE, p); }
int pack_msg_glo_pse_pause(U08* buf, S16 pause) {
  return pack_c(buf, MSG_TYPE_GLO_PSE_PAUSE, MSG_LEN_GLO_PSE_PAUSE, pause);
}
int unpack_msg_glo_pse_pause(const U08* buf, S16* p) { return unpack_cu(buf, MSG_LEN_GLO_PSE_PAUSE, p); }
int pack_msg_set_small_loop_gain(U08* buf, S16 ch_id) {
  return pack_c(buf, MSG_TYPE_ASIC_SMALL_GAIN, MSG_LEN_ASIC_SMALL_GAIN, ch_id);
}
int unpack_msg_set_small_loop_gain(const U08* buf, S16* p) { return unpack_cu(buf, MSG_LEN_ASIC_SMALL_GAIN, p); }
int pack_msg_skip_10ms_integ(U08* buf, S16 skip_10ms) {
  return pack_c(buf, MSG_TYPE_ASIC_SKIP_10MS, MSG_LEN_ASIC_SKIP_10MS, skip_10ms);
}
int unpack_msg_skip_10ms_integ(const U08* buf, S16* p) { return unpack_cu(buf, MSG_LEN_ASIC_SKIP_10MS, p); }
int pack_msg_glo_pse_change_145_param(U08* buf, S08 be_stronger) {
  return pack_c(buf, MSG_TYPE_GLO_PSE_CHANGE_145_PARAM, MSG_LEN_GLO_PSE_CHANGE_145_PARAM, be_stronger);
}
int unpack_msg_glo_pse_change_145_param(const U08* buf, S08* p) {
  Rd r = body(buf);
  *p = r.c8();
  return done(r.n, MSG_LEN_GLO_PSE_CHANGE_145_PARAM);
}

// --- Type 28 -------------------------------------------------------------------------------------
int pack_msg_pse_update_tm_cnr_status(U08* buf, U08 n47, U08 n45, U08 n40, U08 n30) {
  Wr w = start(buf, MSG_TYPE_PSE_CNR_STATUS);
  for (U08 v : {n47, n45, n40, n30}) w.c(v);
  return done(w.n, MSG_LEN_PSE_CNR_STATUS);
}
int unpack_msg_pse_update_tm_cnr_status(const U08* buf, U08* n47, U08* n45, U08* n40, U08* n30) {
  Rd r = body(buf);
  for (U08* p : {n47, n45, n40, n30}) *p = r.c();
  return done(r.n, MSG_LEN_PSE_CNR_STATUS);
}

// --- Type 13 -------------------------------------------------------------------------------------
int pack_msg_get_databits(U08* buf, S16 ch_id, S16 gnss_type, S16 prn, U32 databits, U32 databits_info, U32 bitcnt,
                          U08 issue_id) {
  Wr w = start(buf, MSG_TYPE_ASIC_GET_DATABITS);
  w.c(ch_id);
  w.c(gnss_type);
  w.c(prn);
  w.l(databits);
  w.l(databits_info);
  w.l(bitcnt);
  w.c(issue_id);
  return done(w.n, MSG_LEN_ASIC_GET_DATABITS);
}
int unpack_msg_get_databits(const U08* buf, S16* ch_id_p, S16* gnss_type_p, S16* prn_p, U32* databits_p,
                            U32* databits_info_p, U32* bitcnt_p, U08* issue_id_p) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  *gnss_type_p = r.cu();
  *prn_p = r.cu();
  *databits_p = r.l();
  *databits_info_p = r.l();
  *bitcnt_p = r.l();
  *issue_id_p = r.c();
  return done(r.n, MSG_LEN_ASIC_GET_DATABITS);
}

// --- Type 38 -------------------------------------------------------------------------------------
int pack_msg_set_string_start_bitcnt(U08* buf, S16 ch_id, S32 bitcnt, U08 issue_id) {
  Wr w = start(buf, MSG_TYPE_GLO_ASIC_SET_STR_START);
  w.c(ch_id);
  w.l(static_cast<U32>(bitcnt));
  w.c(issue_id);
  return done(w.n, MSG_LEN_GLO_ASIC_SET_STR_START);
}
int unpack_msg_set_string_start_bitcnt(const U08* buf, S16* ch_id_p, S32* bitcnt_p, U08* issue_id_p) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  *bitcnt_p = r.ls();
  *issue_id_p = r.c();
  return done(r.n, MSG_LEN_GLO_ASIC_SET_STR_START);
}

// --- Types 17 and 39 -------------------------------------------------------------------------------
int pack_msg_predict_meas(U08* buf, S16 num, S32 ref_gtc_sec, const ASIC_PREDICTED_MEAS_T* pm,
                          S16 can_predict_to_chip) {
  Wr w = start(buf, MSG_TYPE_ASIC_PREDICT_MEAS);
  w.c(num);
  w.l(static_cast<U32>(ref_gtc_sec));
  w.c(can_predict_to_chip);
  for (int k = 0; k < MSG_PREDICT_N; ++k) {
    w.c(pm[k].prn);
    w.s(pm[k].code_rate_per_ms);
    w.l(static_cast<U32>(pm[k].code_rate));
    w.l(static_cast<U32>(pm[k].code0));
    w.l(static_cast<U32>(pm[k].dop_freq));
    w.c(pm[k].by_eph_flag);
  }
  return done(w.n, MSG_LEN_ASIC_PREDICT_MEAS);
}
int unpack_msg_predict_meas(const U08* buf, S16* num_p, S32* ref_gtc_sec_p, ASIC_PREDICTED_MEAS_T* pm,
                            S16* can_predict_to_chip_p) {
  Rd r = body(buf);
  *num_p = r.cu();
  *ref_gtc_sec_p = r.ls();
  *can_predict_to_chip_p = r.cu();
  for (int k = 0; k < MSG_PREDICT_N; ++k) {
    pm[k].prn = r.cu();
    pm[k].code_rate_per_ms = r.ss();
    pm[k].code_rate = r.ls();
    pm[k].code0 = r.ls();
    pm[k].dop_freq = r.ls();
    pm[k].by_eph_flag = r.cu();
  }
  return done(r.n, MSG_LEN_ASIC_PREDICT_MEAS);
}
int pack_msg_glo_predict_meas(U08* buf, S16 num, S32 ref_gtc_sec, S16 can_predict_to_chip) {
  Wr w = start(buf, MSG_TYPE_GLO_ASIC_PREDICT_MEAS);
  w.c(num);
  w.l(static_cast<U32>(ref_gtc_sec));
  w.c(can_predict_to_chip);
  return done(w.n, MSG_LEN_GLO_ASIC_PREDICT_MEAS);
}
int unpack_msg_glo_predict_meas(const U08* buf, S16* num_p, S32* ref_gtc_sec_p, S16* can_predict_to_chip_p) {
  Rd r = body(buf);
  *num_p = r.cu();
  *ref_gtc_sec_p = r.ls();
  *can_predict_to_chip_p = r.cu();
  return done(r.n, MSG_LEN_GLO_ASIC_PREDICT_MEAS);
}

// --- Type 14 ---------------------------------------------------------------------------------------
int pack_msg_rtc(U08* buf, S16 wn, S32 sec, U32 subsec) {
  Wr w = start(buf, MSG_TYPE_ASIC_RTC);
  w.s(wn);
  w.l(static_cast<U32>(sec));
  w.l(subsec);
  return done(w.n, MSG_LEN_ASIC_RTC);
}
int unpack_msg_rtc(const U08* buf, S16* wn_p, S32* sec_p, U32* subsec_p) {
  Rd r = body(buf);
  *wn_p = r.ss();
  *sec_p = r.ls();
  *subsec_p = r.l();
  return done(r.n, MSG_LEN_ASIC_RTC);
}

// --- Types 26 and 51 ---------------------------------------------------------------------------------
int pack_msg_pse_status(U08* buf, S08 mode, S08 state, S08 p_0, S08 p_1, S08 p_2, S08 p_3, U32 weak_bs_flag) {
  return pack_status(buf, MSG_TYPE_PSE_STATUS, MSG_LEN_PSE_STATUS, mode, state, p_0, p_1, p_2, p_3, weak_bs_flag);
}
int unpack_msg_pse_status(const U08* buf, S08* mode_p, S08* state_p, S08* p_0_p, S08* p_1_p, S08* p_2_p, S08* p_3_p,
                          U32* weak_bs_flag_p) {
  return unpack_status(buf, MSG_LEN_PSE_STATUS, mode_p, state_p, p_0_p, p_1_p, p_2_p, p_3_p, weak_bs_flag_p);
}
int pack_msg_glo_pse_status(U08* buf, S08 mode, S08 state, S08 p_0, S08 p_1, S08 p_2, S08 p_3, U32 weak_bs_flag) {
  return pack_status(buf, MSG_TYPE_GLO_PSE_STATUS, MSG_LEN_GLO_PSE_STATUS, mode, state, p_0, p_1, p_2, p_3,
                     weak_bs_flag);
}
int unpack_msg_glo_pse_status(const U08* buf, S08* mode_p, S08* state_p, S08* p_0_p, S08* p_1_p, S08* p_2_p, S08* p_3_p,
                              U32* weak_bs_flag_p) {
  return unpack_status(buf, MSG_LEN_GLO_PSE_STATUS, mode_p, state_p, p_0_p, p_1_p, p_2_p, p_3_p, weak_bs_flag_p);
}

// --- Types 25 and 52 -----------------------------------------------------------------------------------
int pack_msg_set_1pps(U08* buf, S16 enable_disable, U32 pps_offset, U32 pps_period) {
  return pack_1pps(buf, MSG_TYPE_ASIC_SET_1PPS, MSG_LEN_ASIC_SET_1PPS, enable_disable, pps_offset, pps_period);
}
int unpack_msg_set_1pps(const U08* buf, S16* enable_disable_p, U32* pps_offset_p, U32* pps_period_p) {
  return unpack_1pps(buf, MSG_LEN_ASIC_SET_1PPS, enable_disable_p, pps_offset_p, pps_period_p);
}
int pack_msg_glo_set_1pps(U08* buf, S16 enable_disable, U32 pps_offset, U32 pps_period) {
  return pack_1pps(buf, MSG_TYPE_GLO_SET_1PPS, MSG_LEN_GLO_SET_1PPS, enable_disable, pps_offset, pps_period);
}
int unpack_msg_glo_set_1pps(const U08* buf, S16* enable_disable_p, U32* pps_offset_p, U32* pps_period_p) {
  return unpack_1pps(buf, MSG_LEN_GLO_SET_1PPS, enable_disable_p, pps_offset_p, pps_period_p);
}

// --- Type 27 -------------------------------------------------------------------------------------------
int pack_msg_asic_weak_bs_flag(U08* buf, U32 flag) {
  return pack_l(buf, MSG_TYPE_ASIC_WEAK_BS_FLAG, MSG_LEN_ASIC_WEAK_BS_FLAG, flag);
}
int unpack_msg_asic_weak_bs_flag(const U08* buf, U32* flag_p) {
  return unpack_l(buf, MSG_LEN_ASIC_WEAK_BS_FLAG, flag_p);
}

// --- Type 31 -------------------------------------------------------------------------------------------
int pack_msg_tr(U08* buf, S16 num, const ASIC_TR_T* tr) {
  Wr w = start(buf, MSG_TYPE_ASIC_SET_TR);
  w.c(num);
  for (int i = 0; i < MSG_SET_TR_N; ++i) {
    w.c(tr[i].prn);
    w.l(static_cast<U32>(tr[i].tr_to_chip));
  }
  return done(w.n, MSG_LEN_ASIC_SET_TR);
}
int unpack_msg_tr(const U08* buf, S16* num_p, ASIC_TR_T* tr) {
  Rd r = body(buf);
  *num_p = r.cu();
  for (int i = 0; i < MSG_SET_TR_N; ++i) {
    tr[i].prn = r.cu();
    tr[i].tr_to_chip = r.ls();
  }
  return done(r.n, MSG_LEN_ASIC_SET_TR);
}

// --- Type 18 -------------------------------------------------------------------------------------------
int pack_msg_drop_channel(U08* buf, S16 ch_id, S16 prn, U08 track_issue) {
  Wr w = start(buf, MSG_TYPE_ASIC_DROP_CHANNEL);
  w.c(ch_id);
  w.c(prn);
  w.c(track_issue);
  return done(w.n, MSG_LEN_ASIC_DROP_CHANNEL);
}
int unpack_msg_drop_channel(const U08* buf, S16* ch_id_p, S16* prn_p, U08* track_issue_p) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  *prn_p = r.cu();
  *track_issue_p = r.c();
  return done(r.n, MSG_LEN_ASIC_DROP_CHANNEL);
}

// --- Type 19 -------------------------------------------------------------------------------------------
int pack_msg_adjust_rtc(U08* buf, const ASIC_RTC_ADJ_T* adj_p) {
  Wr w = start(buf, MSG_TYPE_ASIC_ADJUST_RTC);
  w.s(adj_p->subsec);
  w.s(adj_p->week);
  w.l(adj_p->sec);
  w.l(adj_p->ref_gtc_sec);
  return done(w.n, MSG_LEN_ASIC_ADJUST_RTC);
}
int unpack_msg_adjust_rtc(const U08* buf, ASIC_RTC_ADJ_T* adj_p) {
  Rd r = body(buf);
  adj_p->subsec = r.s();
  adj_p->week = r.s();
  adj_p->sec = r.l();
  adj_p->ref_gtc_sec = r.l();
  return done(r.n, MSG_LEN_ASIC_ADJUST_RTC);
}

// --- Types 24 and 54 -------------------------------------------------------------------------------------
int pack_msg_ch_shift_msc(U08* buf, S16 ch_id, S16 prn, U08 track_issue, S16 shift_count) {
  return pack_shift(buf, MSG_TYPE_ASIC_SHIFT_MSC, MSG_LEN_ASIC_SHIFT_MSC, ch_id, prn, track_issue, shift_count);
}
int unpack_msg_ch_shift_msc(const U08* buf, S16* ch_id_p, S16* prn_p, U08* track_issue_p, S16* shift_count_p) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  *prn_p = r.cu();
  *track_issue_p = r.c();
  *shift_count_p = r.cs();
  return done(r.n, MSG_LEN_ASIC_SHIFT_MSC);
}
int pack_msg_glo_ch_shift_msc(U08* buf, S16 ch_id, S16 k_num, U08 track_issue, S16 shift_count) {
  return pack_shift(buf, MSG_TYPE_GLOASIC_SHIFT_MSC, MSG_LEN_GLOASIC_SHIFT_MSC, ch_id, k_num, track_issue, shift_count);
}
int unpack_msg_glo_ch_shift_msc(const U08* buf, S16* ch_id_p, S16* k_num_p, U08* track_issue_p, S16* shift_count_p) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  *k_num_p = r.cs();
  *track_issue_p = r.c();
  *shift_count_p = r.cs();
  return done(r.n, MSG_LEN_GLOASIC_SHIFT_MSC);
}

// --- Type 55 -----------------------------------------------------------------------------------------------
int pack_msg_command_tm_shift_tap(U08* buf, S16 ch_id, S16 static_prediction_on_or_off, S16 chip_shift) {
  Wr w = start(buf, MSG_TYPE_ASIC_COMMAND_TM_SHIFT_TAP);
  w.c(ch_id);
  w.c(static_prediction_on_or_off);
  w.c(chip_shift);
  return done(w.n, MSG_LEN_ASIC_COMMAND_TM_SHIFT_TAP);
}
int unpack_msg_command_tm_shift_tap(const U08* buf, S16* ch_id_p, S16* static_prediction_on_or_off_p,
                                    S16* chip_shift_p) {
  Rd r = body(buf);
  *ch_id_p = r.cu();
  *static_prediction_on_or_off_p = r.cu();
  *chip_shift_p = r.cs();
  return done(r.n, MSG_LEN_ASIC_COMMAND_TM_SHIFT_TAP);
}

// --- Type 56 -----------------------------------------------------------------------------------------------
int pack_msg_set_hot_start_predict_time(U08* buf, S32 gtc_sec, S16 gtc_subsec, S16 gtc_ssubsec, S32 record_rtc_sec,
                                        S16 record_rtc_subsec, S16 valid_flag) {
  Wr w = start(buf, MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME);
  w.l(static_cast<U32>(gtc_sec));
  w.s(gtc_subsec);
  w.s(gtc_ssubsec);
  w.l(static_cast<U32>(record_rtc_sec));
  w.s(record_rtc_subsec);
  w.s(valid_flag);
  return done(w.n, MSG_LEN_ASIC_SET_HOT_START_PREDICT_TIME);
}
int unpack_msg_set_hot_start_predict_time(const U08* buf, S32* gtc_sec_p, S16* gtc_subsec_p, S16* gtc_ssubsec_p,
                                          S32* record_rtc_sec_p, S16* record_rtc_subsec_p, S16* valid_flag_p) {
  Rd r = body(buf);
  *gtc_sec_p = r.ls();
  *gtc_subsec_p = r.ss();
  *gtc_ssubsec_p = r.ss();
  *record_rtc_sec_p = r.ls();
  *record_rtc_subsec_p = r.ss();
  *valid_flag_p = r.ss();
  return done(r.n, MSG_LEN_ASIC_SET_HOT_START_PREDICT_TIME);
}
