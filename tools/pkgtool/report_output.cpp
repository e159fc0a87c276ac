// Printing inspection reports as text and as JSON.
#include "pkgtool/report_output.h"

#include <cstdio>
#include <ctime>

#include "pkgfile/package_stream.h"

namespace {

struct PartTypeName {
  uint32_t type;
  const char* name;
};

constexpr PartTypeName kPartTypeNames[] = {
    {kPackageHeaderPart, "package header"},   {kBundleHeaderPart, "bundle header"},
    {kRecord24TextPart, "text (24)"},         {kArchitecturePart, "architecture"},
    {kRecord2TextPart, "text (2)"},           {kDescriptionPart, "description"},
    {kDependsPart, "depends list"},           {kProvidesPart, "provides list"},
    {kConflictsPart, "conflicts list"},       {kImagePart, "image"},
    {kBundleMembersPart, "bundle member list"}, {kFileContainerPart, "file container"},
    {kSignaturePart, "signature"},
};

std::string flagsText(uint32_t flags) {
  std::string text = hex32(flags);
  if (hasFlag(flags, PackageFlag::BootImage)) text += " boot-image";
  if (hasFlag(flags, PackageFlag::NoMetadata)) text += " no-metadata";
  return text;
}

void printList(std::ostream& out, const char* title, const std::vector<Dependency>& list, bool withPriority) {
  if (list.empty()) return;
  out << "  " << title << ":\n";
  for (const Dependency& entry : list) out << "    " << dependencyText(entry, withPriority) << "\n";
}

void printParts(const FileLayout& layout, std::ostream& out) {
  out << "parts:\n";
  char line[96];
  snprintf(line, sizeof line, "  %10s %5s %10s  %s\n", "offset", "type", "length", "name");
  out << line;
  for (const PartEntry& part : layout.parts) {
    snprintf(line, sizeof line, "  %10llu %5u %10u  %s\n", static_cast<unsigned long long>(part.offset), part.type,
             part.length, partTypeName(part.type));
    out << line;
  }
  if (layout.trailingBytes != 0) out << "  (" << layout.trailingBytes << " bytes after the last part)\n";
}

void printFiles(const std::vector<FileRecord>& files, std::ostream& out) {
  out << "  files: " << files.size() << "\n";
  char line[64];
  for (const FileRecord& file : files) {
    snprintf(line, sizeof line, "    %s %5u %10u  ", modeText(file.mode).c_str(), file.processorClass, file.size);
    out << line << file.name << "\n";
  }
}

void printPackage(const PackageReport& package, std::ostream& out) {
  const PackageInfo& info = *package.info;
  out << (info.isBundle ? "bundle " : "package ") << info.name << "-" << versionText(info.version) << " (offset "
      << package.offset << ")\n";
  out << "  version: " << versionText(info.version) << " (" << hex32(info.version) << ")\n";
  out << "  build time: " << buildTimeText(info.buildTime) << " (" << info.buildTime << ")\n";
  out << "  flags: " << flagsText(info.flags) << "\n";
  out << "  architecture: \"" << info.architecture << "\"" << (info.architecture.empty() ? " (any)" : "") << "\n";
  if (!info.description.empty()) out << "  description: " << info.description << "\n";
  out << "  image part: " << (info.hasImage ? "yes" : "no") << "\n";
  printList(out, "depends", info.depends, false);
  printList(out, "provides", info.provides, true);
  printList(out, "conflicts", info.conflicts, false);
  if (info.isBundle) {
    out << "  members starting disabled:";
    for (const std::string& name : package.startDisabled) out << " " << name;
    out << (package.startDisabled.empty() ? " none\n" : "\n");
  } else {
    printFiles(package.files, out);
  }
  out << "  signature: " << verdictName(package.signature) << "\n";
}

}  // namespace

const char* partTypeName(uint32_t type) {
  for (const PartTypeName& entry : kPartTypeNames)
    if (entry.type == type) return entry.name;
  return "unknown";
}

std::string hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string dependencyText(const Dependency& entry, bool withPriority) {
  std::string text = entry.name;
  if (entry.min == 0 && entry.max == 0)
    text += " (any version)";
  else if (entry.max == 0)
    text += " from " + versionText(entry.min);
  else if (entry.min == 0)
    text += " up to " + versionText(entry.max);
  else
    text += " " + versionText(entry.min) + " to " + versionText(entry.max);
  if (withPriority) text += ", priority " + std::to_string(entry.priority);
  return text;
}

const char* verdictWord(const FileReport& report) {
  if (report.broken()) return "BROKEN FILE";
  return report.allSignaturesHold() ? "ok" : "BAD SIGNATURE";
}

const char* magicName(const FileLayout& layout) {
  if (!layout.hasHeader()) return "invalid";
  if (layout.magic == kPackageMagic) return "ordinary";
  if (layout.magic == kUnregisteredMagic) return "unregistered";
  return "invalid";
}

std::string modeText(uint32_t mode) {
  std::string text = "?---------";
  if ((mode & 0xF000) == 0x8000) text[0] = '-';
  if ((mode & 0xF000) == 0x4000) text[0] = 'd';
  if ((mode & 0xF000) == 0xA000) text[0] = 'l';
  const char letters[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (mode & (0400u >> i)) text[1 + i] = letters[i];
  if (mode & 04000) text[3] = (mode & 0100) ? 's' : 'S';
  if (mode & 02000) text[6] = (mode & 0010) ? 's' : 'S';
  if (mode & 01000) text[9] = (mode & 0001) ? 't' : 'T';
  return text;
}

std::string buildTimeText(uint32_t seconds) {
  time_t time = static_cast<time_t>(seconds);
  struct tm parts;
  char text[64];
  if (gmtime_r(&time, &parts) == nullptr || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
    return std::to_string(seconds);
  return text;
}

void printReport(const FileReport& report, std::ostream& out) {
  const FileLayout& layout = report.layout;
  out << "file: " << report.path << "\n";
  out << "magic: " << magicName(layout);
  if (layout.hasHeader()) out << " (" << hex32(layout.magic) << ")";
  out << "\nsize: " << layout.size << " bytes\n";
  printParts(layout, out);
  for (const PackageReport& package : report.packages) printPackage(package, out);
  out << "verdict: " << verdictWord(report) << (report.broken() ? ": " + report.brokenReason : "") << "\n";
}
