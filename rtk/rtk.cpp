// RTK driver: initialisation, the engine cycle with its satellite screening,
// the solution record, automatic resets and the navigation data store.
#include "rtk/rtk.h"

#include <algorithm>
#include <cmath>

#include "rtk/crv.h"
#include "rtk/eph.h"
#include "rtk/glo_sd_ifb.h"
#include "rtk/pntpos.h"
#include "rtk/relpos.h"
#include "rtk/rinex.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk_cfg.h"
#include "rtk/rtk_raw.h"

namespace {

constexpr int FRQ_UNKNOWN = -9;

nav_t Navs{};
int Navsys = SYS_GPS;  // configured systems until the processing options hold them

bool valid_frq(int k) { return k >= -7 && k <= 6; }

}  // namespace

void RTK_NAV_init(int navsys) {
  Navsys = navsys;
  Navs = nav_t{};
  for (auto& e : Navs.eph) e.iode = e.iodc = -1;
  for (auto& g : Navs.geph) {
    g.frq = FRQ_UNKNOWN;
    g.iode = -1;
  }
  Navs.n = MAXEPH;
  Navs.ns = MAXSEPH;
  Navs.ng = MAXGEPH;
}

const nav_t* RTK_get_nav() { return &Navs; }
int RTK_get_navsys() { return Navsys; }

int RTK_input_eph(const eph_t* eph) {
  const int sys = satsys(eph->sat, nullptr);
  if (sys != SYS_GPS && sys != SYS_QZS) return 0;
  eph_t* e = &Navs.eph[eph->sat - 1];
  if (e->iode == eph->iode && e->iodc == eph->iodc && e->toes == eph->toes && timediff(e->toc, eph->toc) == 0.0)
    return 0;
  *e = *eph;
  if (Navs.n < eph->sat) Navs.n = eph->sat;  // a store that starts empty (RINEX input) grows
  Navs.lam[eph->sat - 1][0] = satwavelen(eph->sat, 0, &Navs);
  return 1;
}

int RTK_input_ion(const double* ion) {
  for (int i = 0; i < 8; ++i)
    if (!std::isfinite(ion[i]) || std::fabs(ion[i]) > 1e8) return 0;
  for (int i = 0; i < 8; ++i) Navs.ion_gps[i] = ion[i];
  return 1;
}

int RTK_input_seph(const seph_t* seph) {
  int prn = 0;
  if (satsys(seph->sat, &prn) != SYS_SBS) return 0;
  seph_t* s = &Navs.seph[prn - MINPRNSBS];
  if (std::fabs(timediff(s->t0, seph->t0)) < 0.001) return 0;
  *s = *seph;
  if (Navs.ns < prn - MINPRNSBS + 1) Navs.ns = prn - MINPRNSBS + 1;
  Navs.lam[seph->sat - 1][0] = satwavelen(seph->sat, 0, &Navs);
  return 1;
}

int RTK_input_geph(const geph_t* geph) {
  int prn = 0;
  if (satsys(geph->sat, &prn) != SYS_GLO) return 0;
  geph_t* g = &Navs.geph[prn - 1];
  if (g->iode == geph->iode) return 0;
  const int kept = g->frq;
  *g = *geph;
  if (valid_frq(kept))
    g->frq = kept;
  else if (!valid_frq(g->frq))
    g->frq = FRQ_UNKNOWN;
  if (Navs.ng < prn) Navs.ng = prn;
  Navs.lam[geph->sat - 1][0] = satwavelen(geph->sat, 0, &Navs);
  return 1;
}

int RTK_set_glonass_freq_num(U08 slot_num, S08 k_num) {
  if (slot_num < MINPRNGLO || slot_num > MAXPRNGLO || !valid_frq(k_num)) return 0;
  geph_t* g = &Navs.geph[slot_num - 1];
  if (valid_frq(g->frq)) return 0;
  // k_num is a signed number (-7..6, checked above), not a character: widening
  // it keeps its sign, which is the point (an unsigned char cast would not).
  g->frq = k_num;  // NOLINT(bugprone-signed-char-misuse)
  if (Navs.ng < slot_num) Navs.ng = slot_num;
  const int sat = satno(SYS_GLO, slot_num);
  const double lam = satwavelen(sat, 0, &Navs);
  if (lam != 0.0) Navs.lam[sat - 1][0] = lam;
  return 1;
}

// ---------------------------------------------------------------------------
// Engine.

