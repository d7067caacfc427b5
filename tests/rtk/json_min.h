// A small JSON reader for the tests' known-answer files: objects, arrays,
// numbers, strings, true/false/null. Enough to walk decoder outputs.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace json_min {

struct Value {
  enum Kind { NUL, NUM, STR, BOOL, ARR, OBJ } kind = NUL;
  double num = 0.0;
  std::string str;
  bool b = false;
  std::vector<Value> arr;
  std::map<std::string, Value> obj;

  bool has(const std::string& k) const { return kind == OBJ && obj.count(k) != 0; }
  const Value& operator[](const std::string& k) const {
    static const Value none;
    auto it = obj.find(k);
    return it == obj.end() ? none : it->second;
  }
  double n() const { return num; }
};

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}
  bool parse(Value* v) {
    ws();
    return value(v);
  }
  bool at_end() {
    ws();
    return i_ >= s_.size();
  }

 private:
  void ws() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool lit(const char* w) {
    std::size_t n = std::char_traits<char>::length(w);
    if (s_.compare(i_, n, w) != 0) return false;
    i_ += n;
    return true;
  }
  bool string(std::string* out) {
    if (s_[i_] != '"') return false;
    ++i_;
    while (i_ < s_.size() && s_[i_] != '"') {
      if (s_[i_] == '\\' && i_ + 1 < s_.size()) {
        ++i_;
        if (s_[i_] == 'u')
          i_ += 4;
        else
          out->push_back(s_[i_]);
        ++i_;
        continue;
      }
      out->push_back(s_[i_++]);
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    return true;
  }
  bool value(Value* v) {
    ws();
    if (i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '{') {
      v->kind = Value::OBJ;
      ++i_;
      ws();
      if (s_[i_] == '}') {
        ++i_;
        return true;
      }
      for (;;) {
        ws();
        std::string k;
        if (!string(&k)) return false;
        ws();
        if (s_[i_++] != ':') return false;
        Value x;
        if (!value(&x)) return false;
        v->obj[k] = std::move(x);
        ws();
        if (s_[i_] == ',') {
          ++i_;
          continue;
        }
        if (s_[i_] == '}') {
          ++i_;
          return true;
        }
        return false;
      }
    }
    if (c == '[') {
      v->kind = Value::ARR;
      ++i_;
      ws();
      if (s_[i_] == ']') {
        ++i_;
        return true;
      }
      for (;;) {
        Value x;
        if (!value(&x)) return false;
        v->arr.push_back(std::move(x));
        ws();
        if (s_[i_] == ',') {
          ++i_;
          continue;
        }
        if (s_[i_] == ']') {
          ++i_;
          return true;
        }
        return false;
      }
    }
    if (c == '"') {
      v->kind = Value::STR;
      return string(&v->str);
    }
    if (lit("true")) {
      v->kind = Value::BOOL;
      v->b = true;
      return true;
    }
    if (lit("false")) {
      v->kind = Value::BOOL;
      return true;
    }
    if (lit("null")) return true;
    char* end = nullptr;
    v->num = std::strtod(s_.c_str() + i_, &end);
    if (end == s_.c_str() + i_) return false;
    v->kind = Value::NUM;
    i_ = static_cast<std::size_t>(end - s_.c_str());
    return true;
  }
  const std::string& s_;
  std::size_t i_ = 0;
};

// Every top-level value of a text: one JSON document per line, or a single array.
inline std::vector<Value> parse_all(const std::string& text) {
  std::vector<Value> out;
  Parser p(text);
  while (!p.at_end()) {
    Value v;
    if (!p.parse(&v)) break;
    out.push_back(std::move(v));
  }
  return out;
}

// One JSON document per line. A line that does not parse (some decoders print
// malformed records) becomes an object holding only its "type" number.
inline std::vector<Value> parse_lines(const std::string& text) {
  std::vector<Value> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t e = text.find('\n', i);
    if (e == std::string::npos) e = text.size();
    const std::string line = text.substr(i, e - i);
    i = e + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Value v;
    Parser p(line);
    if (!p.parse(&v)) {
      v = Value{};
      v.kind = Value::OBJ;
      const std::size_t t = line.find("\"type\":");
      Value n;
      n.kind = Value::NUM;
      n.num = t == std::string::npos ? -1.0 : std::strtod(line.c_str() + t + 7, nullptr);
      v.obj["type"] = n;
    }
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace json_min
