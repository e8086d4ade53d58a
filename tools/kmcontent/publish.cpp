// The publish run. In order: read and check the release values, list the build folder,
// check every path against the launcher's rules, check that the output folder is a release
// (or absent or empty) so that no other folder is ever replaced, copy and hash the files
// into a staging folder beside it on several threads, write the manifest, flush it all to
// disk, and swap the staging folder in. Nothing is written before every check has passed.
#include "tools/kmcontent/publish.h"
#include "tools/kmcontent/packed_writer.h"
#include "tools/kmcontent/publish_rules.h"
#include "tools/kmcontent/release_key.h"
#include "tools/kmcontent/release_layout.h"
#include "tools/kmcontent/release_staging.h"
#include "tools/kmcontent/release_swap.h"
#include "tools/kmcontent/release_channels.h"
#include "tools/kmcontent/shared_files.h"
#include "update/release_channel.h"
#include "core/text.h"
#include "update/block_map.h"
#include "update/packed_form.h"
#include "core/sha256.h"
#include "update/crc32.h"
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyBuffer = 1 << 20;
// Blocks of kPublishBlockSize (block_map.h): large enough that the map of a 2 GB archive
// stays under 1 MB, small enough that a change of a few bytes costs little more than a round
// trip.

struct BuildFile {
  std::string path;    // relative, "/" separators
  std::string source;  // full path in the build folder
  uint64_t size = 0;
  uint32_t crc = 0;
  bool withMap = false;  // a block map is written beside the copy
  bool withPacked = false;  // a packed form is tried beside the copy, and kept when it saves enough
  Sha256Digest sha256{};  // only when signing
};

bool ReadWholeFile(const std::string& path, std::string& text) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  text.clear();
  for (;;) {
    size_t got = fread(buffer, 1, sizeof buffer, file);
    if (got == 0) break;
    text.append(buffer, got);
  }
  bool ok = ferror(file) == 0;
  fclose(file);
  return ok;
}

// Every regular file under the build folder (symbolic links to files count as the file);
// anything else that is not a folder is a problem, as is a folder that cannot be read.
void ListBuild(const fs::path& root, std::vector<BuildFile>& files, std::vector<std::string>& problems) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& full = it->path();
    std::string relative = full.lexically_relative(root).generic_string();
    std::error_code statError;
    fs::file_status status = fs::status(full, statError);
    bool isLink = it->is_symlink(statError);
    if (fs::is_directory(status) && !isLink) continue;
    if (!fs::is_regular_file(status)) {
      problems.push_back(relative + ": is neither a file nor a folder (a link to a folder, a broken link or a device); only files are published");
      continue;
    }
    files.push_back({relative, full.string(), 0, 0});
  }
  if (ec) problems.push_back("cannot read the build folder " + root.string() + ": " + ec.message());
  std::sort(files.begin(), files.end(), [](const BuildFile& a, const BuildFile& b) { return a.path < b.path; });
}

void CheckPaths(const std::vector<BuildFile>& files, std::vector<std::string>& problems) {
  std::vector<std::string> paths;
  for (const BuildFile& file : files) {
    std::string problem = PublishPathProblem(file.path);
    if (!problem.empty()) problems.push_back(file.path + ": " + problem);
    paths.push_back(file.path);
  }
  for (const std::string& clash : CaseClashes(paths)) problems.push_back(clash);
}

bool LooksLikeRelease(const fs::path& folder) {
  std::string manifest;
  if (!ReadWholeFile((folder / "manifest").string(), manifest)) return false;
  return manifest.compare(0, 9, "KMCONTENT") == 0;
}

// The output folder may be absent, empty, or an earlier release; anything else is refused
// so that a mistyped --out never deletes somebody's folder.
void CheckOutput(const fs::path& build, const fs::path& out, std::vector<std::string>& problems) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(out, ec);
  if (fs::exists(status)) {
    bool usable = fs::is_directory(status) && (fs::is_empty(out, ec) || LooksLikeRelease(out));
    if (!usable) problems.push_back(out.string() + " exists and is not a release (no manifest beginning with KMCONTENT); refusing to replace it");
  }
  fs::path buildReal = fs::weakly_canonical(build, ec);
  fs::path outReal = fs::weakly_canonical(out, ec);
  auto inside = [](const fs::path& inner, const fs::path& outer) {
    auto mismatch = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return mismatch.first == outer.end();
  };
  if (inside(outReal, buildReal) || inside(buildReal, outReal)) {
    problems.push_back("the build folder and the release folder must not contain each other");
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t wrote = write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

bool WriteBlockMap(const BlockMap& map, const std::string& target, std::string& error) {
  std::string bytes = SerializeBlockMap(map);
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && WriteAll(fd, bytes.data(), bytes.size());
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) error = target + ": cannot write: " + strerror(errno);
  return ok;
}

