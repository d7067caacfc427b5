// NMEA 0183 sentence builders: fixed formats into 256-byte buffers, cut to
// fit, always with checksum, CR LF and NUL.
#include "misc/nmea.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int TAIL_LEN = 5;                             // "*XX\r\n"
constexpr int BODY_MAX = NMEA_BUF_SIZE - TAIL_LEN - 1;  // body characters that fit with the tail and the NUL
constexpr D64 MINUTES_PER_DEGREE = 60.0;
// Minutes that print as 60.0000 with four decimals are printed as 0 minutes
// of the next degree.
constexpr D64 MINUTE_CARRY = 59.99995;
constexpr D64 KNOTS_TO_KMH = 1.852;  // km/h per knot (1 nautical mile = 1852 m)
constexpr D64 GEOID_SCALE = 0.1;     // m per unit of NMEA_DATA_T::geoid

// A sentence being formatted into the caller's buffer: its body may take at
// most BODY_MAX characters; what does not fit is cut.
struct Sentence {
  char* buf;
  int len = 0;
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void put(Sentence* s, const char* fmt, ...) {
  if (s->len >= BODY_MAX) return;
  std::va_list ap;
  va_start(ap, fmt);
  const int room = BODY_MAX - s->len + 1;  // snprintf's size counts the NUL
  const int n = std::vsnprintf(s->buf + s->len, static_cast<std::size_t>(room), fmt, ap);
  va_end(ap);
  if (n < 0) {
    s->buf[s->len] = '\0';
    return;
  }
  s->len = n < room ? s->len + n : BODY_MAX;
}

// The tail "*XX\r\n" after the body, the NUL; returns the sentence length.
S16 finish(Sentence* s) {
  s->buf[s->len] = '\0';
  const U08 sum = cal_checksum(s->buf + 1);  // after the '$'
  const int n = std::snprintf(s->buf + s->len, TAIL_LEN + 1, "*%02X%c%c", sum, 13, 10);
  return static_cast<S16>(s->len + (n > 0 ? n : 0));
}

Sentence start(U08* buf_p) {
  Sentence s{reinterpret_cast<char*>(buf_p)};
  s.buf[0] = '\0';
  return s;
}

S16 valid_fix_mode(S16 mode) { return mode >= FIX_NONE && mode <= FIX_DIFF ? mode : static_cast<S16>(FIX_NONE); }
S16 clamp_count(S32 n) { return static_cast<S16>(n < 0 ? 0 : (n > NMEA_MAX_SV ? NMEA_MAX_SV : n)); }
char mode_indicator(S16 mode) { return static_cast<char>(Nmea_mi[static_cast<std::size_t>(valid_fix_mode(mode))]); }

// Degrees and minutes as printed: minutes of MINUTE_CARRY or more become 0
// of the next degree.
struct DegMin {
  int deg;
  D64 min;
};
DegMin deg_min(S16 deg, F32 min) {
  const D64 m = static_cast<D64>(min);
  if (m >= MINUTE_CARRY) return DegMin{deg + 1, 0.0};
  return DegMin{deg, m};
}

void put_time(Sentence* s, const NMEA_DATA_T* d) {
  put(s, "%02d%02d%06.3f", d->hour, d->minute, static_cast<D64>(d->sec));
}

// "ddmm.mmmm,N,dddmm.mmmm,E".
void put_position(Sentence* s, const NMEA_DATA_T* d) {
  const DegMin lat = deg_min(d->lat_d, d->lat_m);
  const DegMin lon = deg_min(d->lon_d, d->lon_m);
  put(s, "%02d%07.4f,%s,%03d%07.4f,%s", lat.deg, lat.min, d->is_north ? "N" : "S", lon.deg, lon.min,
      d->is_east ? "E" : "W");
}

// Height above mean sea level (alt - geoid, 0 when negative), m.
D64 msl_height(const NMEA_DATA_T* d) {
  const D64 h = static_cast<D64>(d->alt) - d->geoid * GEOID_SCALE;
  return h < 0.0 ? 0.0 : h;
}

// Status A (valid) / V: V without a fix and for a prediction unless from an inertial system.
const char* status(const NMEA_DATA_T* d) {
  const S16 mode = valid_fix_mode(d->fix_mode);
  if (mode == FIX_NONE) return "V";
  if (mode == FIX_PREDICTION && d->is_INS == 0) return "V";
  return "A";
}

// GSA fix type: 1 no fix; 2 for a prediction or 2-D fix unless 4 or more
// satellites are used (then 3); 3 otherwise.
int gsa_fix_type(S16 fix_mode, int nsv) {
  const S16 mode = valid_fix_mode(fix_mode);
  if (mode == FIX_NONE) return 1;
  if (mode == FIX_PREDICTION || mode == FIX_2D) return nsv >= 4 ? 3 : 2;
  return 3;
}

// "$<talker>GSA,A,<type>," with the 12 satellite fields, then the DOPs.
S16 gsa(U08* buf_p, const char* talker, const NMEA_DATA_T* d, S16 nsv_in, const S16* ids, int fix_nsv) {
  Sentence s = start(buf_p);
  put(&s, "$%sGSA,A,%d,", talker, gsa_fix_type(d->fix_mode, fix_nsv));
  const int nsv = clamp_count(nsv_in);
  for (int k = 0; k < NMEA_GSA_FIELDS; ++k) {
    if (k < nsv)
      put(&s, ids[k] > 99 ? "%03d," : "%02d,", ids[k]);
    else
      put(&s, ",");
  }
  put(&s, "%2.1f,%2.1f,%2.1f", static_cast<D64>(d->pdop), static_cast<D64>(d->hdop), static_cast<D64>(d->vdop));
  return finish(&s);
}

// Stable sort by elevation, highest first (insertion sort: at most 20
// entries, no allocation, equal elevations keep their order).
template <typename SV>
void sort_by_elevation(SV* sv, int n) {
  for (int i = 1; i < n; ++i) {
    const SV key = sv[i];
    int j = i - 1;
    while (j >= 0 && sv[j].elv < key.elv) {
      sv[j + 1] = sv[j];
      --j;
    }
    sv[j + 1] = key;
  }
}

// "$<talker>GSV,<sentences>,<k>,<n>" and up to four satellites.
template <typename SV>
S16 gsv(U08* buf_p, const char* talker, S32 nview, S32 sentence, SV* sv) {
  Sentence s = start(buf_p);
  const int n = clamp_count(nview);
  const int total = (n + NMEA_SV_PER_GSV - 1) / NMEA_SV_PER_GSV;
  if (n == 0 || sv == nullptr || sentence < 1 || sentence > total) return 0;
  if (sentence == 1) sort_by_elevation(sv, n);
  put(&s, "$%sGSV,%d,%d,%02d", talker, total, static_cast<int>(sentence), n);
  const int first = (static_cast<int>(sentence) - 1) * NMEA_SV_PER_GSV;
  for (int i = first; i < n && i < first + NMEA_SV_PER_GSV; ++i) {
    put(&s, sv[i].prn > 99 ? ",%03d,%02d,%03d," : ",%02d,%02d,%03d,", sv[i].prn, sv[i].elv, sv[i].azm);
    if (sv[i].cn0 >= 0) put(&s, "%02d", sv[i].cn0);
  }
  return finish(&s);
}

}  // namespace

