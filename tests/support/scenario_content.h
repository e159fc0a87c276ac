// File contents as the scenario files write them: text, or in braces a
// generated or summarised content, so that a 300 KB file takes one line:
//   {L*70000}                  the byte L 70000 times (the byte may be \xNN)
//   {random 300K}              300 KiB that do not compress (incompressibleBytes)
//   {package NAME}             the bytes of the package NAME built last
//   {70000 bytes sha1 HEX}     any content of that size and SHA-1 (expected contents only)
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ContentSpec {
  enum Kind { Text, Repeat, Random, Package, Digest } kind = Text;
  std::string text;  // Text: the bytes; Repeat: the byte; Package: the name; Digest: the hex digest
  size_t size = 0;   // Repeat, Random, Digest
};

// The packages a content may name: the bytes of the one built last, or null.
using PackageBytes = std::function<const std::string*(const std::string& name)>;

// A brace form; false with *error when `token` is not one.
bool parseContentGenerator(const std::string& token, ContentSpec* spec, std::string* error);
// Input content: a brace form, or else text with C escapes.
bool parseInputContent(const std::string& token, ContentSpec* spec, std::string* error);
// Expected content: a brace form, or text with C escapes in double quotes.
bool parseExpectedContent(const std::string& token, ContentSpec* spec, std::string* error);

// The bytes of a spec; false for a digest or an unknown package.
bool contentBytes(const ContentSpec& spec, const PackageBytes& packages, std::string* bytes, std::string* error);
bool contentMatches(const ContentSpec& spec, const std::string& bytes, const PackageBytes& packages);

// The expected form of actual bytes: quoted text when short, else the
// shortest brace form that fits (a repeated byte, a package, a digest).
std::string describeContent(const std::string& bytes,
                            const std::vector<std::pair<std::string, const std::string*>>& packages);

// "300K", "1M" or plain bytes.
bool parseSize(const std::string& text, size_t* size);
