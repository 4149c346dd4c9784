"""A client for vantrel: drives the mouse and keyboard through a vantrel helper process.

Each method sends one request and returns when vantrel has answered, that is when the action's
events have been posted and its pauses taken. Replies are checked against the request's id.
"""
from __future__ import annotations

import json
import os
import selectors
import shutil
import subprocess
import time
from typing import Any, Dict, Mapping, Optional, Sequence, Tuple

__all__ = [
    "Vantrel",
    "VantrelError",
    "PermissionRefused",
    "LimitExceeded",
    "RequestRefused",
    "ProcessDied",
    "ReplyTimeout",
]

PERMISSION_MESSAGE = "Accessibility permission is not granted to the vantrel"

# Beyond what an action itself takes: process start-up, a busy machine, a display's round trips,
# and on X11 the wait that keeps clicks of separate actions apart (up to 500 ms).
BASE_TIMEOUT = 5.0


class VantrelError(Exception):
    """Any failure this client reports."""


class RequestRefused(VantrelError):
    """vantrel answered with an error reply (an unknown action or button, invalid json)."""

    def __init__(self, reply: Mapping[str, Any]):
        super().__init__(reply.get("error", "refused"))
        self.reply = dict(reply)
        self.detail: Optional[str] = reply.get("detail")


class PermissionRefused(RequestRefused):
    """Input may not be posted: no Accessibility permission on macOS, no usable display on X11
    (`detail` says which)."""


class LimitExceeded(RequestRefused):
    """A value beyond what the action can carry out ("... out of range"); nothing was posted."""


class ProcessDied(VantrelError):
    """The vantrel process ended; `status` is its exit status (negative: the signal)."""

    def __init__(self, status: Optional[int]):
        super().__init__(f"vantrel ended with status {status}")
        self.status = status


class ReplyTimeout(VantrelError):
    """No reply within the timeout. The process is stopped with SIGTERM, which releases what
    it holds; make a new Vantrel to go on."""


def _find_binary(binary: Optional[str]) -> str:
    found = binary or os.environ.get("VANTREL_BINARY") or shutil.which("vantrel")
    if not found:
        raise VantrelError("no vantrel binary: pass binary=, set VANTREL_BINARY or put it on PATH")
    return found


def _point(x: float, y: float) -> Dict[str, float]:
    return {"x": x, "y": y}


