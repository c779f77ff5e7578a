// The transport every provider client is given: a deadline per request from connect to the
// last byte (REQUEST_TIMEOUT), a cap on the reply size (MAX_REPLY_BYTES), and one retry
// policy that honours the server's Retry-After. A client layer built on httpx or httpx2 takes
// bounded_client_options() as keyword arguments of its client, or bounded_http_client() as
// its http_client; its retry loop calls wait_before_retry() between attempts.
#pragma once
#include <pybind11/pybind11.h>

#include <optional>

namespace genloom {
namespace py = pybind11;

// MAX_REPLY_BYTES; nullopt when it is None (no cap). Other values that are not a positive
// whole number raise ValueError.
std::optional<long long> max_reply_bytes();

// Keyword arguments of `httpx_module`.Client ("httpx" or "httpx2") that bound its requests.
py::dict bounded_client_options(const char* httpx_module);

// A client of `cls` (httpx.Client, httpx2.Client or a subclass) with those bounds and `kwargs`.
py::object bounded_http_client(py::handle cls, const py::kwargs& kwargs);

// When the error is, or was raised from, the reply-size cap (never worth another attempt;
// some client layers wrap it in a connection error): raises RuntimeError "<provider> reply
// larger than N bytes; stopped reading ..." from it. Returns otherwise.
void raise_if_reply_too_large(const char* provider, py::error_already_set& e);

// The HTTP status carried by a client-layer error (its status_code or integer code, or the
// status of the response it carries), or 0.
long error_status(py::handle error);

// Sleeps (through time.sleep, read at call time) before the attempt after `attempt` (0 is
// the first): the server's Retry-After, else the back-off, capped by REQUEST_TIMEOUT.
// Returns the seconds waited.
double wait_before_retry(int attempt, double backoff, py::handle error);

}  // namespace genloom
