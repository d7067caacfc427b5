// Single-point positioning on a hardware simulator's recording (RINEX 3, GPS
// L1 C/A) against the rover's known position.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "rtk/rtk_test_util.h"
#include "test_util.h"

namespace {

constexpr double ROVER[3] = {4156857.1195929, 673209.028774142, 4774767.03105544};
constexpr double BASE[3] = {4157177.06580187, 671230.476590636, 4774767.03105544};

double field(const char* line, int col, int width) {
  if (static_cast<int>(std::strlen(line)) < col) return 0.0;
  return str2num(line, col, width);
}

// GPS records of a RINEX 3 navigation file: per satellite the one with toe nearest t.
bool read_nav(const std::string& path, gtime_t t, nav_t* nav) {
  std::FILE* fp = std::fopen(path.c_str(), "r");
  if (fp == nullptr) return false;
  char line[128];
  bool header = true;
  while (std::fgets(line, sizeof line, fp) != nullptr) {
    if (header) {
      if (std::strncmp(line, "GPSA", 4) == 0 || std::strncmp(line, "GPSB", 4) == 0) {
        const int k = line[3] == 'A' ? 0 : 4;
        for (int i = 0; i < 4; ++i) nav->ion_gps[k + i] = field(line, 5 + 12 * i, 12);
      }
      if (std::strstr(line, "END OF HEADER") != nullptr) header = false;
      continue;
    }
    if (line[0] != 'G') continue;
    double v[32] = {0};
    const int prn = static_cast<int>(field(line, 1, 2));
    gtime_t toc{};
    str2time(line, 4, 19, &toc);
    for (int i = 0; i < 3; ++i) v[i] = field(line, 23 + 19 * i, 19);
    for (int l = 0; l < 7; ++l) {
      if (std::fgets(line, sizeof line, fp) == nullptr) break;
      for (int i = 0; i < 4; ++i) v[3 + 4 * l + i] = field(line, 4 + 19 * i, 19);
    }
    eph_t e{};
    e.sat = satno(SYS_GPS, prn);
    if (e.sat == 0) continue;
    e.f0 = v[0];
    e.f1 = v[1];
    e.f2 = v[2];
    e.iode = static_cast<int>(v[3]);
    e.crs = v[4];
    e.deln = v[5];
    e.M0 = v[6];
    e.cuc = v[7];
    e.e = v[8];
    e.cus = v[9];
    e.A = v[10] * v[10];
    e.toes = v[11];
    e.cic = v[12];
    e.OMG0 = v[13];
    e.cis = v[14];
    e.i0 = v[15];
    e.crc = v[16];
    e.omg = v[17];
    e.OMGd = v[18];
    e.idot = v[19];
    e.code = static_cast<int>(v[20]);
    e.week = static_cast<int>(v[21]);
    e.sva = v[23] <= 2.4 ? 0 : 1;
    e.svh = static_cast<int>(v[24]);
    e.tgd[0] = v[25];
    e.iodc = static_cast<int>(v[26]);
    e.toe = gpst2time(e.week, e.toes);
    e.toc = toc;
    eph_t& slot = nav->eph[e.sat - 1];
    if (slot.sat == 0 || std::fabs(timediff(e.toe, t)) < std::fabs(timediff(slot.toe, t))) slot = e;
  }
  std::fclose(fp);
  return true;
}

struct ObsFile {
  std::FILE* fp = nullptr;
  ~ObsFile() {
    if (fp != nullptr) std::fclose(fp);
  }
};

// Next epoch of GPS C1C pseudoranges (the first observation type); 0 at the end.
int next_epoch(std::FILE* fp, int rcv, obsd_t* obs) {
  char line[1024];
  while (std::fgets(line, sizeof line, fp) != nullptr) {
    if (line[0] != '>') continue;
    gtime_t t{};
    if (str2time(line, 2, 27, &t) != 0) return 0;
    const int nsat = static_cast<int>(field(line, 32, 3));
    int n = 0;
    for (int i = 0; i < nsat; ++i) {
      if (std::fgets(line, sizeof line, fp) == nullptr) return 0;
      if (line[0] != 'G' || n >= MAXOBS) continue;
      obsd_t& o = obs[n];
      o = obsd_t{};
      o.time = t;
      o.sat = static_cast<unsigned char>(satno(SYS_GPS, static_cast<int>(field(line, 1, 2))));
      o.rcv = static_cast<unsigned char>(rcv);
      o.P[0] = field(line, 3, 14);
      o.L[0] = field(line, 19, 14);
      o.SNR[0] = static_cast<unsigned char>(field(line, 51, 14) * 4.0);
      if (o.sat != 0 && o.P[0] != 0.0) ++n;
    }
    return n;
  }
  return 0;
}

void run(const std::string& dir, const char* file, const double* truth, int* epochs, double* max_err, double* rms) {
  auto nav = std::make_unique<nav_t>();
  nav->n = MAXEPH;
  const double ep[6] = {2023, 1, 8, 10, 5, 0};
  ASSERT_TRUE(read_nav(dir + "gps.nav", epoch2time(ep), nav.get()));
  ASSERT_GT(nav->ion_gps[4], 0.0);
  ObsFile f;
  f.fp = std::fopen((dir + file).c_str(), "r");
  ASSERT_NE(f.fp, nullptr);
  const prcopt_t opt = rtk_test::default_opt();
  obsd_t obs[MAXOBS];
  sol_t sol{};
  int n = 0;
  double sum2 = 0.0;
  *epochs = 0;
  *max_err = 0.0;
  while ((n = next_epoch(f.fp, 1, obs)) > 0) {
    char msg[128];
    ASSERT_EQ(pntpos(obs, n, nav.get(), &opt, &sol, nullptr, nullptr, msg), 1) << msg;
    ASSERT_EQ(sol.stat, SOLQ_SINGLE);
    double d2 = 0.0;
    for (int i = 0; i < 3; ++i) d2 += (sol.rr[i] - truth[i]) * (sol.rr[i] - truth[i]);
    *max_err = std::fmax(*max_err, std::sqrt(d2));
    sum2 += d2;
    ++*epochs;
  }
  *rms = std::sqrt(sum2 / std::max(*epochs, 1));
}

// The recording models Klobuchar and Saastamoinen like the engine; every epoch
// solves within a metre (without T_GD the same run is up to 9 m off).
struct ReceiverCase {
  const char* file;
  const double* truth;  // ECEF, m
};
void PrintTo(const ReceiverCase& c, std::ostream* os) { *os << c.file; }

class PntposRinex : public ::testing::TestWithParam<ReceiverCase> {};

TEST_P(PntposRinex, HardwareSimulatorWithinOneMetre) {
  TALON_SHARED_DATA_OR_SKIP(dir, "rinex/spirent-2km-static");
  int epochs = 0;
  double max_err = 0.0, rms = 0.0;
  run(dir, GetParam().file, GetParam().truth, &epochs, &max_err, &rms);
  EXPECT_EQ(epochs, 601);
  EXPECT_LT(max_err, 1.0);
  EXPECT_LT(rms, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Spirent2kmStatic, PntposRinex,
                         ::testing::Values(ReceiverCase{"rover.obs", ROVER}, ReceiverCase{"base.obs", BASE}),
                         [](const auto& i) {
                           return talon_test::case_name(
                               std::string(i.param.file).substr(0, std::string(i.param.file).find('.')));
                         });

}  // namespace
