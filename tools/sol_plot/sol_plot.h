// sol_plot: reads a solution file of talonhost (Normal_sol.txt or
// Geotagging_sol.txt), draws it as a PNG picture and writes the track as KML
// and GPX coloured by solution status.
//
// Four modules, all private to the tool and its tests:
//   SP_sol_*     parse the solution rows, local east/north/up, status counts
//   SP_png_*     PNG writer: CRC-32, Adler-32, zlib stream (stored or
//                fixed-Huffman deflate blocks), 8-bit RGB image
//   SP_canvas_*  RGB raster: pixels, lines, dots, rectangles, 5x7 text
//   SP_track_*   KML and GPX documents of the track
// and SP_figure_draw, the picture itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------- solutions

// Status classes in the order of the legend; every word other than FIX, FLOAT
// and SINGLE (NONE, or a word of a later program version) is SP_OTHER.
enum SP_STATUS_T : int { SP_FIX = 0, SP_FLOAT = 1, SP_SINGLE = 2, SP_OTHER = 3 };
inline constexpr int SP_NUM_STATUS = 4;

// One solution row. Angles in degrees, heights, ECEF coordinates and baseline
// in m, age of differential in s.
struct SP_ROW_T {
  long epoch = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0.0;  // UTC seconds of the minute, rounded to ms, 0 <= second < 60
  double t = 0.0;       // UTC seconds since 1970-01-01 00:00:00 (resolution about 0.2 us)
  int status = SP_OTHER;
  char status_word[16] = {};  // the STATUS column as written ("FIX" ...), NUL-terminated
  double age = 0.0, ratio = 0.0;
  double lat = 0.0, lon = 0.0, alt = 0.0;
  double x = 0.0, y = 0.0, z = 0.0, baseline = 0.0;
  bool has_pos = false;              // lat/lon/alt is a position near the Earth (alt -100 km .. 10000 km)
  double e = 0.0, n = 0.0, u = 0.0;  // east, north, up from the reference, m (set by SP_sol_enu)
};

// A whole file: its good rows in file order and the count of skipped lines.
struct SP_SOL_T {
  std::vector<SP_ROW_T> rows;
  long malformed = 0;              // non-blank lines that are neither the header nor a good row
  long first_bad_line = 0;         // 1-based line number of the first of them, 0 when none
  long count[SP_NUM_STATUS] = {};  // rows per status class
  long no_pos = 0;                 // rows without a usable position (has_pos false)
};

// Parse one line (without or with its line end) of a solution file into row:
// 13 whitespace-separated columns EPOCH DATE(yyyy/mm/dd) UTC(hh:mm:ss.sss)
// STATUS AGE RATIO LAT LON ALT X Y Z BASELINE. Returns 1 for a good row; 0
// for anything else (row then holds partial values): a wrong column count, a field
// that is not a number, a date or time out of range, a status that is not 1-15
// upper-case letters, digits or '_', latitude outside +-90 or longitude
// outside +-180 deg, a number with magnitude above 1e9, or a line over 511
// bytes.
int SP_sol_parse_line(const char* line, SP_ROW_T* row);

// Parse the text (n bytes, need not be NUL-terminated) of a whole solution
// file into sol (cleared first). A first non-blank line starting with "EPOCH"
// is the header; blank lines are skipped; other lines that do not parse are
// counted in sol->malformed. Returns the number of good rows.
long SP_sol_parse_text(const char* text, std::size_t n, SP_SOL_T* sol);

// Read the regular file at path and parse it as SP_sol_parse_text (line by
// line; a line over 511 bytes is malformed). Returns 1 when the file was read
// (even with no good row); 0 when it cannot be opened or read, with errno kept
// from the failing call; -1 when path is not a regular file (a directory, a
// device, a pipe), which is not read.
int SP_sol_read_file(const char* path, SP_SOL_T* sol);

// WGS 84 geodetic position (lat, lon in deg, h in m) to ECEF xyz (m).
void SP_geo_to_ecef(double lat_deg, double lon_deg, double h_m, double xyz[3]);
// ECEF xyz (m) to WGS 84 geodetic position (lat, lon in deg, h in m).
void SP_ecef_to_geo(const double xyz[3], double* lat_deg, double* lon_deg, double* h_m);
// East, north, up (m) of the ECEF point xyz seen from the reference
// (ref_lat, ref_lon in deg, ref_h in m) into enu[3].
void SP_ecef_to_enu(const double xyz[3], double ref_lat_deg, double ref_lon_deg, double ref_h_m, double enu[3]);

// The default reference of the local frame: the mean ECEF position of the FIX
// rows with a position, else of all rows with a position, as geodetic
// lat, lon (deg), h (m). Returns the number of rows averaged (0: no row has a
// position, the outputs are then 0).
long SP_sol_default_ref(const SP_SOL_T& sol, double* lat_deg, double* lon_deg, double* h_m);

// Fill e, n, u of every row with a position relative to the reference
// (lat, lon in deg, h in m); rows without a position get 0.
void SP_sol_enu(SP_SOL_T* sol, double ref_lat_deg, double ref_lon_deg, double ref_h_m);

// Name of a status class for the legend: "FIX", "FLOAT", "SINGLE", "OTHER".
const char* SP_status_name(int status);

// ---------------------------------------------------------------- PNG

// CRC-32 (polynomial 0xEDB88320 reflected, initial and final XOR 0xFFFFFFFF)
// of n bytes, continuing from crc (0 for a fresh start).
std::uint32_t SP_png_crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0);
// Adler-32 (sums modulo 65521) of n bytes, continuing from adler (1 for a fresh start).
std::uint32_t SP_png_adler32(const std::uint8_t* p, std::size_t n, std::uint32_t adler = 1);

