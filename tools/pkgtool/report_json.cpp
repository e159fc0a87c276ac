// Inspection reports as JSON.
#include "pkgtool/report_json.h"

#include <cstdio>

#include "pkgtool/report_output.h"

namespace {

using nlohmann::json;

constexpr int kJsonIndent = 2;

// Whether the bytes are well-formed UTF-8 (shortest forms, no surrogates).
bool isUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    const unsigned char second = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0x80;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
      return false;
    i += length;
  }
  return true;
}

std::string hexText(const std::string& bytes) {
  std::string text;
  char digits[3];
  for (unsigned char byte : bytes) {
    snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

// object[key] = bytes, and object[key + "_hex"] when they are not UTF-8.
void putBytes(json& object, const std::string& key, const std::string& bytes) {
  object[key] = bytes;
  if (!isUtf8(bytes)) object[key + "_hex"] = hexText(bytes);
}

// "0100755": the whole mode, file type bits included.
std::string octalMode(uint32_t mode) {
  char text[16];
  snprintf(text, sizeof text, "0%o", mode);
  return text;
}

std::string boundText(Version bound) { return bound == 0 ? std::string() : versionText(bound); }

json dependencyJson(const std::vector<Dependency>& list, bool withPriority) {
  json entries = json::array();
  for (const Dependency& entry : list) {
    json item = {{"min", entry.min}, {"max", entry.max}, {"min_text", boundText(entry.min)},
                 {"max_text", boundText(entry.max)}};
    putBytes(item, "name", entry.name);
    if (withPriority) item["priority"] = entry.priority;
    entries.push_back(item);
  }
  return entries;
}

json filesJson(const std::vector<FileRecord>& files) {
  json entries = json::array();
  for (const FileRecord& file : files) {
    json item = {{"mode", octalMode(file.mode)}, {"class", file.processorClass}, {"size", file.size}};
    putBytes(item, "name", file.name);
    entries.push_back(item);
  }
  return entries;
}

json packageJson(const PackageReport& package) {
  const PackageInfo& info = *package.info;
  json object = {
      {"version", info.version},
      {"version_text", versionText(info.version)},
      {"build_time", info.buildTime},
      {"flags", info.flags},
      {"has_image", info.hasImage},
      {"is_bundle", info.isBundle},
      {"depends", dependencyJson(info.depends, false)},
      {"provides", dependencyJson(info.provides, true)},
      {"conflicts", dependencyJson(info.conflicts, false)},
      {"start_disabled", package.startDisabled},
      {"files", filesJson(package.files)},
      {"offset", package.offset},
      {"signature", verdictName(package.signature)},
  };
  putBytes(object, "name", info.name);
  putBytes(object, "architecture", info.architecture);
  putBytes(object, "description", info.description);
  return object;
}

}  // namespace

json reportJson(const FileReport& report) {
  json packages = json::array();
  for (const PackageReport& package : report.packages) packages.push_back(packageJson(package));
  json parts = json::array();
  for (const PartEntry& part : report.layout.parts)
    parts.push_back({{"offset", part.offset}, {"type", part.type}, {"length", part.length},
                     {"name", partTypeName(part.type)}});
  json object = {
      {"magic", magicName(report.layout)},
      {"size", report.layout.size},
      {"verdict", report.broken() ? "broken" : report.allSignaturesHold() ? "ok" : "bad_signature"},
      {"broken", report.brokenReason},
      {"parts", parts},
      {"packages", packages},
  };
  putBytes(object, "file", report.path);
  return object;
}

json unreadableJson(const std::string& path) {
  json object = {{"verdict", "unreadable"}};
  putBytes(object, "file", path);
  return object;
}

std::string jsonText(const json& object) {
  return object.dump(kJsonIndent, ' ', false, json::error_handler_t::replace);
}