// Copies one file and takes its CRC-32 (and for a signed release its SHA-256) from the same
// bytes, so the manifest describes exactly what was copied (an empty target only hashes). A
// file whose size changes while it is read is an error.
bool CopyAndHash(BuildFile& file, const std::string& target, bool withSha256, std::vector<char>& buffer,
                 std::atomic<uint64_t>& bytesDone, std::string& error) {
  int in = open(file.source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    error = file.path + ": cannot read: " + strerror(errno);
    return false;
  }
  struct stat info;
  fstat(in, &info);
  posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  int out = target.empty() ? -1 : open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0 && !target.empty()) {
    error = target + ": cannot write: " + strerror(errno);
    close(in);
    return false;
  }
  uint32_t crc = kCrc32Start;
  sha_ctx sha;
  sha_init(&sha);
  uint64_t size = 0;
  bool ok = true;
  std::unique_ptr<BlockMapBuilder> map;
  if (file.withMap && out >= 0) map = std::make_unique<BlockMapBuilder>(kPublishBlockSize);
  std::unique_ptr<PackedWriter> packed;
  if (file.withPacked && out >= 0) {
    packed = std::make_unique<PackedWriter>(target + kPackedSuffix, static_cast<uint64_t>(info.st_size));
  }
  for (;;) {
    ssize_t got = read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = file.path + ": read failed: " + strerror(errno);
      ok = false;
    }
    if (got <= 0) break;
    crc = Crc32Update(crc, buffer.data(), static_cast<size_t>(got));
    if (map) map->Add(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(got));
    if (packed && !packed->Add(buffer.data(), static_cast<size_t>(got), error)) {
      ok = false;
      break;
    }
    if (withSha256) sha_add(&sha, buffer.data(), static_cast<size_t>(got));
    size += static_cast<uint64_t>(got);
    bytesDone += static_cast<uint64_t>(got);
    if (out >= 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(got))) {
      error = target + ": write failed: " + strerror(errno);
      ok = false;
      break;
    }
  }
  if (ok && size != static_cast<uint64_t>(info.st_size)) {
    error = file.path + ": changed while it was being published";
    ok = false;
  }
  close(in);
  if (out >= 0 && close(out) != 0 && ok) {
    error = target + ": write failed: " + strerror(errno);
    ok = false;
  }
  file.crc = ~crc;
  if (withSha256) sha_end(&sha, file.sha256.data());
  file.size = size;
  bool kept = false;
  if (ok && packed && !packed->Finish(kept, error)) ok = false;
  file.withPacked = kept;
  return ok && (!map || WriteBlockMap(map->Finish(file.crc), target + kBlockMapSuffix, error));
}

struct CopyRun {
  std::vector<BuildFile>* files = nullptr;
  fs::path filesDir;
  fs::path linkFromDir;  // the files of the release before, to share unchanged files with
  std::atomic<size_t> linked{0};
  std::atomic<uint64_t> linkedBytes{0};
  bool withSha256 = false;
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  std::atomic<uint64_t> bytesDone{0};
  std::atomic<bool> failed{false};
  std::mutex lock;  // guards error and workersLeft
  std::condition_variable workerEnded;
  unsigned workersLeft = 0;
  std::string error;
};

// Whether path holds a packed form's header for a file of size bytes (and not a build file
// that happened to have that name in the release before).
bool IsPackedFormOf(const std::string& path, uint64_t size) {
  std::string head;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  head.resize(PackedHeaderSize(size));
  bool read = fread(&head[0], 1, head.size(), file) == head.size();
  fclose(file);
  PackedIndex index;
  std::string why;
  return read && ParsePackedHeader(reinterpret_cast<const uint8_t*>(head.data()), head.size(), size, index, why);
}

