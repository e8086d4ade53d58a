// Patching from the old version; see delta_update_win.h. The old file is mapped and scanned
// in place, the plan comes from delta_plan.h, and the part file is appended to run by run
// with its CRC-32 kept, as a download does; the whole is verified like a download (CRC-32,
// and SHA-256 for a signed release).
#include "update/delta_update_win.h"
#include "core/download_cap_win.h"
#include "core/log.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/block_map.h"
#include "update/block_scan.h"
#include "update/crc32.h"
#include "update/delta_plan.h"
#include "update/http_win.h"
#include "update/packed_download_win.h"
#include "update/part_file_win.h"
#include <algorithm>
#include <memory>
#include <optional>

namespace {
constexpr DWORD kPiece = 1u << 20;

// The old file, mapped read-only; others may go on reading it (the game is not running
// while the launcher updates, but a viewer or a virus scanner may be).
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size) || size.QuadPart == 0) return;
    mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping_) view_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    if (view_) size_ = static_cast<uint64_t>(size.QuadPart);
  }
  ~MappedFile() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const uint8_t* data() const { return view_; }
  uint64_t size() const { return size_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  const uint8_t* view_ = nullptr;
  uint64_t size_ = 0;
};

// The part file being built, and where its bytes came from.
struct Build {
  const RemoteFile& file;
  const DownloadProgress& progress;
  PartFile& part;
  uint64_t reused = 0;
  uint64_t fetched = 0;  // bytes that came over the network for the runs
  DWORD lastReport = 0;
  // With a packed form: the runs are ranges of its blocks (packed_download_win.h).
  std::unique_ptr<PackedTransfer> packed{};
  PackedIndex index{};
  bool packedDamaged = false;
};

void PublishPatchProgress(Build& build, bool force) {
  DWORD now = GetTickCount();
  if (!force && static_cast<DWORD>(now - build.lastReport) <= 100) return;
  build.lastReport = now;
  uint64_t have = build.part.Size();
  build.progress.Publish(build.file.path,
                         Fmt("%s (%s reused, %s fetched)", AmountDone(have, build.file.size).c_str(),
                             Megabytes(build.reused).c_str(), Megabytes(build.fetched).c_str()),
                         have);
}

bool Append(Build& build, const void* data, DWORD size) {
  if (!build.part.Append(data, size)) return false;
  PublishPatchProgress(build, false);
  return true;
}

bool CopyRun(Build& build, const MappedFile& old, const DeltaRun& run) {
  for (uint64_t done = 0; done < run.length;) {
    if (QuitRequested()) return false;
    DWORD piece = static_cast<DWORD>(std::min<uint64_t>(kPiece, run.length - done));
    if (!Append(build, old.data() + run.oldOffset + done, piece)) return false;
    build.reused += piece;
    done += piece;
  }
  return true;
}

// "bytes first-last/total" exactly as asked: a server that answers another range, or a
// range of another length of file, must not fill the part file.
bool RangeIsExactly(HINTERNET request, uint64_t first, uint64_t last, uint64_t total) {
  char text[96] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr)) return false;
  std::string answer(text, size);
  return answer == Fmt("bytes %llu-%llu/%llu", static_cast<unsigned long long>(first),
                       static_cast<unsigned long long>(last), static_cast<unsigned long long>(total));
}

// The run's blocks from the packed form, inflated into the part file.
bool FetchPackedRun(Build& build, const DeltaRun& run) {
  PackedTransfer& transfer = *build.packed;
  transfer.why.clear();
  uint64_t wire = 0;
  bool ok = InflateRange(transfer, build.index, run.newOffset, run.newOffset + run.length, wire);
  build.fetched += wire;
  if (!ok && !transfer.why.empty()) {
    LogLine("The packed form of %s is damaged (%s); patching from the file itself", build.file.path.c_str(),
            transfer.why.c_str());
    build.packedDamaged = true;
  }
  return ok;
}

