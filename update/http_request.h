#pragma once
// One HTTP request on a worker thread while the calling (UI) thread keeps dispatching its events.
//
// Caller and worker share one memory file of the runtime. The caller writes the request record
// into it and then hands the file to the worker: from the start of the thread the file is the
// worker's. The worker replaces the record by the reply record and, at its very end, hands the
// file back under a lock, but only while the caller still waits. A caller that gives up (time-out
// or failed wait) marks itself gone under the same lock and tells the worker to stop; the worker
// then ends by itself and closes the file, which the caller never touches again. So nothing is
// written into the file after the caller has read or closed it, and a late reply is discarded.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/byteset.h"

namespace rt::net {
class AbortSignal;
}

namespace update {

// The markers that open the request and the reply record.
extern const char* const kRequestTag;
extern const char* const kReplyTag;  // kRequestTag followed by "_OK"

// A response body longer than this is not accepted: the request then gives the empty result.
constexpr std::size_t kMaxReplyBodyBytes = 1024 * 1024;

// Performs one request on a worker thread and returns the body: empty when the wait ended by the
// time-out (seconds; 0 or absent: 90, and every wake of the calling thread restarts it), when the
// thread could not be started or the wait failed, when the worker wrote no reply, or when the body
// is empty or too long. Verb: empty for GET. Blank proxy, user name or password: none. rawHeaders,
// when given, receives the response's raw header block (the empty text when the worker was given
// up or no thread ran).
rt::ByteSet HttpRequestWithTimeout(std::string_view address, std::string_view verb = {},
                                   std::string_view proxy = {}, std::string_view userName = {},
                                   std::string_view password = {}, std::string_view extraHeaders = {},
                                   std::string_view postData = {}, int timeoutSeconds = 0,
                                   std::string* rawHeaders = nullptr);

// The worker thread's start routine: runs HttpWorkerMain and returns its result as the exit code.
int HttpWorkerThreadProc(int file, std::shared_ptr<rt::net::AbortSignal> abort);

// The worker's exchange: takes the request record out of the file, performs the request, writes
// the reply record and stores the cookies the server set. 1 when a reply record was written, 0 when
// it stopped early (file 0, no request record, no session, connection or request, or a verb other
// than GET and POST). The transfer ends early when abort is signalled.
int HttpWorkerMain(int file, std::shared_ptr<rt::net::AbortSignal> abort = nullptr);

// For the library's end: tells every worker still running to stop and waits up to grace for them
// to end, so that none is left running in the library's code. True when none is left.
bool StopHttpWorkers(std::chrono::milliseconds grace);

}  // namespace update
