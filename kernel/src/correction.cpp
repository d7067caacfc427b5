// Propagation and satellite clock corrections: broadcast ionospheric
// parameters in backup memory, the Klobuchar and tropospheric models, and the
// satellite clock terms of a range.
#include "kernel/src/correction.h"

#include <cmath>
#include <cstring>

#include "kernel/src/backup_layout.h"
#include "kernel/src/ephemeris.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

// From the satellite table: the ephemeris record of a GPS-type satellite (null
// when it has none) and the satellite's GNSS type.
EPH_T SV_get_gps_ephemeris(SV_T sv);
U16 SV_get_type(SV_T sv);

static_assert(sizeof(COR_T) == COR_RECORD_SIZE);

namespace {

constexpr S16 PAGE18_SV_ID = 56;               // SV ID of subframe 4 page 18
constexpr F32 SEMI_PI = 3.1415926535898F;      // rad per semicircle
constexpr F32 HALF_PI = 1.5707963267949F;      // largest elevation, rad
constexpr F32 TWO_PI = 6.2831853071796F;       // largest azimuth, rad
constexpr F32 LIGHT_SPEED_F32 = 299792458.0F;  // m/s, 299 792 448 in single precision
constexpr D64 REL_FACTOR = -2.2253001e-17;     // -2 / c^2, s^2/m^2
constexpr F32 IONO_NIGHT_DELAY = 5.0e-9F;      // s
constexpr F32 IONO_PHI_MAX = 0.416F;           // semicircles
constexpr F32 IONO_MIN_PERIOD = 72000.0F;      // s
constexpr F32 IONO_X_MAX = 1.57F;              // phase limit of the cosine term, rad
constexpr S32 SEC_PER_DAY = 86400;

COR_T Cor{};
S16 Ionospheric_update_valid = 0;
U08* Region = nullptr;
U32 Piece_offset = 0;
COR_BACKUP_IONO_CALLBACK_T Backup_iono_callback = nullptr;
COR_CLEAR_IONO_CALLBACK_T Clear_iono_callback = nullptr;

U08* record_bytes() { return Region + Piece_offset; }
U08* crc_bytes() { return Region + Piece_offset + COR_RECORD_SIZE; }

// Write the working record through to the region with its CRC.
void store_record() {
  if (Region == nullptr) return;
  std::memcpy(record_bytes(), &Cor, COR_RECORD_SIZE);
  const U16 crc = crc16(record_bytes(), COR_RECORD_SIZE);
  std::memcpy(crc_bytes(), &crc, sizeof crc);
}

// Data bits Dfirst..Dfirst+n-1 of a polarity-corrected word (D1 at bit 29),
// as a two's-complement value of n bits.
S32 signed_field(U32 word, int first, int n) {
  const U32 v = (word >> (31 - first - n)) & ((1U << n) - 1U);
  const U32 sign = 1U << (n - 1);
  return static_cast<S32>(v ^ sign) - static_cast<S32>(sign);
}
U32 unsigned_field(U32 word, int first, int n) { return (word >> (31 - first - n)) & ((1U << n) - 1U); }

F32 cubic(F32 c0, F32 c1, F32 c2, F32 c3, F32 x) { return c0 + x * (c1 + x * (c2 + x * c3)); }

}  // namespace

S16 COR_init_storage_address(U08* region_p, U32 offset) {
  Region = region_p;
  Piece_offset = offset;
  return static_cast<S16>(COR_BACKUP_SIZE);
}

S16 COR_init(U08* region_p) {
  if (region_p != nullptr) COR_init_storage_address(region_p, 0);
  Cor = COR_T{};
  Ionospheric_update_valid = 0;
  if (Region == nullptr) return static_cast<S16>(COR_BACKUP_SIZE);
  U16 crc = 0;
  std::memcpy(&crc, crc_bytes(), sizeof crc);
  if (ENDIAN_need_swap() != 0) {
    COR_data_endian_conversion(record_bytes(), &crc);
    std::memcpy(crc_bytes(), &crc, sizeof crc);
  }
  if (crc != 0 && crc == crc16(record_bytes(), COR_RECORD_SIZE)) {
    std::memcpy(&Cor, record_bytes(), COR_RECORD_SIZE);
    Ionospheric_update_valid = 1;
  }
  return static_cast<S16>(COR_BACKUP_SIZE);
}