class Vantrel:
    """One vantrel process. Use it as a context manager, or call close().

    binary: the executable (else VANTREL_BINARY, else `vantrel` on PATH). env: extra environment
    entries for it (DISPLAY, or the VANTREL_TRACE_* settings of vantrel-trace). timeout: seconds
    added to what each action takes, before ReplyTimeout.
    """

    def __init__(self, binary: Optional[str] = None, env: Optional[Mapping[str, str]] = None,
                 timeout: float = BASE_TIMEOUT, stderr: Any = subprocess.DEVNULL):
        environment = dict(os.environ)
        environment.update(env or {})
        self._process = subprocess.Popen([_find_binary(binary)], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=stderr, env=environment)
        self._timeout = timeout
        self._next_id = 1
        self._pending = b""
        self._selector = selectors.DefaultSelector()
        self._selector.register(self._process.stdout, selectors.EVENT_READ)

    # The process

    @property
    def pid(self) -> int:
        return self._process.pid

    def close(self, timeout: float = 5.0) -> Optional[int]:
        """Ends vantrel's input and waits for it; stops it with SIGTERM (which releases what it
        holds) if it does not end in time. Returns its exit status."""
        if self._process.stdin and not self._process.stdin.closed:
            try:
                self._process.stdin.close()
            except BrokenPipeError:
                pass
        try:
            self._process.wait(timeout)
        except subprocess.TimeoutExpired:
            self._process.terminate()
            try:
                self._process.wait(timeout)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._selector.close()
        self._process.stdout.close()
        return self._process.returncode

    def __enter__(self) -> "Vantrel":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def request(self, action: str, timeout: Optional[float] = None, **keys: Any) -> Dict[str, Any]:
        """Sends one request and returns its success reply; raises on an error reply.
        `keys` are the request's keys as the protocol names them (durationMs, startX...)."""
        request_id = self._next_id
        self._next_id += 1
        line = json.dumps({"id": request_id, "action": action, **keys}, ensure_ascii=False)
        try:
            self._process.stdin.write(line.encode() + b"\n")
            self._process.stdin.flush()
        except (BrokenPipeError, ValueError):
            raise ProcessDied(self._process.wait()) from None
        reply = self._read_reply(BASE_TIMEOUT if timeout is None else timeout)
        if reply.get("id") != request_id:
            raise VantrelError(f"reply {reply!r} does not answer request {request_id}")
        if not reply.get("ok"):
            error = str(reply.get("error", ""))
            if error == PERMISSION_MESSAGE:
                raise PermissionRefused(reply)
            if error.endswith("out of range"):
                raise LimitExceeded(reply)
            raise RequestRefused(reply)
        return reply

    def _read_reply(self, timeout: float) -> Dict[str, Any]:
        deadline = time.monotonic() + timeout
        while b"\n" not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0 or not self._selector.select(left):
                self._process.terminate()
                self._process.wait()
                raise ReplyTimeout(f"no reply within {timeout:.3f} s")
            chunk = os.read(self._process.stdout.fileno(), 65536)
            if not chunk:
                raise ProcessDied(self._process.wait())
            self._pending += chunk
        line, _, self._pending = self._pending.partition(b"\n")
        return json.loads(line)

    def _timeout_for(self, seconds: float, timeout: Optional[float]) -> float:
        return timeout if timeout is not None else self._timeout + max(seconds, 0.0)

    # Housekeeping

    def ping(self, *, timeout: Optional[float] = None) -> None:
        """Nothing; answers at once."""
        self.request("ping", timeout=self._timeout_for(0, timeout))

    def probe(self, *, timeout: Optional[float] = None) -> bool:
        """Whether input may be posted now (never prompts)."""
        return bool(self.request("probe", timeout=self._timeout_for(0, timeout))["trusted"])

    def cursor_position(self, *, timeout: Optional[float] = None) -> Tuple[float, float]:
        """Where the pointer is ((0, 0) when it cannot be read)."""
        reply = self.request("cursor_position", timeout=self._timeout_for(0, timeout))
        return reply["x"], reply["y"]

    def screen_size(self, *, timeout: Optional[float] = None) -> Tuple[float, float]:
        """The main display's size (points on macOS, pixels on X11)."""
        reply = self.request("screen_size", timeout=self._timeout_for(0, timeout))
        return reply["width"], reply["height"]

    def version(self, *, timeout: Optional[float] = None) -> Dict[str, str]:
        """{"version": ..., "platform": "macos" | "x11" | "trace"}."""
        reply = self.request("version", timeout=self._timeout_for(0, timeout))
        return {"version": reply["version"], "platform": reply["platform"]}

    # The pointer

    def mouse_move(self, x: float, y: float, *, duration_ms: int = 350,
                   timeout: Optional[float] = None) -> None:
        """An eased move to (x, y) in up to 140 steps, paced over duration_ms."""
        self.request("mouse_move", timeout=self._timeout_for(duration_ms / 1000, timeout),
                     durationMs=duration_ms, **_point(x, y))

    def click(self, x: float, y: float, *, button: str = "left", duration_ms: int = 350,
              modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move (duration_ms), then one press and release of button ("left", "right",
        "middle"), then 40 ms. modifiers ("shift", "ctrl+alt") are held around it."""
        actions = {"left": "left_click", "right": "right_click", "middle": "middle_click"}
        if button not in actions:
            raise ValueError(f"unknown button: {button}")
        self._pointer(actions[button], x, y, duration_ms, 0.04, modifiers, timeout)

    def double_click(self, x: float, y: float, *, duration_ms: int = 350,
                     modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move, then two left clicks numbered 1 and 2, each followed by 40 ms."""
        self._pointer("double_click", x, y, duration_ms, 0.08, modifiers, timeout)

    def triple_click(self, x: float, y: float, *, duration_ms: int = 350,
                     modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move, then three left clicks numbered 1 to 3, each followed by 40 ms."""
        self._pointer("triple_click", x, y, duration_ms, 0.12, modifiers, timeout)

    def left_mouse_down(self, x: float, y: float, *, duration_ms: int = 350,
                        timeout: Optional[float] = None) -> None:
        """The move, then a lone left press, held until a release."""
        self._pointer("left_mouse_down", x, y, duration_ms, 0, None, timeout)

    def left_mouse_up(self, x: float, y: float, *, timeout: Optional[float] = None) -> None:
        """A lone left release at (x, y), with no move and no pause."""
        self.request("left_mouse_up", timeout=self._timeout_for(0, timeout), **_point(x, y))

    def mouse_down(self, x: float, y: float, *, button: str = "left", duration_ms: int = 350,
                   modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move, then a lone press of button, held until mouse_up, release_all or a stop."""
        self._pointer("mouse_down", x, y, duration_ms, 0, modifiers, timeout, button=button)

    def mouse_up(self, x: float, y: float, *, button: str = "left",
                 modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """A lone release of button at (x, y), with no move."""
        keys: Dict[str, Any] = {"button": button, **_point(x, y)}
        if modifiers is not None:
            keys["modifiers"] = modifiers
        self.request("mouse_up", timeout=self._timeout_for(0, timeout), **keys)

    def drag(self, start: Tuple[float, float], end: Tuple[float, float], *,
             duration_ms: int = 350, modifiers: Optional[str] = None,
             timeout: Optional[float] = None) -> None:
        """A 200 ms move to start, a left press, 40 steps paced over duration_ms, the release
        at end."""
        keys: Dict[str, Any] = {"startX": start[0], "startY": start[1], "durationMs": duration_ms,
                                **_point(*end)}
        if modifiers is not None:
            keys["modifiers"] = modifiers
        self.request("left_click_drag", timeout=self._timeout_for(0.2 + duration_ms / 1000,
                                                                   timeout), **keys)

    def scroll(self, x: float, y: float, *, direction: str = "down", amount: int = 1,
               modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """A 200 ms move to (x, y), then amount lines of the wheel ("up", "down", "left",
        "right")."""
        keys: Dict[str, Any] = {"direction": direction, "amount": amount, **_point(x, y)}
        if modifiers is not None:
            keys["modifiers"] = modifiers
        self.request("scroll", timeout=self._timeout_for(0.2, timeout), **keys)

    def _pointer(self, action: str, x: float, y: float, duration_ms: int, after: float,
                 modifiers: Optional[str], timeout: Optional[float], **extra: Any) -> None:
        keys: Dict[str, Any] = {"durationMs": duration_ms, **_point(x, y), **extra}
        if modifiers is not None:
            keys["modifiers"] = modifiers
        self.request(action, timeout=self._timeout_for(duration_ms / 1000 + after, timeout),
                     **keys)

    # The keyboard

    def type_text(self, text: str, *, timeout: Optional[float] = None) -> None:
        """Types text one user-perceived character at a time, 8 ms after each."""
        self.request("type", timeout=self._timeout_for(len(text) * 0.008, timeout), text=text)

    def key(self, combination: str, *, timeout: Optional[float] = None) -> None:
        """Presses and releases a combination such as "cmd+shift+t"; no pause."""
        self.request("key", timeout=self._timeout_for(0, timeout), text=combination)

    def hold_key(self, combination: str, hold_ms: int, *,
                 timeout: Optional[float] = None) -> None:
        """As key, with hold_ms between the press and the release."""
        self.request("hold_key", timeout=self._timeout_for(hold_ms / 1000, timeout),
                     text=combination, holdMs=hold_ms)

    def key_down(self, combination: str, *, timeout: Optional[float] = None) -> None:
        """Presses each piece ("shift" alone is a key) and leaves it held; no pause."""
        self.request("key_down", timeout=self._timeout_for(0, timeout), text=combination)

    def key_up(self, combination: str, *, timeout: Optional[float] = None) -> None:
        """Releases the named pieces that vantrel holds, last first."""
        self.request("key_up", timeout=self._timeout_for(0, timeout), text=combination)

    def media(self, key: int, *, timeout: Optional[float] = None) -> None:
        """The press and release of a media key by the platform's number (16: play/pause)."""
        self.request("media", timeout=self._timeout_for(0, timeout), key=key)

    def release_all(self, *, timeout: Optional[float] = None) -> None:
        """Releases every key and button vantrel holds, last pressed first."""
        self.request("release_all", timeout=self._timeout_for(0, timeout))
