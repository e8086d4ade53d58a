// Where the files of an update pass come from and where they go: what the fetch queue and
// its transports are told, instead of reading the launcher's process-wide values, so that a
// test can point them at servers and a folder of its own.
#pragma once
#include "core/base.h"
#include "update/manifest.h"

// Where a file is fetched from: the manifest's mirror, or the content server itself.
enum class Source { Mirror, ContentServer };

struct FetchContext {
  std::string filesBase;   // absolute URL a file's encoded path is appended to on the content server
  std::string mirror;      // the mirror's base URL without the trailing "/"; empty for none
  std::string gameFolder;  // with a trailing backslash
  bool pipelines = false;  // plain http without a proxy: small files' requests may be pipelined

  std::string FileUrl(const RemoteFile& file, Source source) const;
  // Where a file asked for at source may also be fetched, sharing it over several
  // connections: the content server beside the mirror; empty otherwise.
  std::string SecondUrl(const RemoteFile& file, Source source) const;
  std::string LocalPath(const RemoteFile& file) const;
  std::string PartPath(const RemoteFile& file) const;  // beside LocalPath, ".part" added
};