// A file whose bytes equal the release before's copy becomes a second name of that copy
// (with its block map, and its packed form when that release has one), after hashing it as
// a copy would.
bool LinkUnchanged(BuildFile& file, CopyRun& run, const std::string& target, std::vector<char>& buffer) {
  if (run.linkFromDir.empty()) return false;
  std::string earlier = (run.linkFromDir / file.path).string();
  SameFileHashes hashes;
  if (!SameBytesHashed(file.source, earlier, run.withSha256, buffer, hashes)) return false;
  bool mapped = file.withMap;
  if (mapped && !LinkFile(earlier + kBlockMapSuffix, target + kBlockMapSuffix)) return false;
  bool packed = file.withPacked && IsPackedFormOf(earlier + kPackedSuffix, hashes.size) &&
                LinkFile(earlier + kPackedSuffix, target + kPackedSuffix);
  if (!LinkFile(earlier, target)) {
    if (mapped) unlink((target + kBlockMapSuffix).c_str());
    if (packed) unlink((target + kPackedSuffix).c_str());
    return false;
  }
  file.withPacked = packed;
  file.crc = hashes.crc;
  file.size = hashes.size;
  if (run.withSha256) file.sha256 = hashes.sha256;
  run.bytesDone += hashes.size;
  run.linked++;
  run.linkedBytes += hashes.size;
  return true;
}

void CopyFiles(CopyRun& run) {
  std::vector<char> buffer(kCopyBuffer);
  for (;;) {
    size_t index = run.next++;
    if (index >= run.files->size() || run.failed) return;
    BuildFile& file = (*run.files)[index];
    std::string error;
    std::string target = run.filesDir.empty() ? std::string() : (run.filesDir / file.path).string();
    if (!target.empty() && LinkUnchanged(file, run, target, buffer)) {
      run.done++;
      continue;
    }
    if (!CopyAndHash(file, target, run.withSha256, buffer, run.bytesDone, error)) {
      std::lock_guard<std::mutex> hold(run.lock);
      if (!run.failed.exchange(true)) run.error = error;
      return;
    }
    run.done++;
  }
}

void CopyWorker(CopyRun& run) {
  CopyFiles(run);
  std::lock_guard<std::mutex> hold(run.lock);
  run.workersLeft--;
  run.workerEnded.notify_all();
}

// Folders first, on one thread, so the workers only create files.
bool MakeFolders(const std::vector<BuildFile>& files, const fs::path& filesDir, std::string& error) {
  std::error_code ec;
  fs::create_directories(filesDir, ec);
  for (const BuildFile& file : files) {
    fs::path parent = (filesDir / file.path).parent_path();
    if (!ec) fs::create_directories(parent, ec);
  }
  if (ec) error = "cannot create folders in " + filesDir.string() + ": " + ec.message();
  return !ec;
}

bool CopyAll(std::vector<BuildFile>& files, const fs::path& filesDir, const fs::path& linkFromDir, unsigned jobs,
             bool withSha256, const PublishProgressFn& progress, uint64_t bytesTotal, PublishResult& result,
             std::string& error) {
  CopyRun run;
  run.files = &files;
  run.filesDir = filesDir;
  run.linkFromDir = linkFromDir;
  run.withSha256 = withSha256;
  if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<size_t>(jobs, std::max<size_t>(files.size(), 1)));
  run.workersLeft = jobs;
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < jobs; i++) workers.emplace_back(CopyWorker, std::ref(run));
  auto report = [&] {
    if (progress) progress({run.done, files.size(), run.bytesDone, bytesTotal});
  };
  for (bool ended = false; !ended;) {
    report();
    std::unique_lock<std::mutex> hold(run.lock);
    ended = run.workerEnded.wait_for(hold, std::chrono::milliseconds(200), [&] { return run.workersLeft == 0; });
  }
  for (std::thread& worker : workers) worker.join();
  report();
  error = run.error;
  result.linked = run.linked;
  result.linkedBytes = run.linkedBytes;
  return !run.failed;
}

bool WriteManifest(const fs::path& staging, const std::string& text, std::string& error) {
  std::string path = (staging / "manifest").string();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && WriteAll(fd, text.data(), text.size());
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) error = path + ": cannot write: " + strerror(errno);
  return ok;
}

