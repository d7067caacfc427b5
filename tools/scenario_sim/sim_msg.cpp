// CRVRAW frames and the broadcast message encoders of the simulator.
#include <cmath>
#include <cstring>

#include "tools/scenario_sim/sim.h"

namespace {

// Writes the low len bits of value at bit offset pos (MSB first).
void put_bits(U08* buf, int pos, int len, unsigned long long value) {
  for (int k = 0; k < len; ++k) {
    const int bit = pos + k;
    const unsigned int b = static_cast<unsigned int>((value >> (len - 1 - k)) & 1u);
    const U08 m = static_cast<U08>(0x80u >> (bit & 7));
    if (b)
      buf[bit >> 3] = static_cast<U08>(buf[bit >> 3] | m);
    else
      buf[bit >> 3] = static_cast<U08>(buf[bit >> 3] & ~m);
  }
}

// Two's complement field.
void put_signed(U08* buf, int pos, int len, long long value) {
  put_bits(buf, pos, len, static_cast<unsigned long long>(value) & ((1ULL << len) - 1ULL));
}

// Sign and magnitude field: sign bit first.
void put_sm(U08* buf, int pos, int len, long long value) {
  put_bits(buf, pos, 1, value < 0 ? 1u : 0u);
  put_bits(buf, pos + 1, len - 1, static_cast<unsigned long long>(value < 0 ? -value : value));
}

int be16(U08* p, unsigned int v) {
  p[0] = static_cast<U08>(v >> 8);
  p[1] = static_cast<U08>(v);
  return 2;
}
int be32(U08* p, U32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<U08>(v >> (24 - 8 * i));
  return 4;
}
int bef32(U08* p, float f) {
  U32 u;
  std::memcpy(&u, &f, 4);
  return be32(p, u);
}
int bef64(U08* p, double d) {
  U64 u;
  std::memcpy(&u, &d, 8);
  be32(p, static_cast<U32>(u >> 32));
  return 4 + be32(p + 4, static_cast<U32>(u));
}

// TLM and HOW words of a subframe; HOW TOW count is the start of the next subframe.
void tlm_how(U08* sf, double tow_start, int id) {
  put_bits(sf, 0, 8, 0x8B);
  put_bits(sf, 8, 14, 0x1234 & 0x3FFF);
  put_bits(sf, 22, 2, 0);
  const unsigned int count = (static_cast<unsigned int>(std::floor(tow_start / 6.0 + 0.5)) + 1u) % 100800u;
  put_bits(sf, 24, 17, count);
  put_bits(sf, 41, 1, 0);  // alert
  put_bits(sf, 42, 1, 1);  // anti-spoofing on
  put_bits(sf, 43, 3, static_cast<unsigned int>(id));
  put_bits(sf, 46, 2, 0);
}

}  // namespace

void sim_encode_gps_subframes(const SIM_GPS_EPH_T* e, double tow, U08 sf[3][30]) {
  std::memset(sf, 0, 90);
  // subframe 1
  U08* s = sf[0];
  tlm_how(s, tow, 1);
  put_bits(s, 48, 10, static_cast<unsigned int>(e->week) & 1023u);
  put_bits(s, 58, 2, static_cast<unsigned int>(e->l2code));
  put_bits(s, 60, 4, static_cast<unsigned int>(e->ura));
  put_bits(s, 64, 6, static_cast<unsigned int>(e->health));
  put_bits(s, 70, 2, static_cast<unsigned int>(e->iodc) >> 8);
  put_bits(s, 72, 1, static_cast<unsigned int>(e->l2p));
  put_signed(s, 160, 8, e->tgd);
  put_bits(s, 168, 8, static_cast<unsigned int>(e->iodc) & 0xFFu);
  put_bits(s, 176, 16, static_cast<unsigned int>(e->toc));
  put_signed(s, 192, 8, e->af2);
  put_signed(s, 200, 16, e->af1);
  put_signed(s, 216, 22, e->af0);
  // subframe 2
  s = sf[1];
  tlm_how(s, tow + 6.0, 2);
  put_bits(s, 48, 8, static_cast<unsigned int>(e->iode));
  put_signed(s, 56, 16, e->crs);
  put_signed(s, 72, 16, e->deln);
  put_signed(s, 88, 32, e->m0);
  put_signed(s, 120, 16, e->cuc);
  put_bits(s, 136, 32, e->e);
  put_signed(s, 168, 16, e->cus);
  put_bits(s, 184, 32, e->sqrta);
  put_bits(s, 216, 16, static_cast<unsigned int>(e->toe));
  put_bits(s, 232, 1, static_cast<unsigned int>(e->fit_flag));
  put_bits(s, 233, 5, static_cast<unsigned int>(e->aodo));
  // subframe 3
  s = sf[2];
  tlm_how(s, tow + 12.0, 3);
  put_signed(s, 48, 16, e->cic);
  put_signed(s, 64, 32, e->omg0);
  put_signed(s, 96, 16, e->cis);
  put_signed(s, 112, 32, e->i0);
  put_signed(s, 144, 16, e->crc);
  put_signed(s, 160, 32, e->omg);
  put_signed(s, 192, 24, e->omgd);
  put_bits(s, 216, 8, static_cast<unsigned int>(e->iode));
  put_signed(s, 224, 14, e->idot);
}

