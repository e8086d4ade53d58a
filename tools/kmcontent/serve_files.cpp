// Serving the release's files. A request path is decoded from the raw target and checked
// (request_path.h); the file must then resolve, links followed, to a regular file inside the
// files/ folder it was asked under, so neither ".." nor a link can lead out of the release.
// The folder is resolved once per request, so a release switched in between two look-ups
// cannot make a file of the new release look like one outside the old.
#include "tools/kmcontent/serve_files.h"
#include "tools/kmcontent/range.h"
#include "tools/kmcontent/request_path.h"
#include "tools/kmcontent/validators.h"
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kFilesPrefix[] = "/files/";
const char kReleasesPrefix[] = "/releases/";
const char kImmutable[] = "public, max-age=31536000, immutable";

struct FileAnswer {
  std::string path;
  const char* type = "application/octet-stream";
  const char* cacheControl = nullptr;
};

MHD_Result NotFound(MHD_Connection* connection, ServeRequest* request, const char* note = nullptr) {
  return QueueText(connection, request, MHD_HTTP_NOT_FOUND, "Not found\n", note);
}

// A file that is there but cannot be served: the server's fault, logged with the reason.
MHD_Result Failed(MHD_Connection* connection, ServeRequest* request, const char* what, int error) {
  request->note = std::string("error: ") + what + ": " + strerror(error);
  bool outOfHandles = error == EMFILE || error == ENFILE || error == ENOMEM;
  int status = outOfHandles ? MHD_HTTP_SERVICE_UNAVAILABLE : MHD_HTTP_INTERNAL_SERVER_ERROR;
  return QueueText(connection, request, status, outOfHandles ? "Busy, try again\n" : "Server error\n");
}

// A folder whose name starts with a dot holds something unfinished or private (publish's
// staging, an editor's or a version control's folder), never released files.
bool InHiddenFolder(const std::string& relative) {
  size_t lastSlash = relative.rfind('/');
  if (lastSlash == std::string::npos) return false;
  return relative[0] == '.' || ("/" + relative.substr(0, lastSlash)).find("/.") != std::string::npos;
}

bool IsMissing(int error) { return error == ENOENT || error == ENOTDIR; }

