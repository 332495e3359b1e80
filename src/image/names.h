// How names become identifiers: ASCII upper-casing, UTF-8 to UTF-16 for Joliet, the ISO name
// of a directory created from a path string, and fitting a long name into a directory record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brennix {

// Changes only the ASCII letters a to z.
std::string AsciiUpper(std::string text);

// The UTF-8 sequence at byte `i` of `text`: its code point and length in bytes; length 0 when
// the bytes there form no valid sequence (overlong forms, encoded surrogates, values above
// U+10FFFF, cut sequences).
struct Utf8Char {
  char32_t Code = 0;
  size_t Length = 0;
};
Utf8Char Utf8At(const std::string& text, size_t i);

// UTF-8 to UTF-16 code units. Bytes that do not form a valid sequence (overlong forms,
// encoded surrogates, values above U+10FFFF, cut sequences) each become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
// Number of UTF-16 units of `text` (the "characters" of a Joliet name).
size_t Utf16Units(const std::string& text);
// Appends the name as UTF-16 big-endian.
void AppendUtf16BE(const std::u16string& text, std::vector<uint8_t>& out);
std::vector<uint8_t> JolietIdentifier(const std::string& text);

// The ISO name of a directory made from a path string: upper case, every byte that is not
// A-Z, 0-9 or "_" (spaces, punctuation, control and non-ASCII bytes) becomes "_", at most 13.
std::string CreatedDirShortName(const std::string& name);

// Makes a name safe to stand in the tree and in a Joliet identifier: "\" (the tree's path
// separator), "/" and control characters become "_", and every byte that is not valid UTF-8
// becomes U+FFFD, as it will in the identifier, so that names are compared as written.
std::string CleanLongName(const std::string& name);

// Longest Joliet names (UTF-16 units). A record must stay within 255 bytes (108 characters
// for a file with ";1"), but readers cut Joliet identifiers at 206 bytes, the long-name limit
// other image tools keep to, so identifiers stay within 103 units, ";1" included.
constexpr size_t kMaxJolietIdUnits = 103;
constexpr size_t kMaxJolietFileUnits = kMaxJolietIdUnits - 2;
constexpr size_t kMaxJolietDirUnits = kMaxJolietIdUnits;
// Longest ISO identifier this program writes (without ";1").
constexpr size_t kMaxShortNameBytes = 30;

// Shortens `name` to at most `maxUnits` UTF-16 units, keeping its extension (from the last
// ".", when that is short) and never splitting a character. When `taken` says the result is
// in use, "~N" is put before the extension until it is free.
std::string FitLongName(const std::string& name, size_t maxUnits,
                        const std::function<bool(const std::string&)>& taken);

}  // namespace brennix
