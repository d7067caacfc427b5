// Stand-in for the console table, KML and NMEA output until the output issue
// (console table and KML, NMEA sentences) replaces it. It opens and closes
// the KML files with a valid empty document and prints one short line per
// epoch (the fix mode, the satellites used, the position of the fix and the
// spread of its pseudorange residuals when known), so
// that the host loop can be run and tested end to end.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/host_files.h"
#include "host/host_output.h"
#include "kernel/src/navigate.h"
#include "misc/dispatch.h"

namespace {
// A KML file of the run: its stream (null when not open) and its name (kept
// here because an output fault keeps a pointer to it).
struct KML_FILE_T {
  std::FILE* fp = nullptr;
  char name[64] = "";
};
KML_FILE_T Kml_output, Kml_fixmode;
int Kml_start_second = 0;
long Epoch_count = 0;

// Create <base><append_p>.kml with its document header. An output fault
// (HOST_note_output_fault) when it cannot be created or written; the file is
// then not open.
void open_kml(KML_FILE_T* k, const char* base, const char* append_p) {
  std::snprintf(k->name, sizeof k->name, "%s%s.kml", base, append_p != nullptr ? append_p : "");
  k->fp = std::fopen(k->name, "w");
  if (k->fp == nullptr) {
    HOST_note_output_fault(k->name, "create", errno);
    return;
  }
  if (std::fprintf(k->fp,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                   "<Document>\n") < 0) {
    HOST_note_output_fault(k->name, "write", errno);
    std::fclose(k->fp);
    k->fp = nullptr;
  }
}

// The closing lines, then the close; a failed write or close is an output fault.
void close_kml(KML_FILE_T* k) {
  if (k->fp == nullptr) return;
  int err = 0;
  if (std::fprintf(k->fp, "</Document>\n</kml>\n") < 0) err = errno;
  if (std::fclose(k->fp) != 0 && err == 0) err = errno;
  if (err != 0) HOST_note_output_fault(k->name, "write", err);
  k->fp = nullptr;
}
}  // namespace

void HOSTOUT_init(int write_output_kml, int write_fixmode_kml, const char* append_p) {
  Epoch_count = 0;
  if (write_output_kml) open_kml(&Kml_output, "output", append_p);
  if (write_fixmode_kml) open_kml(&Kml_fixmode, "fixmode", append_p);
}

void HOSTOUT_close() {
  close_kml(&Kml_output);
  close_kml(&Kml_fixmode);
}

void HOSTOUT_set_ansi() {}
void HOSTOUT_set_no_ansi() {}
void HOSTOUT_set_kml_start_second(int start_sec) { Kml_start_second = start_sec; }
void HOSTOUT_set_DR_output_GNSS_fixmode_kml() {}
void HOSTOUT_output_kml(int) {}
void HOSTOUT_output_kml_fixmode() {}

void HOSTOUT_print_detail_data() {
  ++Epoch_count;
  const S16 mode = NV_get_fixmode();
  if (mode <= FIX_NONE || mode > FIX_DIFF) {
    std::printf("Epoch %ld: no fix\n", Epoch_count);
  } else {
    static constexpr const char* MODE_NAMES[FIX_DIFF + 1] = {"no fix", "prediction", "2-D fix", "3-D fix",
                                                             "differential fix"};
    D64 lat = 0.0;
    D64 lon = 0.0;
    NV_get_lat_lon_degree(&lat, &lon);
    std::printf("Epoch %ld: %s, %d SVs, lat %.9f deg, lon %.9f deg, alt %.4f m", Epoch_count, MODE_NAMES[mode],
                static_cast<int>(NV_get_fix_svs()), lat, lon, static_cast<double>(NV_get_altitude()));
    // the solution's own consistency: the root mean square of its pseudorange residuals
    F32 pr_sigma = 0.0F;
    if (NV_get_position_quality_result(&pr_sigma, nullptr) == 1)
      std::printf(", residual sigma %.1f m", static_cast<double>(pr_sigma));
    std::printf("\n");
  }
  std::printf("Wrong msgtype = %d, Wrong checksum = %d\n", DP_get_wrong_msgtype_count(), DP_get_wrong_checksum_count());
}

void HOSTOUT_print_debug_informations_at_end() {
  std::printf("Pse_on_sec_count = %ld, Pse_off_sec_count = %ld\n", 0L, 0L);
}

void HOSTOUT_print_nmea_message() {}
