#include "image/names.h"

#include <algorithm>

namespace brennix {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`, advancing `i`; invalid input yields U+FFFD for one byte.
char32_t DecodeOne(const std::string& s, size_t& i) {
  const Utf8Char c = Utf8At(s, i);
  i += c.Length == 0 ? 1 : c.Length;
  return c.Length == 0 ? kReplacement : c.Code;
}

void Append(char32_t cp, std::u16string& out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// Byte positions where each code point starts, with the units it takes, so that names can be
// cut between characters.
struct Cut {
  size_t byte;
  size_t units;  // units before this position
};

std::vector<Cut> CutPoints(const std::string& s) {
  std::vector<Cut> cuts;
  size_t units = 0;
  for (size_t i = 0; i < s.size();) {
    cuts.push_back({i, units});
    units += DecodeOne(s, i) >= 0x10000 ? 2 : 1;
  }
  cuts.push_back({s.size(), units});
  return cuts;
}

// The longest prefix of `s` with at most `maxUnits` units.
std::string PrefixUnits(const std::string& s, size_t maxUnits) {
  const std::vector<Cut> cuts = CutPoints(s);
  size_t byte = 0;
  for (const Cut& c : cuts) {
    if (c.units > maxUnits) break;
    byte = c.byte;
  }
  return s.substr(0, byte);
}

}  // namespace

Utf8Char Utf8At(const std::string& s, size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {b0, 1};
  size_t extra = 0;
  char32_t cp = 0, min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {};
  }
  if (i + extra >= s.size()) return {};  // cut short
  for (size_t k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return {};
    cp = cp << 6 | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
  return {cp, extra + 1};
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) Append(DecodeOne(text, i), out);
  return out;
}

size_t Utf16Units(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) units += DecodeOne(text, i) >= 0x10000 ? 2 : 1;
  return units;
}

void AppendUtf16BE(const std::u16string& text, std::vector<uint8_t>& out) {
  out.reserve(out.size() + 2 * text.size());
  for (const char16_t u : text) {
    out.push_back(static_cast<uint8_t>(u >> 8));
    out.push_back(static_cast<uint8_t>(u & 0xFF));
  }
}

std::vector<uint8_t> JolietIdentifier(const std::string& text) {
  // ASCII, as most names are: a zero byte before each.
  std::vector<uint8_t> out(2 * text.size(), 0);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      out.clear();
      AppendUtf16BE(Utf8ToUtf16(text), out);
      break;
    }
    out[2 * i + 1] = c;
  }
  return out;
}

std::string CreatedDirShortName(const std::string& name) {
  std::string out = AsciiUpper(name);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    const bool keep = (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
    if (!keep) c = '_';
  }
  if (out.size() > 13) out.resize(13);
  return out;
}

std::string CleanLongName(const std::string& name) {
  // Most names need nothing: printable ASCII without a separator.
  const auto plain = [](char c) { return c >= 0x20 && c < 0x7F && c != '\\' && c != '/'; };
  if (std::all_of(name.begin(), name.end(), plain)) return name;
  static const std::string kReplacementUtf8 = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t start = i;
    const char32_t cp = DecodeOne(name, i);
    if (cp == kReplacement && name.compare(start, i - start, kReplacementUtf8) != 0) {
      out += kReplacementUtf8;  // what the Joliet identifier will hold for the bad byte
    } else if (cp < 0x20 || cp == 0x7F || cp == '\\' || cp == '/') {
      out += '_';
    } else {
      out.append(name, start, i - start);
    }
  }
  return out;
}

std::string FitLongName(const std::string& name, size_t maxUnits,
                        const std::function<bool(const std::string&)>& taken) {
  if (Utf16Units(name) <= maxUnits && !(taken && taken(name))) return name;
  const size_t dot = name.rfind('.');
  std::string ext;
  if (dot != std::string::npos && dot > 0 && Utf16Units(name.substr(dot)) <= 16) {
    ext = name.substr(dot);
  }
  const std::string stem = name.substr(0, name.size() - ext.size());
  const size_t extUnits = Utf16Units(ext);
  const size_t room = maxUnits > extUnits ? maxUnits - extUnits : 0;
  std::string candidate = PrefixUnits(stem, room) + ext;
  if (!(taken && taken(candidate))) return candidate;
  for (uint32_t n = 1;; ++n) {
    const std::string tail = std::string("~").append(std::to_string(n));  // -Wrestrict at -O3
    const size_t stemRoom = room > tail.size() ? room - tail.size() : 0;
    candidate = PrefixUnits(stem, stemRoom) + tail + ext;
    if (!taken(candidate)) return candidate;
  }
}

}  // namespace brennix
