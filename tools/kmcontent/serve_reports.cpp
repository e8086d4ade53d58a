// POST /report; see serve_reports.h.
#include "tools/kmcontent/serve_reports.h"
#include <chrono>
#include <cmath>
#include <sys/stat.h>

namespace {
// A release the tree (or the channel's tree) keeps: its manifest is on disk.
bool KnownRelease(const std::string& releaseDir, const OutcomeReport& report) {
  std::string tree = report.channel == "live" ? releaseDir : releaseDir + "/channels/" + report.channel;
  struct stat info;
  return stat((tree + "/releases/" + report.release + "/manifest").c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

MHD_Result Counted(ReportDesk* desk, MHD_Connection* connection, ServeRequest* request) {
  double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  double retryAfter = 0;
  if (!desk->buckets.Take(request->client, now, retryAfter)) {
    desk->book.Refuse("rate_limited");
    return QueueText(connection, request, MHD_HTTP_TOO_MANY_REQUESTS, "Too many reports\n", "refused: report rate");
  }
  OutcomeReport report;
  if (request->bodyTooLarge || !ParseOutcomeReport(request->body, report)) {
    desk->book.Refuse("invalid");
    return QueueText(connection, request, MHD_HTTP_BAD_REQUEST, "Bad report\n", "refused: report not understood");
  }
  if (!KnownRelease(desk->releaseDir, report)) {
    desk->book.Refuse("unknown_release");
    return QueueText(connection, request, MHD_HTTP_OK, "ok\n", "report of an unknown release");
  }
  desk->book.Count(report);
  desk->halt->Count(report);
  request->note = std::string("report ") + report.release + " " + report.channel + " " + OutcomeName(report.outcome);
  return QueueText(connection, request, MHD_HTTP_OK, "ok\n");
}
}  // namespace

MHD_Result AnswerReport(ReportDesk* desk, MHD_Connection* connection, ServeRequest* request, const char* uploadData,
                        size_t* uploadSize) {
  if (!request->bodyCalls++) return MHD_YES;  // the first call has the head only
  if (*uploadSize == 0) return Counted(desk, connection, request);
  size_t room = kMaxOutcomeReport - std::min(kMaxOutcomeReport, request->body.size());
  if (*uploadSize > room) request->bodyTooLarge = true;
  if (!request->bodyTooLarge) request->body.append(uploadData, *uploadSize);
  *uploadSize = 0;
  return MHD_YES;
}