namespace {

constexpr int MODE_MOVEB = 4;
constexpr int NMASK = 2 * MAXSAT;  // rover entries at sat - 1, base at sat - 1 + MAXSAT
constexpr int MASK_CNT_MIN = -10;
constexpr int MASK_CNT_USABLE = 2;                           // counts as good below this
constexpr double CMC_THR = 3.0, CMC_THR_SBS = 8.0;           // m, with more than 8 good satellites
constexpr double CMC_THR_FEW = 4.0, CMC_THR_SBS_FEW = 10.0;  // m, otherwise
constexpr double CMC_THR_ELV_FACTOR = 1.5;                   // for satellites of known elevation
constexpr int CMC_MANY_SATS = 8;
constexpr int SBAS_MAX_SUFFICIENT = 100;
constexpr int SBAS_SUFFICIENT_LIMIT = 30;
constexpr int SBAS_FEW_NON_SBAS = 5;
constexpr int CONT_PNTPOS_MAX = 100;
constexpr double SORT_TIME_TOL = 0.005;  // s
constexpr U16 NO_EPOCH_WEEK = 3000;
constexpr int NTIME_INFO = 4;
constexpr int STREAM_RTCM3 = 1, STREAM_CRV_RAW = 2, STREAM_CRV_EXTRAW = 3;
constexpr int STREAM_MIN_OBS = 6;

struct ROVER_MEAS_TIME_INFO_T {
  U32 raw_tow_in_ms[NTIME_INFO];
  U16 raw_wn[NTIME_INFO];
  U16 raw_meas_period_in_ms[NTIME_INFO];
  U08 input_raw_ndx, output_sol_ndx;
};

rtk_t Rtk{};
obsd_t Obs_cycle[MAXOBS_CYCLE];
// Re-entry count per receiver and satellite, cycles: set to the re-entry
// lock-out (prcopt_t.snr_reentry, cycles) when a rover satellite is below its
// C/N0 mask, one less in every cycle the satellite is observed (down to
// MASK_CNT_MIN); the satellite enters the cycle only at 0 or less.
int Mask_invalid_meas_cnt[NMASK];
// Last elevation (rad) the single-point solution gave each rover satellite
// (0: none yet); kept while the satellite is out of the cycle.
double Rover_elevation[MAXSAT];
double Last_pseudorange_meter[NMASK];
double Last_carrier_phase_cycle[NMASK];
int Rtk_base_stream_type = 0;
U08 Non_sbas_sv_sufficient_count = 0;
U08 Has_master_sol = 0;
unsigned long Rtk_reset_engine_cont_no_fix_cnt = 0;
unsigned long Rtk_reset_engine_total_reset_cnt = 0;
unsigned long Rtk_reset_engine_cont_no_fix_cnt_real = 0;
unsigned long Rtk_reset_engine_total_full_reset_cnt = 0;
ROVER_MEAS_TIME_INFO_T Rover_meas_time_info{};
// Loss-of-lock and code-minus-carrier slip indications (bit 0) of every
// observation seen (also those screened out by a mask), per receiver and
// satellite (indexed as Mask_invalid_meas_cnt), kept until the relative
// update tests the satellite's slips (opt.integrity).
U08 Pending_slip[NMASK];

void rtkinit_small(rtk_t* rtk) {
  for (double& v : rtk->x) v = 0.0;
  for (double& v : rtk->P) v = 0.0;
  for (double& v : rtk->xa) v = 0.0;
  for (double& v : rtk->Pa) v = 0.0;
  rtk->nfix = rtk->neb = 0;
  for (auto& a : rtk->ambc) a = ambc_t{};
  for (auto& s : rtk->ssat) s = ssat_t{};
}

void rtkinit_medium(rtk_t* rtk) {
  rtkinit_small(rtk);
  rtk->sol = sol_t{};
}

void rtkinit(rtk_t* rtk, const prcopt_t* opt) {
  rtk->sol = sol_t{};
  for (double& v : rtk->rb) v = 0.0;
  rtk->nx = RTK_NX;
  rtk->na = RTK_NP;
  rtk->tt = 0.0;
  rtkinit_small(rtk);
  rtk->opt = *opt;
  RTK_RAW_set_rtk_mode(opt->mode);
  RELPOS_init(opt);
}

bool system_ok(int sat, const prcopt_t& o) {
  const int sys = satsys(sat, nullptr);
  return sys != SYS_NONE && (sys & o.navsys) && !o.exsats[sat - 1];
}

// C/N0 mask of a satellite, dB-Hz: the GEO mask for SBAS and BeiDou GEO satellites.
double cn0_mask(int sat, const prcopt_t& o) {
  int prn = 0;
  const int sys = satsys(sat, &prn);
  if (sys == SYS_SBS || (sys == SYS_CMP && prn >= 1 && prn <= 5)) return o.snrmask.bd2_geo_snr_mask;
  return o.snrmask.mask[0][0];
}

bool is_sbas(int sat) { return satsys(sat, nullptr) == SYS_SBS; }

int mask_index(const obsd_t& o) { return o.sat - 1 + (o.rcv == 1 ? 0 : MAXSAT); }

// Receiver first (rover before base), then time, then satellite index.
bool obs_before(const obsd_t& a, const obsd_t& b) {
  if (a.rcv != b.rcv) return a.rcv < b.rcv;
  const double tt = timediff(a.time, b.time);
  if (std::fabs(tt) > SORT_TIME_TOL) return tt < 0.0;
  return a.sat < b.sat;
}

void sort_obsd(obsd_t* obs, int n) {
  // insertion sort: stable, no allocation, n <= 128
  for (int i = 1; i < n; ++i) {
    const obsd_t t = obs[i];
    int j = i - 1;
    while (j >= 0 && obs_before(t, obs[j])) {
      obs[j + 1] = obs[j];
      --j;
    }
    obs[j + 1] = t;
  }
}

// Drops observations outside the satellite table or of no known receiver
// (rcv 1 rover, 2 base), keeping the order; returns the count kept.
int drop_unknown_obs(obsd_t* obs, int n) {
  int k = 0;
  for (int i = 0; i < n; ++i) {
    const obsd_t& ob = obs[i];
    if (ob.sat < 1 || ob.sat > MAXSAT || (ob.rcv != 1 && ob.rcv != 2)) continue;
    obs[k++] = ob;
  }
  return k;
}

// Rover epoch time for the solution files. The write index advances only when
// the cycle is reported as solved, so that every reported cycle reads its own
// epoch type.
void record_rover_epoch_time(const obsd_t& first) {
  ROVER_MEAS_TIME_INFO_T& ti = Rover_meas_time_info;
  int week = 0;
  const double tow = time2gpst(first.time, &week);
  ti.raw_tow_in_ms[ti.input_raw_ndx] = static_cast<U32>(tow * 1000.0 + 1e-6);
  ti.raw_meas_period_in_ms[ti.input_raw_ndx] = first.meas_period_in_ms;
  ti.raw_wn[ti.input_raw_ndx] = static_cast<U16>(week);
}

// Re-entry lock-out in cycles (opt.snr_reentry, rounded); 0 when off.
int reentry_cycles(const prcopt_t& o) {
  if (!(o.snr_reentry > 0.0)) return 0;
  return static_cast<int>(std::lround(o.snr_reentry));
}

// Rover satellites good enough to count towards the SBAS and jump-test rules.
struct GoodSats {
  int n_non_sbas, n_sbas;
  bool counted[MAXSAT];
};

// Counts the good rover satellites: configured system, above the C/N0 mask,
// above the elevation mask (or of unknown elevation), no loss of lock, not
// masked and not rejected by the filter. A satellite below its C/N0 mask
// restarts its mask count with the re-entry lock-out, unless its last known
// elevation is below the elevation mask (it is out of the cycle for that
// anyway, and would otherwise be held again after it rises through the mask).
void count_good_rover_sats(const obsd_t* obs, int n, const prcopt_t& o, GoodSats* good) {
  const int lockout = reentry_cycles(o);
  for (int i = 0; i < n; ++i) {
    const obsd_t& ob = obs[i];
    if (ob.rcv != 1 || ob.sat < 1 || ob.sat > MAXSAT || !system_ok(ob.sat, o)) continue;
    const ssat_t& s = Rtk.ssat[ob.sat - 1];
    if (ob.SNR[0] * 0.25 < cn0_mask(ob.sat, o)) {
      const double el = Rover_elevation[ob.sat - 1];
      if (!(el != 0.0 && el < o.elmaskar)) Mask_invalid_meas_cnt[ob.sat - 1] = lockout;
      continue;
    }
    if ((s.azel[1] >= o.elmaskar || s.azel[1] == 0.0) && !(ob.LLI[0] & 1) &&
        Mask_invalid_meas_cnt[ob.sat - 1] < MASK_CNT_USABLE && s.lock[0] >= 0) {
      good->counted[ob.sat - 1] = true;
      if (is_sbas(ob.sat))
        ++good->n_sbas;
      else
        ++good->n_non_sbas;
    }
  }
}

// Jump threshold of the code-minus-carrier test, m.
double cmc_threshold(int sat, bool many) {
  double thr = is_sbas(sat) ? (many ? CMC_THR_SBS : CMC_THR_SBS_FEW) : (many ? CMC_THR : CMC_THR_FEW);
  if (Rtk.ssat[sat - 1].azel[1] != 0.0) thr *= CMC_THR_ELV_FACTOR;
  return thr;
}

// Code-minus-carrier jump test against the previous cycle: an observation
// whose pseudorange (m) moved by more than its carrier phase (cycles x
// wavelength) beyond the threshold gets a loss of lock, and a counted rover
// satellite is no longer counted. Then the cycle's pseudoranges and phases
// are kept for the next test.
void code_carrier_jump_test(obsd_t* obs, int n, const prcopt_t& o, GoodSats* good) {
  const bool many = good->n_non_sbas > CMC_MANY_SATS;
  for (int i = 0; i < n; ++i) {
    obsd_t& ob = obs[i];
    if ((ob.LLI[0] & 1) || !system_ok(ob.sat, o)) continue;
    const int k = mask_index(ob);
    const double lam = Navs.lam[ob.sat - 1][0];
    if (Last_pseudorange_meter[k] == 0.0 || Last_carrier_phase_cycle[k] == 0.0 || lam == 0.0) continue;
    if (ob.P[0] == 0.0 || ob.L[0] == 0.0) continue;
    const double thr = cmc_threshold(ob.sat, many);
    const double jump = (ob.P[0] - Last_pseudorange_meter[k]) - lam * (ob.L[0] - Last_carrier_phase_cycle[k]);
    if (std::fabs(jump) <= thr) continue;
    ob.LLI[0] |= 1;
    if (ob.rcv == 1 && good->counted[ob.sat - 1]) {
      good->counted[ob.sat - 1] = false;
      if (is_sbas(ob.sat))
        good->n_sbas = std::max(0, good->n_sbas - 1);
      else
        good->n_non_sbas = std::max(0, good->n_non_sbas - 1);
    }
  }
  for (double& v : Last_pseudorange_meter) v = 0.0;
  for (double& v : Last_carrier_phase_cycle) v = 0.0;
  for (int i = 0; i < n; ++i) {
    const int k = mask_index(obs[i]);
    Last_pseudorange_meter[k] = obs[i].P[0];
    Last_carrier_phase_cycle[k] = obs[i].L[0];
  }
}

// One cycle less on the mask count of every observation present.
void age_meas_masks(const obsd_t* obs, int n) {
  for (int i = 0; i < n; ++i) {
    int& c = Mask_invalid_meas_cnt[mask_index(obs[i])];
    if (c > MASK_CNT_MIN) --c;
  }
}

// With more good satellites than the engine uses (n_good), SBAS satellites are
// left out once the count reaches its limit; the count falls again with fewer.
void update_sbas_sufficient_count(int n_good, const prcopt_t& o) {
  int c = Non_sbas_sv_sufficient_count;
  if (n_good > o.tarn_set_max_rtk_sv_numbers) {
    if (Rtk.sol.cont_pntpos_cnt > o.tarn_con_pnt_pos_fix_thr)
      c = std::min(SBAS_MAX_SUFFICIENT, c + (n_good > 15 ? 2 : 1));
    else
      c = SBAS_SUFFICIENT_LIMIT;
  } else {
    c = std::max(0, c - 2);
  }
  Non_sbas_sv_sufficient_count = static_cast<U08>(c);
}

// An SBAS satellite is left out while enough other satellites are in view, or
// once the filter holds its fix with enough other satellites.
bool sbas_allowed(const prcopt_t& o, int n_non_sbas) {
  const bool sufficient_ok = Non_sbas_sv_sufficient_count < SBAS_SUFFICIENT_LIMIT ||
                             !o.olvo_do_not_use_sbas_when_sv_are_sufficient || !o.tarn_set_max_rtk_sv_numbers;
  const bool hold_ok =
      !RELPOS_is_fix_and_hold() || n_non_sbas < SBAS_FEW_NON_SBAS || !o.olvo_remove_sbas_after_entering_fix_and_hold;
  return sufficient_ok && hold_ok;
}

// Observations that enter the cycle, moved to the front in their order;
// returns their count.
int select_obs(obsd_t* obs, int n, const prcopt_t& o, int n_non_sbas) {
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const obsd_t& ob = obs[i];
    if (!system_ok(ob.sat, o)) continue;
    if (ob.SNR[0] * 0.25 < cn0_mask(ob.sat, o)) continue;
    const double el = Rtk.ssat[ob.sat - 1].azel[1];
    if (!(el >= o.elmaskar || el == 0.0)) continue;
    if (is_sbas(ob.sat) && !sbas_allowed(o, n_non_sbas)) continue;
    if (o.olvo_mask_invalid_meas && Mask_invalid_meas_cnt[mask_index(ob)] > 0) continue;
    obs[m++] = ob;
  }
  return m;
}

