// Answer helpers; see serve_request.h.
#include "tools/kmcontent/serve_request.h"

namespace {

// The status line and the fields the library adds itself (Date, Content-Length,
// Connection), for the estimate of what a cut-off answer delivered.
constexpr uint64_t kLibraryHeadBytes = 120;

MHD_Result CountHeader(void* cls, enum MHD_ValueKind, const char* key, const char* value) {
  *static_cast<uint64_t*>(cls) += strlen(key) + strlen(value) + 4;
  return MHD_YES;
}

}  // namespace

MHD_Result QueueAnswer(MHD_Connection* connection, ServeRequest* request, int status, MHD_Response* response,
                       uint64_t bodyLength) {
  if (response == nullptr) {
    request->note = "error: out of memory";
    return MHD_NO;
  }
  if (request->closeAfter) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  uint64_t headBytes = kLibraryHeadBytes;
  MHD_get_response_headers(response, CountHeader, &headBytes);
  request->status = status;
  request->bodyLength = request->method == "HEAD" ? 0 : bodyLength;
  request->headBytes = headBytes;
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result QueueText(MHD_Connection* connection, ServeRequest* request, int status, const std::string& text,
                     const char* note) {
  if (note != nullptr) request->note = note;
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (response != nullptr) MHD_add_response_header(response, "Content-Type", "text/plain; charset=utf-8");
  return QueueAnswer(connection, request, status, response, text.size());
}

std::string HeaderValue(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value == nullptr ? std::string() : value;
}