// Everything staged reaches the disk before the swap makes it the release; one syncfs is
// far cheaper than an fsync per file.
bool FlushToDisk(const fs::path& staging, std::string& error) {
  int fd = open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 && syncfs(fd) == 0;
  if (fd >= 0) close(fd);
  if (!ok) error = "cannot flush " + staging.string() + " to disk: " + strerror(errno);
  return ok;
}

bool ReadNotes(PublishOptions& options, std::vector<std::string>& problems) {
  if (options.notesFile.empty()) return true;
  std::string text;
  if (!ReadWholeFile(options.notesFile, text)) {
    problems.push_back("cannot read the notes file " + options.notesFile + ": " + strerror(errno));
    return false;
  }
  options.info.notes = SplitNotesText(text);
  return true;
}

std::vector<BuildFile> CheckEverything(PublishOptions& options, SigningKey& key, std::vector<std::string>& problems) {
  std::vector<BuildFile> files;
  ReadNotes(options, problems);
  std::string keyError;
  if (!options.signKeyFile.empty() && !key.Load(options.signKeyFile, keyError)) problems.push_back(keyError);
  for (const std::string& problem : ReleaseInfoProblems(options.info)) problems.push_back(problem);
  std::error_code ec;
  if (!fs::is_directory(options.buildDir, ec)) {
    problems.push_back("the build folder " + options.buildDir + " is not a folder");
    return files;
  }
  ListBuild(options.buildDir, files, problems);
  CheckPaths(files, problems);
  if (!options.dryRun) CheckOutput(options.buildDir, options.outDir, problems);
  return files;
}

// The release folder without a trailing separator, and its staging folder beside it.
fs::path ReleaseFolder(const std::string& outDir) {
  fs::path out = fs::absolute(outDir).lexically_normal();
  return out.has_filename() ? out : out.parent_path();
}


// Files of at least mapsFrom bytes get a block map, unless the build itself has a file of
// the map's name.
void ChooseBlockMaps(std::vector<BuildFile>& files, uint64_t mapsFrom) {
  if (mapsFrom == 0) return;
  std::set<std::string> names;
  for (const BuildFile& file : files) names.insert(Lower(file.path));
  std::error_code ec;
  for (BuildFile& file : files) {
    uint64_t size = fs::file_size(file.source, ec);
    file.withMap = !ec && size >= mapsFrom && names.count(Lower(file.path + kBlockMapSuffix)) == 0;
  }
}

// Files of at least kPackedFrom bytes get a packed form tried, unless the build itself has a
// file of its name.
void ChoosePackedForms(std::vector<BuildFile>& files, bool packed) {
  if (!packed) return;
  std::set<std::string> names;
  for (const BuildFile& file : files) names.insert(Lower(file.path));
  std::error_code ec;
  for (BuildFile& file : files) {
    uint64_t size = fs::file_size(file.source, ec);
    file.withPacked = !ec && size >= kPackedFrom && names.count(Lower(file.path + kPackedSuffix)) == 0;
  }
}

// The serial, SHA-256 and signature lines after the file lines, when a key is given.
bool SignWhenAsked(std::string& manifest, uint64_t serial, const std::vector<BuildFile>& files,
                   const SigningKey* key, std::string& error) {
  if (key == nullptr) return true;
  std::vector<std::pair<std::string, Sha256Digest>> hashes;
  for (const BuildFile& file : files) hashes.emplace_back(file.path, file.sha256);
  return SignManifest(manifest, serial, hashes, *key, error);
}

// Copies (or, for a dry run, only reads) every file and fills in sizes, CRCs and the
// manifest, signed when key is given; filesDir empty means a dry run.
bool CopyAndDescribe(std::vector<BuildFile>& files, const PublishOptions& options, const SigningKey* key,
                     const fs::path& filesDir, const fs::path& linkFromDir, const PublishProgressFn& progress,
                     PublishResult& result, std::string& error) {
  std::error_code ec;
  uint64_t total = 0;
  for (const BuildFile& file : files) total += fs::file_size(file.source, ec);
  ChooseBlockMaps(files, options.blockMapsFrom);
  ChoosePackedForms(files, options.packed && !filesDir.empty());
  auto start = std::chrono::steady_clock::now();
  bool ok = (filesDir.empty() || MakeFolders(files, filesDir, error)) &&
            CopyAll(files, filesDir, linkFromDir, options.jobs, key != nullptr, progress, total, result, error);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::vector<RemoteFile> listed;
  for (const BuildFile& file : files) {
    RemoteFile entry{file.path, file.size, file.crc, file.withMap};
    entry.hasPacked = file.withPacked;
    listed.push_back(entry);
    result.bytes += file.size;
  }
  result.files = files.size();
  result.manifest = FormatManifest(options.info, listed);
  return ok && SignWhenAsked(result.manifest, result.serial, files, key, error);
}