// A stream's time went back (two recordings one after the other): the filter,
// the solution record (its time would give a negative time step), the code-
// minus-carrier history, the last float set and the GLONASS inter-frequency
// biases belong to the time before and are cleared, as is the no-fix count.
// Options, base position, navigation data and satellite masks stay.
void restart_after_time_back() {
  rtkinit_medium(&Rtk);
  for (double& v : Last_pseudorange_meter) v = 0.0;
  for (double& v : Last_carrier_phase_cycle) v = 0.0;
  for (double& e : Rover_elevation) e = 0.0;
  RELPOS_clear_last_float();
  GLOSDIFB_reset_glo_sd_ifb();
  Rtk_reset_engine_cont_no_fix_cnt = Rtk_reset_engine_cont_no_fix_cnt_real = 0;
}

// The single-point solution failed: with opt.integrity and a filter that holds
// a position, the relative update runs from the filter's prediction. The rover
// satellites above the elevation mask (as the single-point attempt saw them)
// count as valid. Returns 1 when the cycle goes on.
bool run_from_prediction(rtk_t* rtk, const obsd_t* obs, int nu) {
  if (!rtk->opt.integrity || norm(rtk->x, 3) <= 0.0) return false;
  for (int i = 0; i < nu; ++i) {
    ssat_t& s = rtk->ssat[obs[i].sat - 1];
    if (s.azel[1] >= rtk->opt.elmin) s.vs = 1;
  }
  rtk->sol.time = obs[0].time;
  return true;
}

