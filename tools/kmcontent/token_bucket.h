// A token bucket per client address: each client may spend `burst` tokens at once and gets
// `perMinute` back every minute. Used to slow account creation from one address without
// slowing anyone else. Thread-safe.
#pragma once
#include "core/base.h"
#include <map>
#include <mutex>

class TokenBuckets {
 public:
  TokenBuckets(double perMinute, double burst) : perSecond_(perMinute / 60.0), burst_(burst) {}

  // Takes one token for client at time now (seconds, any steady clock). False when the
  // bucket is empty; then retryAfter says in how many seconds the next token comes.
  bool Take(const std::string& client, double now, double& retryAfter);

 private:
  friend struct TokenBucketsProbe;  // the tests count the buckets held

  struct Bucket {
    double tokens = 0;
    double updated = 0;
  };
  void DropFullBuckets(double now);

  std::mutex lock_;
  std::map<std::string, Bucket> buckets_;
  double perSecond_;
  double burst_;
};
