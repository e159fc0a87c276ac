// Building bundle files from signed package files.
#include "pkgtool/bundle_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgfile/package_stream.h"
#include "pkgtool/file_report.h"
#include "pkgtool/output_file.h"
#include "pkgtool/part_writer.h"

namespace {

// An absent architecture part reads as this.
const char kDefaultArchitecture[] = "i386";

struct Member {
  std::string path;
  std::string name;
  std::string architecture;
  uint64_t size = 0;
};

// Each member is one whole package whose signature holds.
BundleFault checkMember(const std::string& path, const PublicKey& key, Member* member, std::string* error) {
  FileReport report;
  if (!inspectFile(path, key, true, &report, error)) return BundleFault::MemberBroken;
  if (report.broken()) {
    *error = path + ": broken package file: " + report.brokenReason;
    return BundleFault::MemberBroken;
  }
  if (report.packages.size() != 1 || report.packages[0].info->isBundle) {
    *error = path + ": a bundle member must be a single package, not a bundle";
    return BundleFault::Refused;
  }
  if (report.packages[0].signature != SignatureVerdict::Ok) {
    *error = path + ": signature " + (report.packages[0].signature == SignatureVerdict::Missing
                                          ? "missing"
                                          : "does not hold under the key");
    return BundleFault::MemberSignature;
  }
  const PackageInfo& info = *report.packages[0].info;
  *member = Member{path, info.name, info.architecture, report.layout.size};
  return BundleFault::None;
}

// The member names, once each, and the list of those starting
// disabled, each naming a member.
// A bundle named like a member would be taken for that member on the board,
// and the member's files would never reach flash.
bool checkMemberName(const BundleRequest& request, const Member& member, std::string* error) {
  if (member.name != request.header.name) return true;
  *error = member.path + ": the bundle cannot be named like its member " + member.name;
  return false;
}

// A member made for another architecture than its bundle is refused on the
// board where the bundle is not, or the other way round.
void warnOfArchitecture(const BundleRequest& request, const Member& member, std::vector<std::string>* warnings) {
  const std::string bundle = request.header.architecture.value_or(kDefaultArchitecture);
  if (warnings == nullptr || member.architecture == bundle) return;
  warnings->push_back("member " + member.name + " is made for \"" + member.architecture + "\", the bundle for \"" +
                      bundle + "\"");
}

BundleFault collectMembers(const BundleRequest& request, const PublicKey& key, std::vector<Member>* members,
                           std::vector<Dependency>* startDisabled, std::vector<std::string>* warnings,
                           std::string* error) {
  if (request.members.empty()) {
    *error = "a bundle needs at least one member";
    return BundleFault::Refused;
  }
  for (const std::string& path : request.members) {
    Member member;
    const BundleFault fault = checkMember(path, key, &member, error);
    if (fault != BundleFault::None) return fault;
    if (!checkMemberName(request, member, error)) return BundleFault::Refused;
    warnOfArchitecture(request, member, warnings);
    for (const Member& earlier : *members) {
      if (earlier.name == member.name) {
        *error = path + ": a second member named " + member.name + " (also in " + earlier.path + ")";
        return BundleFault::Refused;
      }
    }
    members->push_back(member);
  }
  for (const std::string& name : request.startDisabled) {
    bool found = false;
    for (const Member& member : *members) found = found || member.name == name;
    if (!found) {
      *error = "--start-disabled " + name + ": no member of that name";
      return BundleFault::Refused;
    }
    // A record that conflicts with every version of the member.
    startDisabled->push_back(Dependency{name, 0, 0, 0});
  }
  return BundleFault::None;
}

// The member's parts, everything after its 8-byte file header.
bool copyMember(const Member& member, OutputFile* out, std::string* error) {
  int fd = open(member.path.c_str(), O_RDONLY);
  if (fd < 0) {
    *error = member.path + ": cannot open: " + strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == member.size;
  if (!ok) *error = member.path + ": changed while the bundle was being made";
  ok = ok && out->copyFrom(fd, member.path, kFileHeaderSize, member.size - kFileHeaderSize, error);
  close(fd);
  return ok;
}

// The bundle's parts, then each member's, into out.
bool writeBundle(const BundleRequest& request, const std::vector<Member>& members,
                 const std::vector<Dependency>& startDisabled, const std::string& outPath, std::string* error) {
  OutputFile out;
  if (!out.open(outPath, error)) return false;
  // The bundle's own parts, which no signature covers.
  PartWriter writer(&out);
  if (!writer.writeFileHeader(kPackageMagic, error) || !writer.writeHeaderParts(kBundleHeaderPart, request.header, error))
    return false;
  if (!startDisabled.empty() && !writer.writeListPart(kBundleMembersPart, startDisabled, error)) return false;
  for (const Member& member : members)
    if (!copyMember(member, &out, error)) return false;
  return writer.finishFile(error) && out.commit(error);
}

}  // namespace

BundleFault buildBundle(const BundleRequest& request, const PublicKey& memberKey, const std::string& outPath,
                        std::string* error, std::vector<std::string>* warnings) {
  if (!checkPackageName(request.header.name, error)) return BundleFault::Refused;
  std::vector<Member> members;
  std::vector<Dependency> startDisabled;
  const BundleFault fault = collectMembers(request, memberKey, &members, &startDisabled, warnings, error);
  if (fault != BundleFault::None) return fault;
  return writeBundle(request, members, startDisabled, outPath, error) ? BundleFault::None : BundleFault::Output;
}