// Slip indications of the n observations of this cycle gathered (all of
// them, before any screening), then those kept from earlier epochs passed on
// to the m selected ones (opt.integrity).
void gather_pending_slips(obsd_t* obs, int n) {
  for (int i = 0; i < n; ++i) Pending_slip[mask_index(obs[i])] |= static_cast<U08>(obs[i].LLI[0] & 1);
}
void apply_pending_slips(obsd_t* obs, int m) {
  for (int i = 0; i < m; ++i) obs[i].LLI[0] |= Pending_slip[mask_index(obs[i])];
}
// After the cycle: the kept indications of the satellites whose slips the
// relative update tested are done with; without a time update every
// satellite's outage count advances.
void settle_pending_slips(rtk_t* rtk) {
  if (!RELPOS_time_updated()) {
    RELPOS_count_outage(rtk);
    return;
  }
  for (int sat = 1; sat <= MAXSAT; ++sat) {
    if (!RELPOS_slip_tested(sat)) continue;
    Pending_slip[sat - 1] = Pending_slip[sat - 1 + MAXSAT] = 0;
  }
}

// The relative positioning cycle around the single-point solution.
int rtkpos(rtk_t* rtk, const obsd_t* obs, int n, const nav_t* nav) {
  prcopt_t* opt = &rtk->opt;
  rtk->sol.r_time = obs[0].time;
  int nu = 0, nr = 0;
  while (nu < n && obs[nu].rcv == 1) ++nu;
  while (nu + nr < n && obs[nu + nr].rcv == 2) ++nr;
  const gtime_t prev_time = rtk->sol.time;

  char msg[128];
  const bool spp_ok = pntpos(obs, nu, nav, opt, &rtk->sol, nullptr, rtk->ssat, msg) != 0;
  if (!spp_ok) {
    rtk->sol.cont_pntpos_cnt = 0;
    if (!run_from_prediction(rtk, obs, nu)) return 0;
  } else if (rtk->sol.cont_pntpos_cnt < CONT_PNTPOS_MAX) {
    rtk->sol.cont_pntpos_cnt++;
  }
  RELPOS_begin_cycle(spp_ok ? 0 : 1);
  if (opt->tarn_con_pnt_pos_fix_thr && !opt->olvo_reference_static_started_position) {
    if (rtk->sol.cont_pntpos_cnt < opt->tarn_con_pnt_pos_fix_thr) return 0;
    if (rtk->sol.cont_pntpos_cnt == opt->tarn_con_pnt_pos_fix_thr) opt->tarn_con_pnt_pos_fix_thr = 0;
  }
  if (!RTK_RAW_get_base_pos_xyz(rtk->rb)) return 0;
  if (prev_time.time != 0.0) rtk->tt = timediff(rtk->sol.time, prev_time);
  if (nr <= 0) return 0;
  rtk->sol.b_time = obs[nu].time;
  double cb_r = 0.0, cb_b = 0.0;
  RTK_RAW_get_rover_cbias(&cb_r);
  RTK_RAW_get_base_cbias(&cb_b);
  rtk->sol.age = static_cast<float>(timediff(obs[0].time, obs[nu].time) - (cb_r - cb_b) / CLIGHT);
  if (std::fabs(rtk->sol.age) > opt->maxtdiff) return 0;
  float vel[3];
  if (opt->mode == MODE_MOVEB && RTK_RAW_get_base_vel_xyz(vel)) {
    for (int i = 0; i < 3; ++i) rtk->rb[i] += vel[i] * rtk->sol.age;
  }
  relpos(rtk, obs, nu, nr, nav);
  if (opt->olvo_support_error_ellipsoid && rtk->sol.stat != SOLQ_FIX && rtk->sol.stat != SOLQ_FLOAT)
    RELPOS_reset_error_ellipsoid();
  return 1;
}

}  // namespace

