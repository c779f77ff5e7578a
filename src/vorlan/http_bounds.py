"""Bounds on every provider HTTP request: one deadline from connect to the last byte, and a
cap on the size of a reply, enforced while it is read.

A client layer built on httpx (or its successor httpx2) takes them as the client's keyword
arguments: ``client_options(module, timeout, max_bytes)`` gives the event hooks that apply
them; ``http_client(module, ...)`` builds such a client for layers that accept one
(``http_client=``). Each request then:

- has its connect, write, pool and read timeouts set to what is left of ``timeout``, so a
  provider that never answers fails at the deadline;
- asks for an uncompressed reply, so the bytes counted are the bytes kept;
- has its body read through a counter that raises ReplyTooLarge past ``max_bytes`` and a
  timeout error of the client's own library once the deadline has passed; a timer shuts the
  connection at the deadline (armed when the connection is made, or when the reply's headers
  arrive on a reused one), so a reply that drips one byte at a time, even in its headers, or
  stalls after dripping, ends there too.
"""
from __future__ import annotations

import socket
import threading
import time
from typing import Any, Iterator

__all__ = ["ReplyTooLarge", "client_options", "expired", "http_client", "too_large"]


class ReplyTooLarge(RuntimeError):
    """A provider's reply exceeded the size cap; reading stopped there."""


_SHUT_GRACE = 0.25  # seconds


class _Deadline:
    """Seconds left of one request's time, from when the request was sent, and the timer that
    shuts the request's connection when they run out."""

    def __init__(self, seconds: float | None):
        self.seconds = seconds
        self.start = time.monotonic()
        self._timer: threading.Timer | None = None
        self.expired = False  # the timer shut the connection

    def left(self) -> float | None:
        if self.seconds is None:
            return None
        return max(0.0, self.seconds - (time.monotonic() - self.start))

    def watch(self, sock: Any) -> None:
        """Shut ``sock`` at the deadline (once per request: the first socket seen)."""
        left = self.left()
        if left is None or sock is None or self._timer is not None:
            return
        # A little after the deadline, so that a server that stays silent is reported by the
        # client's own read timeout ("Request timed out.") and the timer only cuts off one that
        # keeps dripping bytes.
        self._timer = threading.Timer(left + _SHUT_GRACE, self._shut, (sock,))
        self._timer.daemon = True
        self._timer.start()

    def _shut(self, sock: Any) -> None:
        self.expired = True
        _shut(sock)

    def cancel(self) -> None:
        if self._timer is not None:
            self._timer.cancel()

    def trace(self, name: str, info: dict) -> None:
        """httpcore's trace hook: a new connection is watched from the moment it is made, so
        a server that drips even its headers is cut off at the deadline too."""
        if name.endswith("connect_tcp.complete"):
            stream = info.get("return_value")
            self.watch(stream.get_extra_info("socket") if stream is not None else None)


class _BoundedStream:
    """A response body stream that counts bytes and watches the request's deadline (mixed
    into the client library's own stream class, which the library checks for)."""

    def __init__(self, inner: Any, module: Any, request: Any, deadline: _Deadline, max_bytes: int | None,
                 sock: Any):
        self._inner, self._module, self._request = inner, module, request
        self._deadline, self._max_bytes = deadline, max_bytes
        deadline.watch(sock)  # a reused connection was not seen connecting

    def __getattr__(self, name: str) -> Any:  # e.g. the client's `elapsed` record
        return getattr(self._inner, name)

    def _expired(self) -> Exception:
        return self._module.ReadTimeout(
            f"reply not complete within the request deadline of {self._deadline.seconds:g} s",
            request=self._request)

    def __iter__(self):
        received = 0
        try:
            for chunk in self._inner:
                received += len(chunk)
                if self._max_bytes is not None and received > self._max_bytes:
                    raise ReplyTooLarge(
                        f"reply larger than {self._max_bytes} bytes; stopped reading "
                        f"(raise genloom.MAX_REPLY_BYTES if the provider's replies are really this long)")
                if self._deadline.left() == 0.0:
                    raise self._expired()
                yield chunk
        except self._module.TransportError:
            if self._deadline.left() == 0.0:  # the timer shut the connection
                raise self._expired() from None
            raise
        finally:
            self._deadline.cancel()

    def close(self) -> None:
        self._deadline.cancel()
        self._inner.close()


def _chain(error: BaseException) -> Iterator[BaseException]:
    """``error`` and the errors it was raised from (a client layer may wrap ours)."""
    seen: set[int] = set()
    e: BaseException | None = error
    while e is not None and id(e) not in seen:
        seen.add(id(e))
        yield e
        e = e.__cause__ or e.__context__


def expired(error: BaseException) -> bool:
    """Whether ``error``, or an error it was raised from, ended a request of ours at its
    deadline (the connection shut under a read that was still waiting, e.g. for headers)."""
    for e in _chain(error):
        try:
            deadline = e.request.extensions.get(_KEY)  # type: ignore[attr-defined]
        except Exception:  # no request, or one without extensions
            deadline = None
        if isinstance(deadline, _Deadline) and deadline.expired:
            return True
    return False


def too_large(error: BaseException) -> ReplyTooLarge | None:
    """The ReplyTooLarge that ``error`` is, or was raised from; None when there is none."""
    return next((e for e in _chain(error) if isinstance(e, ReplyTooLarge)), None)


def _both(first: Any, second: Any) -> Any:
    def trace(name: str, info: dict) -> Any:
        second(name, info)
        return first(name, info)

    return trace


_STREAM_CLASSES: dict[str, type] = {}


def _stream_class(module: Any) -> type:
    """_BoundedStream as a byte stream of ``module`` (httpx or httpx2)."""
    cls = _STREAM_CLASSES.get(module.__name__)
    if cls is None:
        cls = type("BoundedStream", (_BoundedStream, module.SyncByteStream), {})
        _STREAM_CLASSES[module.__name__] = cls
    return cls


def _shut(sock: Any) -> None:
    """Wakes a read blocked on ``sock`` (another thread) by shutting the connection."""
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass


_KEY = "vorlan_deadline"  # the request's _Deadline among its extensions


def client_options(module: Any, timeout: float | None, max_bytes: int | None) -> dict:
    """Keyword arguments of ``module.Client`` (httpx or httpx2, or a layer that hands its
    keyword arguments to one) that bound every request: ``timeout`` seconds from sending to the
    last byte (None: no limit) and ``max_bytes`` of reply (None: no cap)."""
    def on_request(request: Any) -> None:
        deadline = _Deadline(timeout)
        extensions = {**request.extensions, _KEY: deadline}
        if timeout is not None:
            extensions["timeout"] = {k: timeout for k in ("connect", "read", "write", "pool")}
            outer = extensions.get("trace")
            extensions["trace"] = deadline.trace if outer is None else _both(outer, deadline.trace)
        request.extensions = extensions
        request.headers["Accept-Encoding"] = "identity"

    def on_response(response: Any) -> None:
        request = response.request
        deadline = request.extensions.get(_KEY) or _Deadline(timeout)
        stream = response.extensions.get("network_stream")
        sock = stream.get_extra_info("socket") if stream is not None else None
        response.stream = _stream_class(module)(response.stream, module, request, deadline, max_bytes, sock)

    return {"event_hooks": {"request": [on_request], "response": [on_response]}}


def http_client(module: Any, timeout: float | None, max_bytes: int | None, cls: Any = None, **kwargs: Any) -> Any:
    """A client of ``cls`` (default ``module.Client``) whose requests are bounded as above."""
    return (cls or module.Client)(**client_options(module, timeout, max_bytes), **kwargs)
