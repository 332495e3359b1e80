// The list of SHA-256 sums a disc may carry at its root, in the format `sha256sum -c` reads
// ("<64 hex digits>  <path>", a leading backslash where a name holds one or a line break).
#pragma once

#include <atomic>
#include <map>
#include <string>

namespace brennix {

class TIsoImage;

constexpr const char* kChecksumListName = "SHA256SUMS";

// The SHA-256 of a file as 64 hex digits; empty with error set when it cannot be read or
// *cancel turned true.
std::string HashFile(const std::string& path, const std::atomic<bool>* cancel, std::string& error);

// Hashes every source file of the tree and writes the list as SHA256SUMS into a new
// temporary folder (folder; the caller removes it). Empty on success, else why not.
std::string WriteChecksumList(const TIsoImage& tree, const std::atomic<bool>* cancel,
                              std::string& folder);

// Removes the folder WriteChecksumList made (nothing when empty).
void RemoveChecksumFolder(const std::string& folder);

// One line of the list for a path on the disc.
std::string ChecksumLine(const std::string& hex, const std::string& path);
// The list's lines as path -> hex digits; lines not in the format are passed over.
std::map<std::string, std::string> ParseChecksumList(const std::string& text);

}  // namespace brennix
