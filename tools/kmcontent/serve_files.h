// GET /manifest and GET /files/<percent-encoded path> from a release tree: files stream from
// disk in bounded pieces (memory does not grow with the file), single byte ranges are
// answered 206 with Content-Range, a range past the end 416, and anything the release does
// not hold 404. The release folder is looked up by name on every request, so a release
// swapped in by publish is served from the next request on.
#pragma once
#include "core/base.h"
#include <httplib.h>

void AddFileRoutes(httplib::Server& server, const std::string& releaseDir);