U08 cal_checksum(const char* str) {
  U08 sum = 0;
  if (str == nullptr) return 0;
  for (; *str != '\0'; ++str) sum = static_cast<U08>(sum ^ static_cast<U08>(*str));
  return sum;
}

void NMEA_set_position(NMEA_DATA_T* data_p, D64 lat_deg, D64 lon_deg) {
  if (!std::isfinite(lat_deg)) lat_deg = 0.0;
  if (!std::isfinite(lon_deg)) lon_deg = 0.0;
  data_p->lat_deg = lat_deg;
  data_p->lon_deg = lon_deg;
  data_p->is_north = lat_deg >= 0.0 ? 1 : 0;
  data_p->is_east = lon_deg >= 0.0 ? 1 : 0;
  const D64 alat = std::fabs(lat_deg) > 90.0 ? 90.0 : std::fabs(lat_deg);
  const D64 alon = std::fabs(lon_deg) > 180.0 ? 180.0 : std::fabs(lon_deg);
  data_p->lat_d = static_cast<S16>(alat);
  data_p->lon_d = static_cast<S16>(alon);
  data_p->lat_m = static_cast<F32>((alat - data_p->lat_d) * MINUTES_PER_DEGREE);
  data_p->lon_m = static_cast<F32>((alon - data_p->lon_d) * MINUTES_PER_DEGREE);
}

S16 NMEA_gga(U08* buf_p, const NMEA_DATA_T* data_p) {
  const NMEA_DATA_T* d = data_p;
  const S16 mode = valid_fix_mode(d->fix_mode);
  const char quality = mode == FIX_PREDICTION ? '6' : static_cast<char>('0' + Nmea_qi[static_cast<std::size_t>(mode)]);
  Sentence s = start(buf_p);
  put(&s, "$GPGGA,");
  put_time(&s, d);
  put(&s, ",");
  put_position(&s, d);
  put(&s, ",%c,%02d,%2.1f,%.1f,M,%.1f,M,%s,%04d", quality,
      clamp_count(d->nsv_used_gps) + clamp_count(d->nsv_used_glonass), static_cast<D64>(d->hdop), msl_height(d),
      d->geoid * GEOID_SCALE, "", d->dgps_stid);
  return finish(&s);
}