void RTK_init(int navsys, int snr_mask, int geosnr_mask, int elv_mask, int is_rinex, int* exsats_p) {
  RINEX_init();
  CRV_init();
  RTCM3_init();
  RTK_RAW_init();
  prcopt_t opt{};
  RTK_CFG_get(&opt, navsys, snr_mask, geosnr_mask, elv_mask, exsats_p);
  rtkinit(&Rtk, &opt);
  RTK_NAV_init(opt.navsys);
  if (is_rinex) Navs.n = Navs.ns = Navs.ng = 0;
  for (int& c : Mask_invalid_meas_cnt) c = 0;
  for (double& e : Rover_elevation) e = 0.0;
  for (double& v : Last_pseudorange_meter) v = 0.0;
  for (double& v : Last_carrier_phase_cycle) v = 0.0;
  for (U08& v : Pending_slip) v = 0;
  Rtk_base_stream_type = 0;
  Rtk_reset_engine_cont_no_fix_cnt = Rtk_reset_engine_total_reset_cnt = 0;
  Rtk_reset_engine_cont_no_fix_cnt_real = Rtk_reset_engine_total_full_reset_cnt = 0;
  if (opt.olvo_apply_rtkinit_medium_in_rtk_reset_engine) PNTPOS_reset_chi_sqr_test_cnt();
  Non_sbas_sv_sufficient_count = 0;
  Has_master_sol = 0;
  Rover_meas_time_info = ROVER_MEAS_TIME_INFO_T{};
  for (int i = 0; i < NTIME_INFO; ++i) Rover_meas_time_info.raw_wn[i] = NO_EPOCH_WEEK;
}