// publish writes a release into ".vN.new-PID" before it is one: a name that starts with a dot
// is never a release.
bool IsReleaseName(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

void AddHeader(MHD_Response* response, const char* name, const std::string& value) {
  MHD_add_response_header(response, name, value.c_str());
}

MHD_Response* EmptyBody() { return MHD_create_response_from_buffer(0, const_cast<char*>(""), MHD_RESPMEM_PERSISTENT); }

// Over TLS there is no sendfile, and the library reads a file body in 4 KiB blocks, one TLS
// record each: 512 MiB went out at under 30 MB/s. The body is read in larger blocks instead,
// never larger than the answer: each answer holds its block until it ends, for as long as
// its client takes. 512 MiB over loopback, 5 runs each on the shared 2-core machine, medians:
// 256 KiB blocks 0.41 s, 64 KiB 0.35 s, 16 KiB 0.39 s; so 64 KiB, a quarter of the memory of
// a slow download.
constexpr size_t kTlsFileBlock = 64 * 1024;

struct FileReader {
  int fd;
  uint64_t first;
};

ssize_t ReadFileBlock(void* cls, uint64_t position, char* buffer, size_t max) {
  auto* reader = static_cast<FileReader*>(cls);
  ssize_t got = pread(reader->fd, buffer, max, static_cast<off_t>(reader->first + position));
  return got > 0 ? got : MHD_CONTENT_READER_END_WITH_ERROR;  // the length was promised
}

void CloseFileReader(void* cls) {
  auto* reader = static_cast<FileReader*>(cls);
  close(reader->fd);
  delete reader;
}

bool OverTls(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
  return info != nullptr && info->tls_session != nullptr;
}

// The body from the open file (which the response then owns), or an empty one. A HEAD answer
// sends no body, so it needs no block either.
MHD_Response* FileBody(int fd, const RangePlan& plan, bool tls, bool head) {
  if (plan.length == 0 || plan.answer == RangeAnswer::Unsatisfiable) {
    close(fd);
    return EmptyBody();
  }
  if (tls && !head) {
    auto* reader = new FileReader{fd, plan.first};
    size_t block = static_cast<size_t>(std::min<uint64_t>(kTlsFileBlock, plan.length));
    MHD_Response* response = MHD_create_response_from_callback(plan.length, block, ReadFileBlock, reader, CloseFileReader);
    if (response == nullptr) CloseFileReader(reader);
    return response;
  }
  MHD_Response* response = MHD_create_response_from_fd_at_offset64(plan.length, fd, plan.first);
  if (response == nullptr) close(fd);
  return response;
}

// The Range header, unless If-Range says the client's copy is of another file.
std::string EffectiveRange(MHD_Connection* connection, const std::string& etag, const std::string& modified) {
  std::string range = HeaderValue(connection, "Range");
  const char* ifRange = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-Range");
  if (!range.empty() && ifRange != nullptr && !IfRangeAllowsRange(ifRange, etag, modified)) return std::string();
  return range;
}

MHD_Result SendOpenFile(MHD_Connection* connection, ServeRequest* request, int fd, const struct stat& info,
                        const FileAnswer& file) {
  FileStamp stamp{static_cast<uint64_t>(info.st_size), static_cast<uint64_t>(info.st_ino),
                  static_cast<int64_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
  std::string etag = EntityTag(stamp);
  std::string modified = HttpDate(info.st_mtim.tv_sec);
  uint64_t size = stamp.size;
  bool notModified = IfNoneMatchHits(HeaderValue(connection, "If-None-Match"), etag);
  RangePlan plan = PlanRange(EffectiveRange(connection, etag, modified), size);
  int status = notModified ? MHD_HTTP_NOT_MODIFIED
               : plan.answer == RangeAnswer::Partial       ? MHD_HTTP_PARTIAL_CONTENT
               : plan.answer == RangeAnswer::Unsatisfiable ? MHD_HTTP_RANGE_NOT_SATISFIABLE
                                                           : MHD_HTTP_OK;
  if (notModified) plan.length = 0;
  MHD_Response* response = FileBody(fd, plan, OverTls(connection), request->method == "HEAD");
  if (response == nullptr) return QueueAnswer(connection, request, status, nullptr, 0);
  AddHeader(response, "Accept-Ranges", "bytes");
  AddHeader(response, "ETag", etag);
  AddHeader(response, "Last-Modified", modified);
  if (!notModified) AddHeader(response, "Content-Type", file.type);
  if (file.cacheControl != nullptr) AddHeader(response, "Cache-Control", file.cacheControl);
  if (!notModified && plan.answer != RangeAnswer::Whole) {
    std::string range = ContentRangeValue(plan, size);
    AddHeader(response, "Content-Range", range);
    if (plan.answer == RangeAnswer::Partial) request->note = "range " + range.substr(6);
  }
  return QueueAnswer(connection, request, status, response, plan.answer == RangeAnswer::Unsatisfiable ? 0 : plan.length);
}

MHD_Result SendFile(MHD_Connection* connection, ServeRequest* request, const FileAnswer& file) {
  int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    return IsMissing(error) ? NotFound(connection, request) : Failed(connection, request, "open", error);
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    int error = errno;
    close(fd);
    return Failed(connection, request, "stat", error);
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return NotFound(connection, request);
  }
  return SendOpenFile(connection, request, fd, info, file);
}

// The file `relative` inside filesDir, links followed and kept inside.
MHD_Result SendInside(MHD_Connection* connection, ServeRequest* request, const std::string& filesDir,
                      const std::string& relative, const char* cacheControl) {
  if (InHiddenFolder(relative)) return NotFound(connection, request, "refused: hidden folder");
  char root[PATH_MAX];
  char resolved[PATH_MAX];
  if (realpath(filesDir.c_str(), root) == nullptr) {
    int error = errno;
    return IsMissing(error) ? NotFound(connection, request) : Failed(connection, request, "release folder", error);
  }
  std::string wanted = std::string(root) + "/" + relative;
  if (realpath(wanted.c_str(), resolved) == nullptr) {
    int error = errno;
    if (error == ELOOP) return NotFound(connection, request, "refused: link loop");
    return IsMissing(error) ? NotFound(connection, request) : Failed(connection, request, "resolve", error);
  }
  std::string prefix = std::string(root) + "/";
  if (strncmp(resolved, prefix.c_str(), prefix.size()) != 0) {
    return NotFound(connection, request, "refused: link out of the release");
  }
  FileAnswer file;
  file.path = resolved;
  file.cacheControl = cacheControl;
  return SendFile(connection, request, file);
}

}  // namespace

MHD_Result AnswerManifest(MHD_Connection* connection, ServeRequest* request, const std::string& releaseDir) {
  FileAnswer file;
  file.path = releaseDir + "/manifest";
  file.type = "text/plain; charset=utf-8";
  file.cacheControl = "no-cache";
  return SendFile(connection, request, file);
}

MHD_Result AnswerReleaseFile(MHD_Connection* connection, ServeRequest* request, const std::string& releaseDir,
                             const std::string& target) {
  std::string relative;
  if (target.compare(0, strlen(kFilesPrefix), kFilesPrefix) == 0) {
    if (!FilePathFromTarget(target, relative)) return NotFound(connection, request, "refused: unsafe path");
    return SendInside(connection, request, releaseDir + "/files", relative, nullptr);
  }
  if (target.compare(0, strlen(kReleasesPrefix), kReleasesPrefix) != 0) return NotFound(connection, request);
  size_t nameEnd = target.find('/', strlen(kReleasesPrefix));
  if (nameEnd == std::string::npos) return NotFound(connection, request);
  std::string name = target.substr(strlen(kReleasesPrefix), nameEnd - strlen(kReleasesPrefix));
  if (!name.empty() && name[0] == '.') return NotFound(connection, request, "refused: hidden folder");
  if (!IsReleaseName(name)) return NotFound(connection, request, "refused: unsafe path");
  // A kept release's manifest: where a staged rollout keeps the installs it leaves out.
  if (target.compare(nameEnd, std::string::npos, "/manifest") == 0 || target.compare(nameEnd, 10, "/manifest?") == 0) {
    return AnswerManifest(connection, request, releaseDir + "/releases/" + name);
  }
  if (!FilePathFromTarget(target.substr(nameEnd), relative)) {
    return NotFound(connection, request, target.compare(nameEnd, 7, "/files/") == 0 ? "refused: unsafe path" : nullptr);
  }
  return SendInside(connection, request, releaseDir + "/releases/" + name + "/files", relative, kImmutable);
}
