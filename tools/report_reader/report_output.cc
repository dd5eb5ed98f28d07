#include "report_output.h"

namespace srdump {
namespace {

using internal::AppendUtf8;
using internal::Format;

// A JSON string. Lone surrogates keep their code unit as a \u escape, so that
// the text survives a JSON reader unchanged.
std::string JsonText(const std::u16string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(&out, 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += Format("\\u%04x", static_cast<unsigned>(c));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += Format("\\u%04x", static_cast<unsigned>(c));
    } else {
      AppendUtf8(&out, c);
    }
  }
  return out + "\"";
}

// A JSON string of UTF-8 text (a path, a reason): bytes pass through, quotes,
// backslashes and control characters are escaped.
std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    unsigned char b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      out += Format("\\u%04x", b);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Texts in the listing: quoted, control characters escaped.
std::string QuotedText(const std::u16string& text) { return JsonText(text); }

std::string Key(uint32_t key) { return Format("0x%08X", key); }

const char* KindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::TextList: return "TextList";
    case RecordKind::NumberList: return "NumberList";
    case RecordKind::Text: return "Text";
    case RecordKind::Number: return "Number";
  }
  return "?";
}

std::string SavedAt(const Header& h) {
  return Format("%04u-%02u-%02u %02u:%02u:%02u", h.year, h.month, h.day, h.hour, h.minute, h.second);
}

}  // namespace

std::string ToJson(const Report& report, const std::string& file) {
  std::string out = "{\n  \"file\": " + JsonString(file);
  if (report.has_header) {
    const Header& h = report.header;
    out += Format(
        ",\n  \"header\": {\n    \"version\": {\"major\": %u, \"minor\": %u, \"build\": %u, "
        "\"revision\": %u},\n",
        h.major, h.minor, h.build, h.revision);
    out += "    \"saved\": " + JsonString(SavedAt(h)) + ",\n";
    out += "    \"identifier\": " + JsonText(h.identifier) + ",\n";
    out += Format("    \"payload_length\": %u\n  }", h.payload_length);
  }
  out += ",\n  \"counters\": [";
  for (size_t i = 0; i < report.counters.size(); ++i) {
    const Counter& c = report.counters[i];
    out += Format("%s\n    {\"key\": \"0x%08X\", \"value\": %d}", i ? "," : "", c.key, c.value);
  }
  out += report.counters.empty() ? "]" : "\n  ]";
  out += ",\n  \"lists\": [";
  for (size_t i = 0; i < report.lists.size(); ++i) {
    const List& l = report.lists[i];
    out += Format("%s\n    {\"key\": \"0x%08X\", \"kind\": \"%s\", \"count\": %u, \"items\": [", i ? "," : "",
                  l.key, KindName(l.kind), l.count);
    if (l.kind == RecordKind::NumberList) {
      for (size_t k = 0; k < l.numbers.size(); ++k) out += Format("%s%d", k ? ", " : "", l.numbers[k]);
    } else {
      for (size_t k = 0; k < l.texts.size(); ++k) out += (k ? ", " : "") + JsonText(l.texts[k]);
    }
    out += "]}";
  }
  out += report.lists.empty() ? "]" : "\n  ]";
  out += ",\n  \"values\": [";
  for (size_t i = 0; i < report.values.size(); ++i) {
    const Value& v = report.values[i];
    out += Format("%s\n    {\"key\": \"0x%08X\", \"kind\": \"%s\", \"value\": ", i ? "," : "", v.key,
                  KindName(v.kind));
    out += v.kind == RecordKind::Number ? Format("%d", v.number) : JsonText(v.text);
    out += "}";
  }
  out += report.values.empty() ? "]" : "\n  ]";
  if (report.fault) {
    out += Format(",\n  \"fault\": {\"offset\": %zu, \"reason\": ", report.fault->offset) +
           JsonString(report.fault->reason) + "}";
  }
  return out + "\n}\n";
}

std::string ToText(const Report& report, const std::string& file) {
  std::string out = Format("%-16s", "file") + file + "\n";
  if (report.has_header) {
    const Header& h = report.header;
    out += Format("%-16s%u.%u.%u.%u\n", "version", h.major, h.minor, h.build, h.revision);
    out += Format("%-16s%s\n", "saved", SavedAt(h).c_str());
    out += Format("%-16s", "identifier") + QuotedText(h.identifier) + "\n";
    out += Format("%-16s%u\n", "payload_length", h.payload_length);
  }
  for (const Counter& c : report.counters) {
    out += Format("%-8s%s  %-10s  %d\n", "counter", Key(c.key).c_str(), "", c.value);
  }
  for (const List& l : report.lists) {
    out += Format("%-8s%s  %-10s  %u item%s\n", "list", Key(l.key).c_str(), KindName(l.kind), l.count,
                  l.count == 1 ? "" : "s");
    if (l.kind == RecordKind::NumberList) {
      for (size_t k = 0; k < l.numbers.size(); ++k) out += Format("%26s[%zu] %d\n", "", k, l.numbers[k]);
    } else {
      for (size_t k = 0; k < l.texts.size(); ++k) {
        out += Format("%26s[%zu] ", "", k) + QuotedText(l.texts[k]) + "\n";
      }
    }
  }
  for (const Value& v : report.values) {
    out += Format("%-8s%s  %-10s  ", "value", Key(v.key).c_str(), KindName(v.kind));
    out += (v.kind == RecordKind::Number ? Format("%d", v.number) : QuotedText(v.text)) + "\n";
  }
  if (report.fault) {
    out += Format("%-16soffset %zu: %s\n", "fault", report.fault->offset, report.fault->reason.c_str());
  }
  return out;
}

}  // namespace srdump