void COR_data_endian_conversion(void* data_p, U16* crc_p) {
  if (data_p == nullptr || crc_p == nullptr) return;
  auto* bytes = static_cast<U08*>(data_p);
  const U16 crc_before = crc16(bytes, COR_RECORD_SIZE);
  COR_T rec{};
  std::memcpy(&rec, bytes, COR_RECORD_SIZE);
  for (F32& a : rec.a) ENDIAN_swap_F32(&a);
  for (S32& b : rec.b) ENDIAN_swap_S32(&b);
  std::memcpy(bytes, &rec, COR_RECORD_SIZE);
  const U16 crc_after = crc16(bytes, COR_RECORD_SIZE);
  U16 stored = *crc_p;
  ENDIAN_swap_U16(&stored);
  if (stored == crc_before)
    stored = crc_after;
  else if (stored == crc_after)
    stored = 0;
  *crc_p = stored;
}

void COR_update_ionospheric_parameter(const U32* dws_p) {
  if (dws_p == nullptr) return;
  if (static_cast<S16>(unsigned_field(dws_p[2], 3, 6)) != PAGE18_SV_ID) return;
  // Word 3: alpha0 D9-16, alpha1 D17-24; word 4: alpha2 D1-8, alpha3 D9-16,
  // beta0 D17-24; word 5: beta1 D1-8, beta2 D9-16, beta3 D17-24.
  const std::array<S32, 4> alpha = {signed_field(dws_p[2], 9, 8), signed_field(dws_p[2], 17, 8),
                                    signed_field(dws_p[3], 1, 8), signed_field(dws_p[3], 9, 8)};
  const std::array<S32, 4> beta = {signed_field(dws_p[3], 17, 8), signed_field(dws_p[4], 1, 8),
                                   signed_field(dws_p[4], 9, 8), signed_field(dws_p[4], 17, 8)};
  constexpr std::array<int, 4> ALPHA_EXP = {-30, -27, -24, -24};
  constexpr std::array<int, 4> BETA_SHIFT = {11, 14, 16, 16};
  for (std::size_t i = 0; i < 4; ++i) {
    Cor.a[i] = std::ldexp(static_cast<F32>(alpha[i]), ALPHA_EXP[i]);
    Cor.b[i] = beta[i] * (S32{1} << BETA_SHIFT[i]);
  }
  Ionospheric_update_valid = 1;
  store_record();
  if (Backup_iono_callback != nullptr) Backup_iono_callback(&Cor, static_cast<S16>(COR_RECORD_SIZE));
}

void COR_clear_all() {
  Ionospheric_update_valid = 0;
  if (Region != nullptr) {
    const U16 zero = 0;
    std::memcpy(crc_bytes(), &zero, sizeof zero);
  }
  if (Clear_iono_callback != nullptr) Clear_iono_callback();
}

S16 COR_get_ionospheric_parameters(COR_T* cor_p) {
  if (Ionospheric_update_valid == 0 || cor_p == nullptr) return 0;
  *cor_p = Cor;
  return 1;
}

void COR_install_backup_iono_parameters_callback(COR_BACKUP_IONO_CALLBACK_T func) { Backup_iono_callback = func; }
void COR_install_clear_iono_parameters_callback(COR_CLEAR_IONO_CALLBACK_T func) { Clear_iono_callback = func; }

S16 COR_get_backup_iono_parameters_size() { return static_cast<S16>(COR_RECORD_SIZE); }

S16 COR_update_iono_parameters_from_backup_region(const void* data_p) {
  if (data_p == nullptr) return 0;
  std::memcpy(&Cor, data_p, COR_RECORD_SIZE);
  Ionospheric_update_valid = 1;
  store_record();
  return 1;
}

