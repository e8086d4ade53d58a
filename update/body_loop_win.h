// The one loop every body byte of a file download passes through: it reads the answer in
// pieces, stops when the transfer is asked to stop, hands each piece to the file it belongs
// in (the part file, whose Append grows the CRC-32 and SHA-256, or a side file), and reports
// progress at most ten times a second. The speed cap is the transports' (each read asks it).
#pragma once
#include "core/base.h"
#include "update/http_win.h"
#include <functional>

struct BodyTarget {
  std::function<bool(const unsigned char* data, size_t size)> write;  // false: a write failed
  std::function<bool()> stopping;                                     // the stop request
  std::function<uint64_t()> end;  // where the bytes wanted end (absolute; it may move closer)
  bool clip = false;              // never read past end (else a longer body shows as longer)
  std::function<void(uint64_t received)> report;    // progress, at most every 100 ms; may be empty
  std::function<void(uint64_t received)> advanced;  // after every piece; may be empty
};

enum class BodyEnd { Reached, Ended, Failed, Stopped };

// Reads body into target from the file's byte from on: Reached at end, Ended when the body
// ended first, Failed on a failed read or write. overlap writes on a second thread while the
// next pieces arrive, in larger pieces. received: where the bytes read got to.
BodyEnd ReceiveBody(AnswerBody& body, uint64_t from, const BodyTarget& target, bool overlap, uint64_t& received);