void RTK_init_medium() { rtkinit_medium(&Rtk); }
void RTK_init_small() { rtkinit_small(&Rtk); }

int RTK_loop() {
  if (RTK_RAW_take_time_back()) restart_after_time_back();
  const prcopt_t& o = Rtk.opt;
  if (o.mode == MODE_MOVEB && RTK_get_base_stream_type() == STREAM_RTCM3) return 0;
  int n_rover = 0, n_base = 0;
  int n = RTK_RAW_get_meas(Obs_cycle, &n_rover, &n_base);
  n = drop_unknown_obs(Obs_cycle, n);
  // Without a rover epoch there is nothing to do: base pseudorange corrections
  // for a master receiver are not produced by this engine.
  if (n <= 0) return 0;

  record_rover_epoch_time(Obs_cycle[0]);
  sort_obsd(Obs_cycle, n);

  GoodSats good{};
  count_good_rover_sats(Obs_cycle, n, o, &good);
  if (o.olvo_cycle_slip_detect) code_carrier_jump_test(Obs_cycle, n, o, &good);
  if (o.olvo_mask_invalid_meas) age_meas_masks(Obs_cycle, n);
  if (o.olvo_do_not_use_sbas_when_sv_are_sufficient && o.tarn_set_max_rtk_sv_numbers)
    update_sbas_sufficient_count(good.n_non_sbas + good.n_sbas, o);

  if (o.integrity) gather_pending_slips(Obs_cycle, n);
  const int m = select_obs(Obs_cycle, n, o, good.n_non_sbas);
  if (m == 0) {
    if (o.olvo_delay_to_enter_new_sat) RELPOS_clear_last_float();
    if (o.integrity) RELPOS_count_outage(&Rtk);
    return 0;
  }
  if (o.integrity) apply_pending_slips(Obs_cycle, m);

  RELPOS_begin_cycle(0);
  rtkpos(&Rtk, Obs_cycle, m, &Navs);
  for (int sat = 1; sat <= MAXSAT; ++sat)
    if (Rtk.ssat[sat - 1].azel[1] != 0.0) Rover_elevation[sat - 1] = Rtk.ssat[sat - 1].azel[1];
  if (o.integrity) settle_pending_slips(&Rtk);
  if (o.olvo_delay_to_enter_new_sat && Rtk.sol.stat != SOLQ_FIX && Rtk.sol.stat != SOLQ_FLOAT)
    RELPOS_clear_last_float();
  Has_master_sol = 0;
  // with integrity the base epoch counts as used only when the relative update used it
  if (!o.integrity || RELPOS_time_updated()) RTK_RAW_set_has_used_base_obs_flag(1);
  ROVER_MEAS_TIME_INFO_T& ti = Rover_meas_time_info;
  ti.input_raw_ndx = static_cast<U08>((ti.input_raw_ndx + 1) % NTIME_INFO);
  return 1;
}