// zlib stream (2-byte header, deflate blocks, Adler-32 of the data) of n bytes
// appended to out. level 0: stored blocks of at most 65535 bytes; any other
// level: one fixed-Huffman block with LZ77 matches (distance up to 32768,
// length 3..258) found through a hash of 3 bytes.
void SP_png_zlib(const std::uint8_t* p, std::size_t n, int level, std::vector<std::uint8_t>* out);

// PNG image of width x height pixels, 8-bit RGB, rows top-down of 3*width
// bytes each in rgb (the caller's), every row with filter 0, compressed as
// SP_png_zlib(level). The file bytes replace the content of out. Returns 1, or
// 0 (out empty) when width or height is outside 1..16384.
int SP_png_encode(const std::uint8_t* rgb, int width, int height, int level, std::vector<std::uint8_t>* out);

// ---------------------------------------------------------------- raster

struct SP_RGB_T {
  std::uint8_t r = 0, g = 0, b = 0;
};

// An RGB picture, rows top-down, 3 bytes a pixel; drawing is clipped to the
// clip rectangle [clip_x0, clip_x1) x [clip_y0, clip_y1), which is the whole
// picture after SP_canvas_init.
struct SP_CANVAS_T {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  int clip_x0 = 0, clip_y0 = 0, clip_x1 = 0, clip_y1 = 0;
};

// Size the canvas to width x height (1..16384 each, clamped) filled with bg.
void SP_canvas_init(SP_CANVAS_T* c, int width, int height, SP_RGB_T bg);
// Restrict drawing to [x0, x1) x [y0, y1) intersected with the picture;
// SP_canvas_unclip restores the whole picture.
void SP_canvas_clip(SP_CANVAS_T* c, int x0, int y0, int x1, int y1);
void SP_canvas_unclip(SP_CANVAS_T* c);
// The pixel at (x, y), or black outside the picture.
SP_RGB_T SP_canvas_get(const SP_CANVAS_T& c, int x, int y);
// One pixel; nothing outside the clip rectangle.
void SP_canvas_pixel(SP_CANVAS_T* c, int x, int y, SP_RGB_T col);
// Straight line from (x0, y0) to (x1, y1), both ends included, 1 pixel wide.
// Coordinates are clamped to +-1e6 pixels first.
void SP_canvas_line(SP_CANVAS_T* c, int x0, int y0, int x1, int y1, SP_RGB_T col);
// Filled disk of radius r (0..50) pixels centred on (x, y).
void SP_canvas_dot(SP_CANVAS_T* c, int x, int y, int r, SP_RGB_T col);
// Filled rectangle [x0, x1) x [y0, y1) and its 1-pixel outline.
void SP_canvas_fill(SP_CANVAS_T* c, int x0, int y0, int x1, int y1, SP_RGB_T col);
void SP_canvas_frame(SP_CANVAS_T* c, int x0, int y0, int x1, int y1, SP_RGB_T col);
// Text in the 5x7 font, each glyph scaled by scale (1..8) pixels a dot, top
// left corner at (x, y), advancing 6*scale pixels a character; characters
// without a glyph draw as '?'; g, p, q and y reach 2*scale pixels lower than
// the 7*scale of the others. vertical 1 writes bottom-up (rotated 90 deg
// anticlockwise) with (x, y) the bottom left corner. Returns the advance in
// pixels (6*scale per character).
int SP_canvas_text(SP_CANVAS_T* c, int x, int y, const char* text, int scale, SP_RGB_T col, int vertical = 0);
// The 7 rows of the glyph of character ch, bit 4 the leftmost dot; null for a
// character without a glyph.
const std::uint8_t* SP_font_glyph(char ch);

// ---------------------------------------------------------------- tracks

// KML 2.2 document of the rows with a position: one LineString of the whole
// track, then one Placemark point per row styled by status (FIX green, FLOAT
// orange, SINGLE red, other grey) with the UTC time stamp. name is the
// document title (escaped). Coordinates: lon, lat in deg with 8 decimals, alt
// in m with 3. Replaces the content of out.
void SP_track_kml(const SP_SOL_T& sol, const char* name, std::string* out);
// GPX 1.1 document of the rows with a position: one trk with one trkseg, a
// trkpt per row with lat, lon (deg, 8 decimals), ele (m, 3 decimals), time
// (UTC ISO 8601, ms), desc (epoch, status, ratio, age) and type (the status
// word). Replaces the content of out.
void SP_track_gpx(const SP_SOL_T& sol, const char* name, std::string* out);
// UTC time of a row as ISO 8601 with milliseconds ("2024-02-07T11:20:00.000Z")
// into buf of size bytes (at least 25). Returns the characters written.
int SP_track_iso_time(const SP_ROW_T& row, char* buf, std::size_t size);

// ---------------------------------------------------------------- figure

inline constexpr int SP_FIG_WIDTH = 1200;  // pixels
inline constexpr int SP_FIG_HEIGHT = 940;  // pixels

// Colour of a status class in the picture: FIX green, FLOAT orange, SINGLE
// red, other grey.
SP_RGB_T SP_status_colour(int status);

// Draw the picture of sol (e, n, u already set by SP_sol_enu for the reference
// ref_lat, ref_lon in deg, ref_h in m) on c (sized to SP_FIG_WIDTH x
// SP_FIG_HEIGHT): title with the file name title, legend with the status
// counts and shares, track east/north at equal scale, east, north and up
// against time from the first row, ratio and age of differential against time.
void SP_figure_draw(const SP_SOL_T& sol, const char* title, double ref_lat_deg, double ref_lon_deg, double ref_h_m,
                    SP_CANVAS_T* c);