bool FetchRun(Build& build, const std::string& url, const DeltaRun& run) {
  if (build.packed) return FetchPackedRun(build, run);
  uint64_t last = run.newOffset + run.length - 1;
  DWORD status = 0;
  HINTERNET request = OpenUrl(url, Fmt("Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(run.newOffset),
                                       static_cast<unsigned long long>(last)), status);
  if (!request) return false;
  bool ok = status == 206 && RangeIsExactly(request, run.newOffset, last, build.file.size);
  if (!ok) LogLine("Server answered %lu to a range of %s", static_cast<unsigned long>(status), build.file.path.c_str());
  std::vector<unsigned char> buffer(ok ? kPiece : 0);
  for (uint64_t done = 0; ok && done < run.length;) {
    DWORD want = CappedReadSize(static_cast<DWORD>(std::min<uint64_t>(kPiece, run.length - done)));
    DWORD got = 0;
    ok = !QuitRequested() && InternetReadFile(request, buffer.data(), want, &got) && got > 0 &&
         Append(build, buffer.data(), got);
    Downloaded(got);
    build.fetched += got;
    done += got;
  }
  InternetCloseHandle(request);
  return ok;
}

// The map from this source, when it describes exactly the file the manifest lists.
bool FetchBlockMap(const RemoteFile& file, const std::string& fileUrl, BlockMap& map, uint64_t& mapBytes) {
  std::string body;
  if (!HttpGetText(fileUrl + kBlockMapSuffix, body) || body.size() > MaxBlockMapSize(file.size)) return false;
  mapBytes = body.size();
  return ParseBlockMap(body, map) && map.fileSize == file.size && map.fileCrc == file.crc;
}

bool FollowPlan(Build& build, const DeltaPlan& plan, const MappedFile& old, const std::string& url) {
  for (const DeltaRun& run : plan.runs) {
    if (!(run.fetch ? FetchRun(build, url, run) : CopyRun(build, old, run))) return false;
  }
  return true;
}

// The scan polls every few milliseconds; the window hears of it about ten times a second.
bool ScanWithProgress(const BlockMap& map, const MappedFile& old, const Build& build, BlockScan& scan) {
  DWORD lastReport = GetTickCount();
  return ScanOldBytes(map, old.data(), old.size(), scan, [&](uint64_t scanned) {
    if (static_cast<DWORD>(GetTickCount() - lastReport) < 100) return QuitRequested() != 0;
    lastReport = GetTickCount();
    build.progress.Publish(build.file.path,
                           "comparing with your version, " + AmountDone(scanned, old.size()), 0);
    return QuitRequested() != 0;
  });
}

// The plan's work after the map and the scan, up to byte end; a result ends the attempt,
// nothing means the part file has reached end.
std::optional<DownloadResult> BuildPart(Build& build, const DeltaPlan& plan, const MappedFile& old,
                                        const std::string& url, uint64_t end) {
  if (!build.part.OpenForWriting()) return build.part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
  bool complete = FollowPlan(build, plan, old, url);
  build.part.Close();
  if (QuitRequested()) return kDownloadStopped;
  if (!complete || build.part.Size() != end) {
    LogLine("Patching %s stopped at %llu of %llu bytes%s", build.file.path.c_str(),
            static_cast<unsigned long long>(build.part.Size()), static_cast<unsigned long long>(build.file.size),
            build.part.DiskFull() ? " - the disk is full" : "");
    return build.part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
  }
  return std::nullopt;
}
// The runs to fetch come from the file's packed form where there is one and its index is
// sound; else (or with nothing to fetch) from the file itself.
void UsePackedFormForRuns(Build& build, const DeltaPlan& plan, const std::string& fileUrl) {
  bool fetches = std::any_of(plan.runs.begin(), plan.runs.end(), [](const DeltaRun& run) { return run.fetch; });
  if (!fetches || !UsesPackedForm(build.file) || !SourceMayServePacked(build.file, fileUrl)) return;
  build.packed.reset(new PackedTransfer{build.file, build.part, fileUrl + kPackedSuffix,
                                        [] { return QuitRequested() != 0; }, nullptr});
  PackedEnd indexed = FetchPackedIndex(*build.packed, build.index);
  if (indexed == PackedEnd::Complete || indexed == PackedEnd::Damaged || indexed == PackedEnd::NotServed) {
    NotePackedServed(build.file, fileUrl, indexed != PackedEnd::NotServed);
  }
  if (indexed == PackedEnd::Complete) return;
  if (indexed == PackedEnd::Damaged) {
    LogLine("The packed form of %s is damaged (%s); patching from the file itself", build.file.path.c_str(),
            build.packed->why.c_str());
    RefusePackedForm(build.file);
  }
  build.packed.reset();
}

