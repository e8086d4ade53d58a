// Serving the release's files. A request path is decoded from the raw target and checked
// (request_path.h); the file must then resolve, links followed, to a regular file inside
// files/, so neither ".." nor a link can lead out of the release. The body is read with
// pread into one buffer per answer and handed to the library piece by piece.
#include "tools/kmcontent/serve_files.h"
#include "tools/kmcontent/range.h"
#include "tools/kmcontent/request_note.h"
#include "tools/kmcontent/request_path.h"
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kPieceBytes = 256 * 1024;

struct OpenFile {
  int fd = -1;
  uint64_t first = 0;  // file position of body byte 0
  std::vector<char> buffer;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

void NotFound(httplib::Response& res, const char* note) {
  res.status = 404;
  res.set_content("Not found\n", "text/plain");
  if (note != nullptr) CurrentRequestNote().note = note;
}

// The resolved path of a file inside root (both resolved); empty when it is outside or
// does not exist.
std::string ResolveInside(const std::string& root, const std::string& path) {
  char resolvedRoot[PATH_MAX];
  char resolved[PATH_MAX];
  if (realpath(root.c_str(), resolvedRoot) == nullptr) return std::string();
  if (realpath(path.c_str(), resolved) == nullptr) return std::string();
  std::string prefix = std::string(resolvedRoot) + "/";
  if (strncmp(resolved, prefix.c_str(), prefix.size()) != 0) return std::string();
  return resolved;
}

// The library has range logic of its own (it cannot answer 416 and miscounts a range that
// runs past the end); this server decides ranges from the header text, so the library's
// parsed copy is emptied. The Request object is the library's own non-const local, so
// writing to it is well-defined.
void TakeOverRanges(const httplib::Request& req) { const_cast<httplib::Request&>(req).ranges.clear(); }

void StreamBody(std::shared_ptr<OpenFile> file, const RangePlan& plan, const char* type,
                httplib::Response& res) {
  CurrentRequestNote().streamed = true;
  res.set_content_provider(
      static_cast<size_t>(plan.length), type,
      [file](size_t offset, size_t length, httplib::DataSink& sink) {
        if (file->buffer.empty()) file->buffer.resize(kPieceBytes);
        size_t want = length < kPieceBytes ? length : kPieceBytes;
        ssize_t got = pread(file->fd, file->buffer.data(), want, static_cast<off_t>(file->first + offset));
        if (got <= 0) return false;  // the file shrank: end the connection, the client resumes
        CurrentRequestNote().bytes += static_cast<uint64_t>(got);
        return sink.write(file->buffer.data(), static_cast<size_t>(got));
      });
}

void ServeFile(const std::string& path, const char* type, const httplib::Request& req,
               httplib::Response& res) {
  TakeOverRanges(req);
  auto file = std::make_shared<OpenFile>();
  file->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (file->fd < 0 || fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    NotFound(res, nullptr);
    return;
  }
  uint64_t size = static_cast<uint64_t>(info.st_size);
  RangePlan plan = PlanRange(req.get_header_value("Range"), size);
  res.set_header("Accept-Ranges", "bytes");
  if (plan.answer == RangeAnswer::Unsatisfiable) {
    res.status = 416;
    res.set_header("Content-Range", ContentRangeValue(plan, size));
    return;
  }
  res.status = plan.answer == RangeAnswer::Partial ? 206 : 200;
  if (plan.answer == RangeAnswer::Partial) res.set_header("Content-Range", ContentRangeValue(plan, size));
  if (plan.length == 0) {
    res.set_content("", type);  // a provider of length 0 would be taken for one of unknown length
    return;
  }
  file->first = plan.first;
  StreamBody(file, plan, type, res);
}

}  // namespace

void AddFileRoutes(httplib::Server& server, const std::string& releaseDir) {
  std::string manifest = releaseDir + "/manifest";
  std::string filesRoot = releaseDir + "/files";
  server.Get("/manifest", [manifest](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-cache");
    ServeFile(manifest, "text/plain; charset=utf-8", req, res);
  });
  // [\s\S] and not ".": the library matches the decoded path, which may hold a line break.
  server.Get(R"(/files/[\s\S]*)", [filesRoot](const httplib::Request& req, httplib::Response& res) {
    std::string relative;
    if (!FilePathFromTarget(req.target, relative)) {
      TakeOverRanges(req);
      NotFound(res, "refused: unsafe path");
      return;
    }
    std::string resolved = ResolveInside(filesRoot, filesRoot + "/" + relative);
    if (resolved.empty()) {
      TakeOverRanges(req);
      NotFound(res, access((filesRoot + "/" + relative).c_str(), F_OK) == 0 ? "refused: link out of the release" : nullptr);
      return;
    }
    ServeFile(resolved, "application/octet-stream", req, res);
  });
}
