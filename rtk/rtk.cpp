// RTK driver: navigation data store.
#include "rtk/rtk.h"

#include <cmath>

#include "rtk/eph.h"

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
  Navs.lam[eph->sat - 1][0] = satwavelen(eph->sat, 0, &Navs);
  return 1;
}

int RTK_input_seph(const seph_t* seph) {
  int prn = 0;
  if (satsys(seph->sat, &prn) != SYS_SBS) return 0;
  seph_t* s = &Navs.seph[prn - MINPRNSBS];
  if (std::fabs(timediff(s->t0, seph->t0)) < 0.001) return 0;
  *s = *seph;
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
  if (valid_frq(kept)) g->frq = kept;
  else if (!valid_frq(g->frq)) g->frq = FRQ_UNKNOWN;
  Navs.lam[geph->sat - 1][0] = satwavelen(geph->sat, 0, &Navs);
  return 1;
}

int RTK_set_glonass_freq_num(U08 slot_num, S08 k_num) {
  if (slot_num < MINPRNGLO || slot_num > MAXPRNGLO || !valid_frq(k_num)) return 0;
  geph_t* g = &Navs.geph[slot_num - 1];
  if (valid_frq(g->frq)) return 0;
  g->frq = k_num;
  const int sat = satno(SYS_GLO, slot_num);
  const double lam = satwavelen(sat, 0, &Navs);
  if (lam != 0.0) Navs.lam[sat - 1][0] = lam;
  return 1;
}