void LogPatched(const Build& build, const DeltaPlan& plan, uint64_t mapBytes, uint64_t end) {
  const char* path = build.file.path.c_str();
  if (build.reused == 0 && end < build.file.size) {
    LogLine("Nothing of %s can be reused from the old file", path);
    return;
  }
  std::string rest = end < build.file.size ? Fmt("; the last %s comes by download", Megabytes(build.file.size - end).c_str())
                                           : std::string();
  LogLine("Patched %s: %s reused from the old file, %s fetched (%llu bytes in %u range requests, map %llu bytes)%s",
          path, Megabytes(build.reused).c_str(), Megabytes(build.fetched).c_str(), static_cast<unsigned long long>(build.fetched),
          unsigned(plan.requests), static_cast<unsigned long long>(mapBytes), rest.c_str());
}
}  // namespace

DownloadResult PatchFile(const RemoteFile& file, const std::string& fileUrl, const std::string& oldPath,
                         const std::string& partPath, const DownloadProgress& progress) {
  MappedFile old(oldPath);
  if (!old.data()) return kDownloadFailed;
  BlockMap map;
  uint64_t mapBytes = 0;
  if (!FetchBlockMap(file, fileUrl, map, mapBytes)) {
    LogLine("No usable block map for %s", file.path.c_str());
    return kDownloadFailed;
  }
  PartFile part(file, partPath);
  if (!part.Resume()) return kDownloadStopped;
  Build build{file, progress, part};
  BlockScan scan;
  if (!ScanWithProgress(map, old, build, scan)) return kDownloadStopped;
  if (scan.overBudget) {
    LogLine("The block map of %s asks for too much hashing; not using it", file.path.c_str());
    return kDownloadFailed;
  }
  DeltaPlan plan = PlanDelta(map, scan, part.Size());
  UsePackedFormForRuns(build, plan, fileUrl);
  // A last stretch that must be fetched anyway is left to the download, which streams it
  // faster than ranges are read; with nothing reusable that is the whole file.
  uint64_t end = file.size;
  if (!plan.runs.empty() && plan.runs.back().fetch) {
    end = plan.runs.back().newOffset;
    plan.runs.pop_back();
    plan.requests--;
  }
  std::optional<DownloadResult> stopped = BuildPart(build, plan, old, fileUrl, end);
  if (build.packedDamaged) RefusePackedForm(file);
  if (stopped) return *stopped;
  PublishPatchProgress(build, true);
  if (end < file.size) {
    LogPatched(build, plan, mapBytes, end);
    return kResumeByDownloading;
  }
  PartFile::Check check = part.VerifyOrDelete();
  if (check == PartFile::Check::BadCrc) LogLine("CRC mismatch on patched %s - deleting it", file.path.c_str());
  if (check != PartFile::Check::Ok && build.packed) RefusePackedForm(file);  // a stored block may have been wrong
  if (check != PartFile::Check::Ok) return kDownloadBadCrc;
  LogPatched(build, plan, mapBytes, end);
  return kDownloadOk;
}