int RTK_get_solution(sol_t* sol_p) {
  *sol_p = Rtk.sol;
  return 1;
}

double RTK_get_baseline() {
  const unsigned char s = Rtk.sol.stat;
  if (s != SOLQ_FIX && s != SOLQ_FLOAT && s != SOLQ_SINGLE) return 0.0;
  double d[3];
  for (int i = 0; i < 3; ++i) d[i] = Rtk.sol.rr[i] - Rtk.rb[i];
  return norm(d, 3);
}

void RTK_get_rover_meas_time_info(U16* wn, U32* tow_in_ms, U16* meas_period_in_ms) {
  ROVER_MEAS_TIME_INFO_T& ti = Rover_meas_time_info;
  *wn = ti.raw_wn[ti.output_sol_ndx];
  *tow_in_ms = ti.raw_tow_in_ms[ti.output_sol_ndx];
  *meas_period_in_ms = ti.raw_meas_period_in_ms[ti.output_sol_ndx];
  ti.output_sol_ndx = static_cast<U08>((ti.output_sol_ndx + 1) % NTIME_INFO);
}

void RTK_print_solution() {}

namespace {

// Automatic resets of the filter while it does not fix.

// The last solution as the reset rules see it.
struct ResetState {
  bool fixed, flt;  // fixed / float solution
  bool medium;      // resets may also clear the solution (rtkinit_medium)
  int ns;           // satellites used
  float ratio;      // ambiguity validation ratio
};

// Full reset: filter and solution cleared, both no-fix counts restarted.
void full_reset() {
  rtkinit_medium(&Rtk);
  Rtk_reset_engine_cont_no_fix_cnt = Rtk_reset_engine_cont_no_fix_cnt_real = 0;
  ++Rtk_reset_engine_total_reset_cnt;
  ++Rtk_reset_engine_total_full_reset_cnt;
}

// Filter reset that keeps the solution; the no-fix count restarts.
void small_reset() {
  rtkinit_small(&Rtk);
  Rtk_reset_engine_cont_no_fix_cnt = 0;
  ++Rtk_reset_engine_total_reset_cnt;
}

// A fix clears the single-point chi-square failure count; a weak float
// solution (ratio below 2) after more than 3 failures resets the filter fully.
void reset_on_chi_sqr_failures(const ResetState& st) {
  unsigned int chi = 0;
  PNTPOS_get_chi_sqr_test_cnt(&chi);
  if (st.fixed) {
    PNTPOS_reset_chi_sqr_test_cnt();
  } else if (st.flt && st.ratio < 2.0f && chi > 3) {
    full_reset();
    PNTPOS_reset_chi_sqr_test_cnt();
  }
}

// Method 1: reset after 120 cycles without a fix with 8 or more satellites, 180 with fewer.
void reset_by_satellite_count(const ResetState& st) {
  if (Rtk_reset_engine_cont_no_fix_cnt > static_cast<unsigned long>(st.ns >= 8 ? 120 : 180)) small_reset();
}

// Method 2, once the limit of method 1 is passed: a promising float solution
// wins some cycles back (30 above ratio 2.5, 15 above 2, 5 above 1.5 with
// fewer than 8 satellites); otherwise the filter is reset, fully when the
// single-point solution has failed its chi-square test since the last reset.
void reset_by_satellite_count_and_ratio(const ResetState& st) {
  unsigned long& cnt = Rtk_reset_engine_cont_no_fix_cnt;
  if (cnt <= static_cast<unsigned long>(st.ns > 7 ? 120 : 180)) return;
  if (st.flt && st.ratio > 2.5f) {
    cnt -= std::min(cnt, 30ul);
  } else if (st.flt && st.ratio > 2.0f) {
    cnt -= std::min(cnt, 15ul);
  } else if (st.flt && st.ratio > 1.5f && st.ns < 8) {
    cnt -= std::min(cnt, 5ul);
  } else {
    if (st.medium) {
      unsigned int chi = 0;
      PNTPOS_get_chi_sqr_test_cnt(&chi);
      if (chi != 0) {
        rtkinit_medium(&Rtk);
        Rtk_reset_engine_cont_no_fix_cnt_real = 0;
        ++Rtk_reset_engine_total_full_reset_cnt;
      } else {
        rtkinit_small(&Rtk);
      }
      PNTPOS_reset_chi_sqr_test_cnt();
    } else {
      rtkinit_small(&Rtk);
    }
    cnt = 0;
    ++Rtk_reset_engine_total_reset_cnt;
  }
}

// Method 3: reset after 120 cycles without a fix plus 10 per whole km of baseline.
void reset_by_baseline_length() {
  const unsigned long limit = 120ul + 10ul * static_cast<unsigned long>(RTK_get_baseline() / 1000.0);
  if (Rtk_reset_engine_cont_no_fix_cnt > limit) small_reset();
}

// A float solution that has not fixed for 360 cycles (900 with 7 or fewer
// satellites) on a baseline under 10 km: reset fully when its ratio is below 2,
// except that a ratio above 1.5 with fewer than 8 satellites wins 5 cycles back.
void reset_after_long_float(const ResetState& st) {
  unsigned long& real = Rtk_reset_engine_cont_no_fix_cnt_real;
  if (real > static_cast<unsigned long>(st.ns > 7 ? 360 : 900) && RTK_get_baseline() < 10000.0) {
    if (st.flt && st.ratio > 1.5f && st.ns < 8) {
      real -= std::min(real, 5ul);
    } else if (st.flt && st.ratio < 2.0f) {
      full_reset();
      PNTPOS_reset_chi_sqr_test_cnt();
    }
  }
}

}  // namespace

