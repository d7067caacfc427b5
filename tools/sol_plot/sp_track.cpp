// KML and GPX documents of a solution track.
#include <cstdarg>
#include <cstdio>

#include "tools/sol_plot/sol_plot.h"

namespace {

// KML colours are aabbggrr: FIX green, FLOAT orange, SINGLE red, other grey.
// They tint the viewer's own point icon; the document refers to no icon file.
constexpr const char* KML_COLOUR[SP_NUM_STATUS] = {"ff00a000", "ff0096ff", "ff0000dc", "ff808080"};

void append_escaped(std::string* out, const char* s) {
  for (; *s != '\0'; ++s) {
    switch (*s) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        *out += "&quot;";
        break;
      case '\'':
        *out += "&apos;";
        break;
      default: {
        // Control characters are not allowed in XML 1.0 text.
        const auto ch = static_cast<unsigned char>(*s);
        *out += ch < 0x20 && ch != '\t' ? '?' : *s;
      }
    }
  }
}

void appendf(std::string* out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string* out, const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n > 0) out->append(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

// Rows are validated to stay within 1e9 in magnitude, so 8 decimals fit the buffer.
void append_kml_coord(std::string* out, const SP_ROW_T& r) { appendf(out, "%.8f,%.8f,%.3f", r.lon, r.lat, r.alt); }

}  // namespace

int SP_track_iso_time(const SP_ROW_T& row, char* buf, std::size_t size) {
  // The seconds are printed with 3 decimals as in the solution file (which
  // rounds to the millisecond before splitting into fields).
  const int n = std::snprintf(buf, size, "%04d-%02d-%02dT%02d:%02d:%06.3fZ", row.year, row.month, row.day, row.hour,
                              row.minute, row.second);
  return n < 0 ? 0 : n;
}

void SP_track_kml(const SP_SOL_T& sol, const char* name, std::string* out) {
  out->clear();
  *out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n";
  *out += "<name>";
  append_escaped(out, name);
  *out += "</name>\n";
  for (int s = 0; s < SP_NUM_STATUS; ++s)
    appendf(out,
            "<Style id=\"%s\"><IconStyle><color>%s</color><scale>0.6</scale></IconStyle>"
            "<LabelStyle><scale>0</scale></LabelStyle></Style>\n",
            SP_status_name(s), KML_COLOUR[s]);
  *out += "<Style id=\"track\"><LineStyle><color>ff303030</color><width>2</width></LineStyle></Style>\n";
  *out +=
      "<Placemark>\n<name>track</name>\n<styleUrl>#track</styleUrl>\n<LineString>\n<altitudeMode>absolute</"
      "altitudeMode>\n";
  *out += "<coordinates>\n";
  for (const SP_ROW_T& r : sol.rows) {
    if (!r.has_pos) continue;
    append_kml_coord(out, r);
    *out += '\n';
  }
  *out += "</coordinates>\n</LineString>\n</Placemark>\n<Folder>\n<name>epochs</name>\n";
  char when[40];
  for (const SP_ROW_T& r : sol.rows) {
    if (!r.has_pos) continue;
    SP_track_iso_time(r, when, sizeof when);
    appendf(out, "<Placemark><name>%ld</name><styleUrl>#%s</styleUrl>", r.epoch, SP_status_name(r.status));
    appendf(out, "<description>%s ratio %.2f age %.2f s</description>", r.status_word, r.ratio, r.age);
    appendf(out, "<TimeStamp><when>%s</when></TimeStamp><Point><altitudeMode>absolute</altitudeMode><coordinates>",
            when);
    append_kml_coord(out, r);
    *out += "</coordinates></Point></Placemark>\n";
  }
  *out += "</Folder>\n</Document>\n</kml>\n";
}

void SP_track_gpx(const SP_SOL_T& sol, const char* name, std::string* out) {
  out->clear();
  *out +=
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"sol_plot\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n<trk>\n<name>";
  append_escaped(out, name);
  *out += "</name>\n<trkseg>\n";
  char when[40];
  for (const SP_ROW_T& r : sol.rows) {
    if (!r.has_pos) continue;
    SP_track_iso_time(r, when, sizeof when);
    appendf(out, "<trkpt lat=\"%.8f\" lon=\"%.8f\"><ele>%.3f</ele><time>%s</time>", r.lat, r.lon, r.alt, when);
    appendf(out, "<desc>epoch %ld %s ratio %.2f age %.2f s</desc><type>%s</type></trkpt>\n", r.epoch, r.status_word,
            r.ratio, r.age, r.status_word);
  }
  *out += "</trkseg>\n</trk>\n</gpx>\n";
}
