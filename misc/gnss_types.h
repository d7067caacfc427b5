// Shared types, identifiers and constants used by every subsystem of talonhost.
#pragma once

#include <cstdint>

// Fixed-width types of the whole code base.
using S08 = std::int8_t;
using U08 = std::uint8_t;
using S16 = std::int16_t;
using U16 = std::uint16_t;
using S32 = std::int32_t;
using U32 = std::uint32_t;
using S64 = std::int64_t;
using U64 = std::uint64_t;
using F32 = float;
using D64 = double;

// Position, velocity and acceleration records.
struct POS_T {  // ECEF position, metres
  D64 px, py, pz;
};
struct VEL_T {  // ECEF velocity, m/s
  F32 vx, vy, vz;
};
struct ACC_T {  // ECEF acceleration, m/s^2
  F32 ax, ay, az;
};
struct LLA_T {  // geodetic latitude, longitude (radians) and height (metres)
  D64 lat, lon;
  F32 alt;
};
struct POS_ENU_T {  // local east, north, up, metres
  D64 pe, pn, pu;
};
struct VEL_ENU_T {  // local east, north, up velocity, m/s
  F32 ve, vn, vu;
};
struct LLA_e8_T {  // latitude and longitude in 1e-8 degrees, height in 1e-8 m (64-bit: no overflow)
  S64 lat_e8, lon_e8, alt_e8;
};

// GNSS types (the gnss_type field of channel records and data bits).
enum : S16 {
  GNSS_TYPE_NONE = 0,
  GNSS_TYPE_GPS = 1,
  GNSS_TYPE_SBAS = 2,
  GNSS_TYPE_GLONASS = 3,
  GNSS_TYPE_GALILEO = 4,
  GNSS_TYPE_QZSS = 5,
  GNSS_TYPE_BD2 = 6,  // BeiDou
};

// Kernel satellite identifiers. QZSS rides on GPS-type records with ids 33..37
// (shown externally as id + 160); 38 is a spare GPS-type record; SBAS 120..138.
// The target numbers SBAS signals 38..56, i.e. kernel id - 82.
enum : S16 {
  GPS_PRN_MIN = 1,
  GPS_PRN_MAX = 32,
  QZSS_ID_MIN = 33,
  QZSS_ID_MAX = 37,
  QZSS_EXTERNAL_OFFSET = 160,
  SPARE_GPS_ID = 38,
  SBAS_PRN_MIN = 120,
  SBAS_PRN_MAX = 138,
  SBAS_NMEA_OFFSET = 87,
  SBAS_TARGET_OFFSET = 82,
};

// Fix modes.
enum : S16 {
  FIX_NONE = 0,
  FIX_PREDICTION = 1,
  FIX_2D = 2,
  FIX_3D = 3,
  FIX_DIFF = 4,
};

// Channel states.
enum : S16 {
  CH_IDLE = 0,
  CH_PULLIN = 1,
  CH_BITSYNC = 2,
  CH_TRACK = 3,
  CH_SOFT_TRACK = 4,
  CH_FRAMESYNC = 5,
  CH_MEAS_AVAILABLE = 6,
};

// Navigation platform models (index into NVMODEL_STRINGS).
enum : S16 {
  NMODEL_DEFAULT = 0,
  PEDESTRIAN = 1,
  CAR = 2,
  MARINE = 3,
  BALLOON = 4,
  AIRBORNE = 5,
  N_NAV_MODELS = 6,
};

// Number of hardware channels of the Talon 8 baseband.
inline constexpr int NUM_HW_CHANNELS = 20;

// Physical constants.
inline constexpr D64 SPEED_OF_LIGHT = 299792458.0;             // m/s
inline constexpr D64 GPS_L1_FREQ = 1575.42e6;                  // Hz
inline constexpr D64 GPS_L1_WAVELENGTH = 0.19029367279836487;  // m
inline constexpr D64 WGS84_GM = 3.986005e14;                   // m^3/s^2, as broadcast (IS-GPS-200)
inline constexpr D64 WGS84_OMEGA_E = 7.2921151467e-5;          // rad/s
inline constexpr D64 GPS_PI = 3.1415926535898;                 // value used by the orbit code (IS-GPS-200)
inline constexpr D64 WGS84_A = 6378137.0;                      // semi-major axis, m

// GPS time constants.
inline constexpr S32 SECONDS_PER_WEEK = 604800;
inline constexpr S32 GPS_WEEK_ROLLOVER = 1024;  // 10-bit broadcast week
inline constexpr S32 RTC_WEEK_ROLLOVER = 4096;  // the target's RTC week counter