void RTK_reset_engine_tick(int method_flag) {
  const prcopt_t& o = Rtk.opt;
  if (o.olvo_float_rtk_mode) return;
  const sol_t& sol = Rtk.sol;
  const ResetState st{sol.stat == SOLQ_FIX, sol.stat == SOLQ_FLOAT,
                      o.olvo_apply_rtkinit_medium_in_rtk_reset_engine != 0, sol.ns, sol.ratio};
  if (st.fixed) {
    Rtk_reset_engine_cont_no_fix_cnt = Rtk_reset_engine_cont_no_fix_cnt_real = 0;
  } else {
    ++Rtk_reset_engine_cont_no_fix_cnt;
    ++Rtk_reset_engine_cont_no_fix_cnt_real;
  }
  if (st.medium) reset_on_chi_sqr_failures(st);
  if (method_flag == 1)
    reset_by_satellite_count(st);
  else if (method_flag == 2)
    reset_by_satellite_count_and_ratio(st);
  else if (method_flag == 3)
    reset_by_baseline_length();
  if (st.medium) reset_after_long_float(st);
}

void RTK_get_reset_count_for_debug(long unsigned int* cont_no_fix_count_p, long unsigned int* total_reset_count_p,
                                   long unsigned int* total_full_reset_count_p) {
  *cont_no_fix_count_p = Rtk_reset_engine_cont_no_fix_cnt;
  *total_reset_count_p = Rtk_reset_engine_total_reset_cnt;
  *total_full_reset_count_p = Rtk_reset_engine_total_full_reset_cnt;
}

int RTK_get_positioning_mode() { return Rtk.opt.mode; }
int RTK_get_olvo_calibrate_GLO_SD_IFB_flag() { return Rtk.opt.olvo_calibrate_GLO_SD_IFB; }

void RTK_get_constraint_baseline_info(D64* baseline_info) {
  baseline_info[0] = Rtk.opt.baseline[0];
  baseline_info[1] = Rtk.opt.baseline[1];
}

void RTK_get_used_sbas_svid(U08* used_sbas_info) {
  int k = 0;
  for (int sat = 1; sat <= MAXSAT && k < 5; ++sat) {
    int prn = 0;
    if (satsys(sat, &prn) != SYS_SBS || !Rtk.ssat[sat - 1].vsat[0]) continue;
    used_sbas_info[1 + k++] = static_cast<U08>(prn);
  }
  used_sbas_info[0] = static_cast<U08>(k);
}

double RTK_get_solution_speed_km_per_hour() { return norm(Rtk.sol.rr + 3, 3) * 3.6; }

int RTK_get_error_ellipsoid_needed_info(F32* edop_sqr, F32* ndop_sqr, F32* vdop_sqr, F32* en_cov, F32* var_residual) {
  return RELPOS_get_error_ellipsoid(edop_sqr, ndop_sqr, vdop_sqr, en_cov, var_residual);
}

int RTK_get_base_stream_type() {
  if (Rtk_base_stream_type == 0) {
    unsigned int rtcm[RTCM3_NSTATUS] = {0};
    RTCM3_get_base_status(rtcm);
    int dbg[11] = {0};
    CRV_get_base_status(dbg);
    if (rtcm[RTCM3_STATUS_CRC_GOOD] > 5)
      Rtk_base_stream_type = STREAM_RTCM3;  // more than 5 frames with a good CRC
    else if (dbg[3] >= STREAM_MIN_OBS)
      Rtk_base_stream_type = STREAM_CRV_RAW;
    else if (dbg[1] >= STREAM_MIN_OBS)
      Rtk_base_stream_type = STREAM_CRV_EXTRAW;
    if (Rtk_base_stream_type != 0) RTK_RAW_set_base_stream_type(Rtk_base_stream_type);
  }
  return Rtk_base_stream_type;
}

const rtk_t* RTK_get_rtk() { return &Rtk; }
