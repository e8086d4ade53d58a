// GET and HEAD of the release's files: /manifest, /files/<percent-encoded path> (the current
// release) and /releases/<release>/files/<path> (one release, never changing). Byte ranges
// are decided here (range.h) for every answer, with If-Range, ETag and Last-Modified; the
// body goes out from the open file without being copied (sendfile), so neither memory nor
// time per byte grows with the file. Anything the release does not hold is 404; a file that
// exists but cannot be read is 500 (503 when the server is out of file handles), with the
// error in the log.
#pragma once
#include "tools/kmcontent/serve_request.h"

MHD_Result AnswerManifest(MHD_Connection* connection, ServeRequest* request, const std::string& releaseDir);

// For a target under /files/ or /releases/; 404 for anything else.
// target is the request target within the release tree (a channel's tree: without its
// "/channels/NAME" prefix).
MHD_Result AnswerReleaseFile(MHD_Connection* connection, ServeRequest* request, const std::string& releaseDir,
                             const std::string& target);