F32 COR_ionospheric_model(S32 tod, F32 elevation, F32 azimuth, const LLA_T* lla_p) {
  if (Ionospheric_update_valid == 0 || lla_p == nullptr) return 0.0F;
  if (!(std::fabs(elevation) <= HALF_PI) || !(std::fabs(azimuth) <= TWO_PI)) return 0.0F;
  if (!std::isfinite(lla_p->lat) || !std::isfinite(lla_p->lon)) return 0.0F;
  const F32 e_sc = elevation / SEMI_PI;  // semicircles
  const F32 psi = 0.0137F / (e_sc + 0.11F) - 0.022F;
  F32 phi_i = static_cast<F32>(lla_p->lat) / SEMI_PI + psi * std::cos(azimuth);
  if (phi_i > IONO_PHI_MAX) phi_i = IONO_PHI_MAX;
  if (phi_i < -IONO_PHI_MAX) phi_i = -IONO_PHI_MAX;
  const F32 lambda_i = static_cast<F32>(lla_p->lon) / SEMI_PI + psi * std::sin(azimuth) / std::cos(phi_i * SEMI_PI);
  const F32 phi_m = phi_i + 0.064F * std::cos((lambda_i - 1.617F) * SEMI_PI);
  F32 t = 43200.0F * lambda_i + static_cast<F32>(tod);
  t = std::fmod(t, static_cast<F32>(SEC_PER_DAY));
  if (t < 0.0F) t += static_cast<F32>(SEC_PER_DAY);
  F32 amp = cubic(Cor.a[0], Cor.a[1], Cor.a[2], Cor.a[3], phi_m);
  if (amp < 0.0F) amp = 0.0F;
  F32 per = cubic(static_cast<F32>(Cor.b[0]), static_cast<F32>(Cor.b[1]), static_cast<F32>(Cor.b[2]),
                  static_cast<F32>(Cor.b[3]), phi_m);
  if (per < IONO_MIN_PERIOD) per = IONO_MIN_PERIOD;
  const F32 x = TWO_PI * (t - 50400.0F) / per;
  const F32 k = 0.53F - e_sc;
  const F32 f = 1.0F + 16.0F * k * k * k;
  F32 delay = f * IONO_NIGHT_DELAY;
  if (std::fabs(x) < IONO_X_MAX) {
    const F32 x2 = x * x;
    delay = f * (IONO_NIGHT_DELAY + amp * (1.0F - x2 / 2.0F + x2 * x2 / 24.0F));
  }
  const F32 metres = delay * LIGHT_SPEED_F32;
  return std::isfinite(metres) ? metres : 0.0F;  // parameters beyond any broadcast value give no delay
}

F32 COR_tropospheric_model(F32 elevation, F32 altitude) {
  const F32 metres = 2.47F * std::exp(-0.000133F * altitude) / (std::sin(elevation) + 0.0121F);
  return std::isfinite(metres) ? metres : 0.0F;  // a non-finite input gives no delay
}

F32 COR_group_delay(SV_T sv) {
  if (sv == nullptr || SV_get_type(sv) != GNSS_TYPE_GPS) return 0.0F;
  return EPH_get_TGD(SV_get_gps_ephemeris(sv));
}

F32 COR_relativistic_effect(const POS_T* sv_pos_p, const VEL_T* sv_vel_p) {
  if (sv_pos_p == nullptr || sv_vel_p == nullptr) return 0.0F;
  const auto px = static_cast<F32>(sv_pos_p->px);
  const auto py = static_cast<F32>(sv_pos_p->py);
  const auto pz = static_cast<F32>(sv_pos_p->pz);
  const F32 r_dot_v = px * sv_vel_p->vx + py * sv_vel_p->vy + pz * sv_vel_p->vz;  // m^2/s
  return static_cast<F32>(REL_FACTOR * static_cast<D64>(r_dot_v));
}

S16 COR_clock_correction_polynomials(SV_T sv, S16 wn, D64 t, F32* dt_poly_p, F32* ddt_poly_p) {
  F32 dt = 0.0F;
  F32 ddt = 0.0F;
  S16 ok = 0;
  if (sv != nullptr && SV_get_type(sv) == GNSS_TYPE_GPS) {
    ok = EPH_get_delta_tsv(SV_get_gps_ephemeris(sv), wn, t, &dt, &ddt);
    if (ok == 0) dt = ddt = 0.0F;
  }
  if (dt_poly_p != nullptr) *dt_poly_p = dt;
  if (ddt_poly_p != nullptr) *ddt_poly_p = ddt;
  return ok;
}

F32 COR_erd(SV_T /*sv*/) { return 0.0F; }
