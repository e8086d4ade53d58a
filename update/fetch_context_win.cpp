// Paths and URLs of a pass's files; see fetch_context.h.
#include "update/fetch_context.h"
#include "core/percent_encode.h"
#include "core/text.h"
#include "update/part_file_win.h"

std::string FetchContext::FileUrl(const RemoteFile& file, Source source) const {
  return (source == Source::Mirror ? mirror + "/" : filesBase) + UrlEncodePath(file.path);
}

std::string FetchContext::SecondUrl(const RemoteFile& file, Source source) const {
  return source == Source::Mirror ? FileUrl(file, Source::ContentServer) : std::string();
}

std::string FetchContext::LocalPath(const RemoteFile& file) const { return JoinGamePath(gameFolder, file.path); }

std::string FetchContext::PartPath(const RemoteFile& file) const { return PartPathOf(LocalPath(file)); }