// A first release, or one in the older single-release layout: the whole layered tree is
// built beside it and swapped in at once.
bool BuildNewTree(std::vector<BuildFile>& files, const PublishOptions& options, const SigningKey* key,
                  const PublishProgressFn& progress, PublishResult& result, std::string& error) {
  fs::path out = ReleaseFolder(options.outDir);
  fs::path staging = StagingFolder(out.parent_path(), out.filename().string());
  fs::path inner = staging / "releases" / result.releaseName;
  std::error_code ec;
  fs::remove_all(staging, ec);
  bool ok = CopyAndDescribe(files, options, key, inner / "files", fs::path(), progress, result, error) &&
            WriteManifest(inner, result.manifest, error) &&
            release_layout::CreateLinks(staging, result.releaseName, error) &&
            release_layout::StoreSerial(staging, result.serial, error) && FlushToDisk(staging, error) &&
            SwapInRelease(staging.string(), out.string(), error);
  if (!ok) fs::remove_all(staging, ec);
  return ok;
}

// A pre-loaded release stays beside the current one, which announces it (signed again when
// it is signed); `kmcontent rollout --live` makes it current later.
bool AnnouncePreload(const fs::path& out, const PublishOptions& options, PublishResult& result, std::string& error) {
  uint64_t announced = 0;
  fs::path root = TreeRootOf(out, options.channel);
  std::error_code ec;
  if (!release_layout::StoreSerial(out, result.serial, error) ||
      !ReplaceLineOfCurrent(root, out, kPreloadLinePrefix, kPreloadLinePrefix + result.releaseName + "\n",
                            options.signKeyFile, announced, error)) {
    fs::remove_all(out / "releases" / result.releaseName, ec);
    return false;
  }
  return true;
}

// A layered release: the new release is written beside the kept ones, then made current;
// releases beyond the grace period go.
bool AddRelease(std::vector<BuildFile>& files, const PublishOptions& options, const SigningKey* key,
                const PublishProgressFn& progress, PublishResult& result, std::string& error) {
  fs::path out = ReleaseFolder(options.outDir);
  fs::path target = out / "releases" / result.releaseName;
  fs::path staging = StagingFolder(out / "releases", result.releaseName);
  std::error_code ec;
  fs::remove_all(staging, ec);
  std::string before = release_layout::Current(out);
  fs::path linkFrom = before.empty() ? fs::path() : out / "releases" / before / "files";
  bool ok = CopyAndDescribe(files, options, key, staging / "files", linkFrom, progress, result, error) &&
            WriteManifest(staging, result.manifest, error) && FlushToDisk(staging, error);
  if (ok && rename(staging.c_str(), target.c_str()) != 0) {
    error = "cannot move " + staging.string() + " into place: " + strerror(errno);
    ok = false;
  }
  if (!ok) {
    fs::remove_all(staging, ec);
    return false;
  }
  if (options.preload) return result.preloaded = AnnouncePreload(out, options, result, error);
  if (!release_layout::StoreSerial(out, result.serial, error) ||
      !release_layout::AppendHistory(out, result.releaseName, error) ||
      !release_layout::SwitchCurrent(out, result.releaseName, error)) {
    fs::remove_all(target, ec);
    return false;
  }
  std::string pruneError;
  result.removed = release_layout::Prune(out, options.keep, pruneError);
  if (!pruneError.empty()) result.problems.push_back("warning: " + pruneError);
  return true;
}

