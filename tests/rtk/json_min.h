// A small JSON reader for the independent decoders' outputs that the RTCM 3
// shared-stream tests read: objects, arrays, numbers, strings (an escaped
// character is kept, a \uXXXX escape dropped), true/false/null.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace json_min {

struct Value {
  double num = 0.0;  // a number (true: 1); 0 for every other kind
  std::string str;
  std::vector<Value> arr;
  std::map<std::string, Value> obj;

  bool has(const std::string& k) const { return obj.count(k) != 0; }
  const Value& operator[](const std::string& k) const {
    static const Value none;
    const auto it = obj.find(k);
    return it == obj.end() ? none : it->second;
  }
  double n() const { return num; }
};

inline const char* skip_blanks(const char* p) { return p + std::strspn(p, " \t\r\n"); }

// Parses the value at p (blanks before it skipped) into v; returns the first
// character after it, nullptr when the text is not JSON.
inline const char* parse(const char* p, Value* v) {
  p = skip_blanks(p);
  if (*p == '"') {
    for (++p; *p != '"'; ++p) {
      if (*p == '\0') return nullptr;
      if (*p == '\\' && *++p == 'u') {
        if (std::strlen(p) < 5) return nullptr;
        p += 4;
        continue;
      }
      v->str += *p;
    }
    return p + 1;
  }
  if (*p == '{' || *p == '[') {
    const bool is_obj = *p == '{';
    const char close = is_obj ? '}' : ']';
    p = skip_blanks(p + 1);
    if (*p == close) return p + 1;
    for (;;) {
      Value key, x;
      if (is_obj && (*skip_blanks(p) != '"' || (p = parse(p, &key)) == nullptr || *(p = skip_blanks(p)) != ':'))
        return nullptr;
      if ((p = parse(p + (is_obj ? 1 : 0), &x)) == nullptr) return nullptr;
      if (is_obj)
        v->obj[key.str] = std::move(x);
      else
        v->arr.push_back(std::move(x));
      p = skip_blanks(p);
      if (*p == close) return p + 1;
      if (*p++ != ',') return nullptr;
    }
  }
  for (const char* w : {"true", "false", "null"})
    if (std::strncmp(p, w, std::strlen(w)) == 0) {
      v->num = *w == 't' ? 1.0 : 0.0;
      return p + std::strlen(w);
    }
  char* end = nullptr;
  v->num = std::strtod(p, &end);
  return end == p ? nullptr : end;
}

// One JSON document filling the whole text; false when it does not parse.
inline bool parse_text(const std::string& text, Value* v) {
  const char* e = parse(text.c_str(), v);
  return e != nullptr && *skip_blanks(e) == '\0';
}

// One JSON document per line, blank lines skipped. A line that does not parse
// (some decoders print malformed records) becomes an object holding only its
// "type" number (-1 when it has none).
inline std::vector<Value> parse_lines(const std::string& text) {
  std::vector<Value> out;
  std::size_t e = 0;
  for (std::size_t i = 0; i < text.size(); i = e + 1) {
    e = std::min(text.find('\n', i), text.size());
    const std::string line = text.substr(i, e - i);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Value v;
    if (!parse_text(line, &v)) {
      v = Value{};
      const std::size_t t = line.find("\"type\":");
      v.obj["type"].num = t == std::string::npos ? -1.0 : std::strtod(line.c_str() + t + 7, nullptr);
    }
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace json_min