void sim_encode_glo_string(const SIM_GLO_EPH_T* g, int m, U08 out[9]) {
  // Bit offsets below count from the first of the 72 bits (ICD bit 80) down to ICD bit 9.
  std::memset(out, 0, 9);
  const int k = m - 2;  // axis of strings 1..3 is m - 1
  switch (m) {
    case 1:
      put_bits(out, 2, 2, static_cast<unsigned int>(g->p1));
      put_bits(out, 4, 5, static_cast<unsigned int>(g->tk_h));
      put_bits(out, 9, 6, static_cast<unsigned int>(g->tk_m));
      put_bits(out, 15, 1, static_cast<unsigned int>(g->tk_30));
      break;
    case 2:
      put_bits(out, 0, 3, static_cast<unsigned int>(g->bn));
      put_bits(out, 3, 1, static_cast<unsigned int>(g->p2));
      put_bits(out, 4, 7, static_cast<unsigned int>(g->tb));
      break;
    case 3:
      put_bits(out, 0, 1, static_cast<unsigned int>(g->p3));
      put_sm(out, 1, 11, g->gamn);
      put_bits(out, 13, 2, 0);
      put_bits(out, 15, 1, static_cast<unsigned int>(g->ln));
      break;
    case 4:
      put_sm(out, 0, 22, g->taun);
      put_sm(out, 22, 5, g->dtaun);
      put_bits(out, 27, 5, static_cast<unsigned int>(g->en));
      put_bits(out, 46, 1, static_cast<unsigned int>(g->p4));
      put_bits(out, 47, 4, static_cast<unsigned int>(g->ft));
      put_bits(out, 54, 11, static_cast<unsigned int>(g->nt));
      put_bits(out, 65, 5, static_cast<unsigned int>(g->slot));
      put_bits(out, 70, 2, static_cast<unsigned int>(g->m));
      return;
    default:
      return;
  }
  const int axis = k + 1;  // 0 x, 1 y, 2 z
  put_sm(out, 16, 24, g->v[axis]);
  put_sm(out, 40, 5, g->a[axis]);
  put_sm(out, 45, 27, g->x[axis]);
}

int sim_frame(const U08* payload, int n, U08* out) {
  out[0] = 0xA0;
  out[1] = 0xA1;
  be16(out + 2, static_cast<unsigned int>(n));
  U08 cs = 0;
  for (int i = 0; i < n; ++i) {
    out[4 + i] = payload[i];
    cs = static_cast<U08>(cs ^ payload[i]);
  }
  out[4 + n] = cs;
  out[5 + n] = 0x0D;
  out[6 + n] = 0x0A;
  return n + 7;
}

int sim_msg_time(int iod, int week, U32 tow_ms, int period_ms, U08* out) {
  U08 p[10];
  p[0] = 0xDC;
  p[1] = static_cast<U08>(iod);
  be16(p + 2, static_cast<unsigned int>(week));
  be32(p + 4, tow_ms);
  be16(p + 8, static_cast<unsigned int>(period_ms));
  return sim_frame(p, 10, out);
}

