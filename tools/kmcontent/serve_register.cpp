// POST /register; see serve_register.h. The answer is always one "OK ..." or "ERR ..." line:
// the launcher shows the text and does not look at the status.
#include "tools/kmcontent/serve_register.h"
#include "tools/kmcontent/accounts.h"
#include "tools/kmcontent/token_bucket.h"
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr unsigned kWorkers = 16;        // most of them wait out the minimum answer time
constexpr size_t kMostWaiting = 256;     // beyond this, "try again" at once
const char kBusy[] = "ERR The server could not create the account. Try again in a moment.";

using Clock = std::chrono::steady_clock;

struct Job {
  MHD_Connection* connection;
  ServeRequest* request;
};

}  // namespace

struct RegisterService {
  AccountStore* store = nullptr;
  ServeMetrics* metrics = nullptr;
  unsigned maxBody = 0;
  std::chrono::milliseconds answerTime{0};
  TokenBuckets buckets;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<Job> jobs;
  bool stopping = false;
  std::vector<std::thread> workers;

  explicit RegisterService(unsigned perMinute) : buckets(perMinute, perMinute) {}
};

namespace {

void Work(RegisterService* service) {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> hold(service->lock);
      service->changed.wait(hold, [service] { return service->stopping || !service->jobs.empty(); });
      if (service->jobs.empty()) return;
      job = service->jobs.front();
      service->jobs.pop_front();
    }
    ServeRequest* request = job.request;
    request->answer = RegisterAccount(service->store, request->body);
    Registration outcome = RegistrationOutcome(request->answer);
    service->metrics->Register(outcome);
    if (outcome == Registration::Failed) service->metrics->storeErrors++;
    std::this_thread::sleep_until(request->start + service->answerTime);
    if (request->answer.compare(0, 2, "OK") == 0) request->note = "account created";
    request->registerState = 2;
    MHD_resume_connection(job.connection);
  }
}

bool Enqueue(RegisterService* service, MHD_Connection* connection, ServeRequest* request) {
  std::lock_guard<std::mutex> hold(service->lock);
  if (service->stopping || service->jobs.size() >= kMostWaiting) return false;
  request->registerState = 1;
  MHD_suspend_connection(connection);
  service->jobs.push_back({connection, request});
  service->changed.notify_one();
  return true;
}

MHD_Result SendAnswer(MHD_Connection* connection, ServeRequest* request, int status, const std::string& line) {
  std::string text = line + "\r\n";
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (response != nullptr) {
    MHD_add_response_header(response, "Content-Type", "text/plain; charset=utf-8");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    if (!request->retryAfter.empty()) MHD_add_response_header(response, "Retry-After", request->retryAfter.c_str());
  }
  return QueueAnswer(connection, request, status, response, text.size());
}

// The whole body has arrived: refuse, or hand it to a worker.
MHD_Result BodyComplete(RegisterService* service, MHD_Connection* connection, ServeRequest* request) {
  if (request->bodyTooLarge) {
    service->metrics->Refuse(Refusal::BodyTooLarge);
    return QueueText(connection, request, MHD_HTTP_CONTENT_TOO_LARGE, "Request too large\n", "refused: body too large");
  }
  double retryAfter = 0;
  double now = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  if (!service->buckets.Take(request->client, now, retryAfter)) {
    request->note = "refused: too many accounts from this address";
    request->retryAfter = std::to_string(static_cast<long>(std::ceil(retryAfter)));
    service->metrics->Register(Registration::RateLimited);
    return SendAnswer(connection, request, MHD_HTTP_TOO_MANY_REQUESTS,
                      "ERR Too many new accounts from your address. Try again in a few minutes.");
  }
  if (Enqueue(service, connection, request)) return MHD_YES;
  service->metrics->Register(Registration::Busy);
  return SendAnswer(connection, request, MHD_HTTP_SERVICE_UNAVAILABLE, kBusy);
}

}  // namespace

RegisterService* StartRegisterService(AccountStore* store, const ServeOptions& options, ServeMetrics* metrics) {
  auto* service = new RegisterService(options.registerPerMinute);
  service->store = store;
  service->metrics = metrics;
  service->maxBody = options.maxBodyBytes;
  service->answerTime = std::chrono::milliseconds(options.registerAnswerMs);
  for (unsigned i = 0; i < kWorkers; i++) service->workers.emplace_back(Work, service);
  return service;
}

void StopRegisterService(RegisterService* service) {
  if (service == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(service->lock);
    service->stopping = true;
    service->changed.notify_all();
  }
  for (std::thread& worker : service->workers) worker.join();
  delete service;
}

MHD_Result AnswerRegister(RegisterService* service, MHD_Connection* connection, ServeRequest* request,
                          const char* uploadData, size_t* uploadSize) {
  if (request->registerState == 2) return SendAnswer(connection, request, MHD_HTTP_OK, request->answer);
  if (request->registerState == 1) return MHD_YES;  // resumed before the answer: wait on
  if (!request->bodyCalls++) return MHD_YES;       // the first call has the head only
  if (*uploadSize == 0) return BodyComplete(service, connection, request);
  size_t room = service->maxBody - std::min<size_t>(service->maxBody, request->body.size());
  if (*uploadSize > room) request->bodyTooLarge = true;
  if (!request->bodyTooLarge) request->body.append(uploadData, *uploadSize);
  *uploadSize = 0;
  return MHD_YES;
}