S16 NMEA_gsa(U08* buf_p, const NMEA_DATA_T* data_p) {
  return gsa(buf_p, "GP", data_p, data_p->nsv_used_gps, data_p->id_nums_gps.data(), data_p->nsv_used_gps);
}

S16 NMEA_gsv(U08* buf_p, S32 nview, S32 sentence, NMEA_SV_T* sv) { return gsv(buf_p, "GP", nview, sentence, sv); }

S16 NMEA_rmc(U08* buf_p, const NMEA_DATA_T* data_p) {
  const NMEA_DATA_T* d = data_p;
  Sentence s = start(buf_p);
  put(&s, "$GPRMC,");
  put_time(&s, d);
  put(&s, ",%s,", status(d));
  put_position(&s, d);
  put(&s, ",%05.1f,%05.1f,%02d%02d%02d,,,%c", static_cast<D64>(d->speed), static_cast<D64>(d->course), d->day, d->month,
      d->year % 100, mode_indicator(d->fix_mode));
  return finish(&s);
}

S16 NMEA_vtg(U08* buf_p, const NMEA_DATA_T* data_p) {
  const NMEA_DATA_T* d = data_p;
  Sentence s = start(buf_p);
  put(&s, "$GPVTG,%05.1f,T,,M,%05.1f,N,%05.1f,K,%c", static_cast<D64>(d->course), static_cast<D64>(d->speed),
      static_cast<D64>(d->speed) * KNOTS_TO_KMH, mode_indicator(d->fix_mode));
  return finish(&s);
}

S16 NMEA_gns(U08* buf_p, const NMEA_DATA_T* data_p) {
  const NMEA_DATA_T* d = data_p;
  const char glonass_mode = d->nsv_used_glonass > 0 ? mode_indicator(d->fix_mode) : 'N';
  Sentence s = start(buf_p);
  put(&s, "$GNGNS,");
  put_time(&s, d);
  put(&s, ",");
  put_position(&s, d);
  put(&s, ",%c%c,%02d,%2.1f,%.1f,%.1f,,", mode_indicator(d->fix_mode), glonass_mode,
      clamp_count(d->nsv_used_gps) + clamp_count(d->nsv_used_glonass), static_cast<D64>(d->hdop), msl_height(d),
      d->geoid * GEOID_SCALE);
  return finish(&s);
}

S16 NMEA_gll(U08* buf_p, const NMEA_DATA_T* data_p) {
  const NMEA_DATA_T* d = data_p;
  Sentence s = start(buf_p);
  put(&s, "$GPGLL,");
  put_position(&s, d);
  put(&s, ",");
  put_time(&s, d);
  put(&s, ",%s,%c", status(d), mode_indicator(d->fix_mode));
  return finish(&s);
}

S16 NMEA_zda(U08* buf_p, const NMEA_DATA_T* data_p) {
  const NMEA_DATA_T* d = data_p;
  Sentence s = start(buf_p);
  put(&s, "$GPZDA,");
  put_time(&s, d);
  put(&s, ",%02d,%02d,%04d,00,00", d->day, d->month, d->year);
  return finish(&s);
}

S16 NMEA_gsa_glonass(U08* buf_p, const NMEA_DATA_T* data_p) {
  return gsa(buf_p, "GL", data_p, data_p->nsv_used_glonass, data_p->id_nums_glonass.data(), data_p->nsv_used_glonass);
}

S16 NMEA_gsa_combined_system(U08* buf_p, const NMEA_DATA_T* data_p, U16 gnss_type) {
  const int both = clamp_count(data_p->nsv_used_gps) + clamp_count(data_p->nsv_used_glonass);
  if (gnss_type == GNSS_TYPE_GPS)
    return gsa(buf_p, "GN", data_p, data_p->nsv_used_gps, data_p->id_nums_gps.data(), both);
  if (gnss_type == GNSS_TYPE_GLONASS)
    return gsa(buf_p, "GN", data_p, data_p->nsv_used_glonass, data_p->id_nums_glonass.data(), both);
  return gsa(buf_p, "GN", data_p, 0, data_p->id_nums_gps.data(), both);
}

S16 NMEA_gsv_glonass(U08* buf_p, S32 nview, S32 sentence, NMEA_SV_GLONASS_T* sv) {
  return gsv(buf_p, "GL", nview, sentence, sv);
}

S16 NMEA_BD_gsa(U08* buf_p, const NMEA_DATA_T* data_p) {
  return gsa(buf_p, "BD", data_p, data_p->nsv_used_beidou2, data_p->id_nums_beidou2.data(), data_p->nsv_used_beidou2);
}

S16 NMEA_BD_gsv(U08* buf_p, S32 nview, S32 sentence, NMEA_SV_T* sv) { return gsv(buf_p, "BD", nview, sentence, sv); }