// Staging folders an interrupted run left beside the release and among its kept releases.
void RemoveInterruptedRuns(const fs::path& out, PublishResult& result) {
  std::string error;
  for (const auto& place : {std::make_pair(out.parent_path(), out.filename().string()),
                            std::make_pair(out / "releases", std::string())}) {
    for (const std::string& path : RemoveLeftStaging(place.first, place.second, error)) {
      result.staleStaging.push_back(path);
    }
  }
  if (!error.empty()) result.problems.push_back("warning: " + error);
}

bool BuildAndSwap(std::vector<BuildFile>& files, const PublishOptions& options, const SigningKey* key,
                  const PublishProgressFn& progress, PublishResult& result) {
  std::string error;
  RemoveInterruptedRuns(ReleaseFolder(options.outDir), result);
  bool layered = release_layout::IsLayered(ReleaseFolder(options.outDir));
  bool ok = layered ? AddRelease(files, options, key, progress, result, error)
                    : BuildNewTree(files, options, key, progress, result, error);
  if (!ok) result.problems.push_back(error);
  return ok;
}

// Names the new release and, unless the operator named a mirror, points the manifest's
// mirror line at that release's own files, which never change while it is kept. A staged
// rollout names the release before it, where the others stay.
bool NameRelease(PublishOptions& options, PublishResult& result) {
  fs::path out = options.outDir.empty() ? fs::path() : ReleaseFolder(options.outDir);
  bool layered = !out.empty() && release_layout::IsLayered(out);
  result.releaseName = layered ? release_layout::NewName(out, options.info.version) : "v" + options.info.version;
  result.serial = (out.empty() ? 0 : TreeLastSerial(TreeRootOf(out, options.channel))) + 1;
  if (options.info.mirror.empty()) {
    options.info.mirror = ChannelPrefix(options.channel) + release_layout::FilesBase(result.releaseName);
  }
  if (options.preload && (!layered || options.percent >= 0)) {
    result.problems.push_back(layered ? "--preload and --percent go in two steps: rollout --live, then --percent"
                                      : "--preload needs a release published before this one (that stays live)");
    return false;
  }
  if (options.percent < 0 || options.percent >= 100) return true;
  std::string before = layered ? release_layout::Current(out) : std::string();
  if (before.empty()) {
    result.problems.push_back("--percent needs a release published before this one (where the others stay)");
    return false;
  }
  Rollout rollout{true, static_cast<unsigned>(options.percent), result.releaseName, before};
  options.info.rolloutLine = RolloutLine(rollout);
  return true;
}

// --channel: the channel's own tree inside the live one, which must exist already.
bool PlaceInChannel(PublishOptions& options, std::vector<std::string>& problems) {
  if (options.channel.empty()) return true;
  if (!IsChannelName(options.channel)) {
    problems.push_back("--channel must be 1 to 32 of a-z, 0-9, - and _ (and not live)");
    return false;
  }
  options.info.channel = options.channel;
  if (options.dryRun) return true;
  fs::path root = ReleaseFolder(options.outDir);
  if (!release_layout::IsLayered(root)) {
    problems.push_back(root.string() + " is not a release tree yet: publish the live release there first");
    return false;
  }
  std::error_code ec;
  fs::create_directories(root / kChannelsFolder, ec);
  options.outDir = (root / kChannelsFolder / options.channel).string();
  return true;
}

}  // namespace

PublishResult Publish(const PublishOptions& given, const PublishProgressFn& progress) {
  PublishOptions options = given;
  PublishResult result;
  SigningKey loaded;
  if (!PlaceInChannel(options, result.problems)) return result;
  std::vector<BuildFile> files = CheckEverything(options, loaded, result.problems);
  if (!result.problems.empty()) return result;
  if (!NameRelease(options, result)) return result;
  const SigningKey* key = options.signKeyFile.empty() ? nullptr : &loaded;
  if (!key && Lower(given.info.mirror.substr(0, 7)) == "http://") {
    result.problems.push_back("warning: the mirror " + given.info.mirror + " is plain HTTP and the release is not "
                              "signed (--sign): launchers whose content server is https will not use it");
  }
  if (options.dryRun) {
    std::string error;
    result.ok = CopyAndDescribe(files, options, key, fs::path(), fs::path(), progress, result, error);
    if (!result.ok) result.problems.push_back(error);
    return result;
  }
  result.ok = BuildAndSwap(files, options, key, progress, result);
  return result;
}