int sim_msg_raw(int iod, const SIM_OBS_T* obs, int n, U08* out) {
  U08 p[SIM_MAX_FRAME];
  p[0] = 0xDD;
  p[1] = static_cast<U08>(iod);
  p[2] = static_cast<U08>(n);
  for (int k = 0; k < n; ++k) {
    U08* r = p + 3 + 23 * k;
    r[0] = static_cast<U08>(obs[k].sv);
    r[1] = static_cast<U08>(obs[k].cn0);
    bef64(r + 2, obs[k].pr);
    bef64(r + 10, obs[k].cp);
    bef32(r + 18, obs[k].dop);
    r[22] = static_cast<U08>(obs[k].ind);
  }
  return sim_frame(p, 3 + 23 * n, out);
}

int sim_msg_extraw(int iod, int week, U32 tow_ms, int period_ms, int indicator, const SIM_OBS_T* obs, int n, U08* out) {
  U08 p[SIM_MAX_FRAME];
  std::memset(p, 0, 14);
  p[0] = 0xE5;
  p[1] = 1;  // message version
  p[2] = static_cast<U08>(iod);
  be16(p + 3, static_cast<unsigned int>(week));
  be32(p + 5, tow_ms);
  be16(p + 9, static_cast<unsigned int>(period_ms));
  p[11] = static_cast<U08>(indicator);
  p[13] = static_cast<U08>(n);
  for (int k = 0; k < n; ++k) {
    U08* r = p + 14 + 31 * k;
    std::memset(r, 0, 31);
    r[0] = static_cast<U08>(obs[k].gnss & 15);
    r[1] = static_cast<U08>(obs[k].sv);
    r[2] = static_cast<U08>((obs[k].frq + 7) & 15);
    r[3] = static_cast<U08>(obs[k].cn0);
    bef64(r + 4, obs[k].pr);
    bef64(r + 12, obs[k].cp);
    bef32(r + 20, obs[k].dop);
    be16(r + 27, obs[k].ind);
  }
  return sim_frame(p, 14 + 31 * n, out);
}

int sim_msg_rcv(int iod, const double* pos, const float* vel, double cbias, U08* out) {
  U08 p[57];
  std::memset(p, 0, sizeof p);
  p[0] = 0xDF;
  p[1] = static_cast<U08>(iod);
  for (int i = 0; i < 3; ++i) bef64(p + 13 + 8 * i, pos[i]);
  for (int i = 0; i < 3; ++i) bef32(p + 37 + 4 * i, vel[i]);
  bef64(p + 49, cbias);
  return sim_frame(p, 57, out);
}

int sim_msg_gps_sf(int prn, const U08 sf[30], U08* out) {
  U08 p[33];
  p[0] = 0xE0;
  p[1] = static_cast<U08>(prn);
  p[2] = 0;  // channel
  std::memcpy(p + 3, sf, 30);
  return sim_frame(p, 33, out);
}

int sim_msg_glo_string(int slot, int m, const U08 data[9], U08* out) {
  U08 p[12];
  p[0] = 0xE1;
  p[1] = static_cast<U08>(slot + 64);
  p[2] = static_cast<U08>(m);
  std::memcpy(p + 3, data, 9);
  return sim_frame(p, 12, out);
}

int sim_msg_sbas9(const SIM_SBAS9_T* s, U08* out) {
  U08 p[103];
  std::memset(p, 0, sizeof p);
  p[0] = 0xE4;
  p[1] = static_cast<U08>(s->number);
  p[2] = 9;
  be16(p + 4, static_cast<unsigned int>(s->week));
  be32(p + 6, static_cast<U32>(s->tow));
  be32(p + 10, static_cast<U32>(s->t0));
  p[14] = static_cast<U08>(s->ura);
  for (int i = 0; i < 3; ++i) {
    bef64(p + 15 + 8 * i, s->pos[i]);
    bef64(p + 39 + 8 * i, s->vel[i]);
    bef64(p + 63 + 8 * i, s->acc[i]);
  }
  bef64(p + 87, s->af0);
  bef64(p + 95, s->af1);
  return sim_frame(p, 103, out);
}
