// Stand-in for the console table, KML and NMEA output until the output issue
// (console table and KML, NMEA sentences) replaces it. It opens and closes
// the KML files with a valid empty document and prints one short line per
// epoch, so that the host loop can be run and tested end to end.
#include <cstdio>
#include <cstring>

#include "host/host_output.h"
#include "misc/dispatch.h"

namespace {
std::FILE* Fp_kml = nullptr;
std::FILE* Fp_kml_fixmode = nullptr;
int Kml_start_second = 0;
long Epoch_count = 0;

std::FILE* open_kml(const char* base, const char* append_p) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%s.kml", base, append_p != nullptr ? append_p : "");
  std::FILE* fp = std::fopen(name, "w");
  if (fp != nullptr)
    std::fprintf(
        fp, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n");
  return fp;
}

void close_kml(std::FILE*& fp) {
  if (fp == nullptr) return;
  std::fprintf(fp, "</Document>\n</kml>\n");
  std::fclose(fp);
  fp = nullptr;
}
}  // namespace

void HOSTOUT_init(int write_output_kml, int write_fixmode_kml, const char* append_p) {
  Epoch_count = 0;
  if (write_output_kml) Fp_kml = open_kml("output", append_p);
  if (write_fixmode_kml) Fp_kml_fixmode = open_kml("fixmode", append_p);
}

void HOSTOUT_close() {
  close_kml(Fp_kml);
  close_kml(Fp_kml_fixmode);
}

void HOSTOUT_set_ansi() {}
void HOSTOUT_set_no_ansi() {}
void HOSTOUT_set_kml_start_second(int start_sec) { Kml_start_second = start_sec; }
void HOSTOUT_set_DR_output_GNSS_fixmode_kml() {}
void HOSTOUT_output_kml(int) {}
void HOSTOUT_output_kml_fixmode() {}

void HOSTOUT_print_detail_data() {
  ++Epoch_count;
  std::printf("Epoch %ld: no fix\n", Epoch_count);
  std::printf("Wrong msgtype = %d, Wrong checksum = %d\n", DP_get_wrong_msgtype_count(), DP_get_wrong_checksum_count());
}

void HOSTOUT_print_debug_informations_at_end() {
  std::printf("Pse_on_sec_count = %ld, Pse_off_sec_count = %ld\n", 0L, 0L);
}

void HOSTOUT_print_nmea_message() {}
