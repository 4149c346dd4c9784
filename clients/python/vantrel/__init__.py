"""A client for vantrel: drives the mouse and keyboard through a vantrel helper process.

Each method sends one request and returns when vantrel has answered, that is when the action's
events have been posted and its pauses taken. Replies are checked against the request's id.

Arguments are checked before anything is sent: coordinates and durations must be real, finite
numbers, text must be encodable as UTF-8, and the pieces of a key combination must be names
vantrel knows (see key_names) or, for the last piece, a single character. A bad argument raises
TypeError or ValueError and sends nothing; the client goes on working.

One Vantrel may be shared by threads: requests go one at a time over the pipe, each thread gets
its own reply.
"""
from __future__ import annotations

import atexit
import contextlib
import difflib
import json
import math
import numbers
import os
import queue
import signal
import shutil
import subprocess
import threading
import time
import unicodedata
import weakref
from typing import Any, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple

__all__ = [
    "Vantrel",
    "VantrelError",
    "PermissionRefused",
    "LimitExceeded",
    "RequestRefused",
    "InputConnectionLost",
    "InputNotDelivered",
    "ProcessDied",
    "ReplyTimeout",
]

PERMISSION_MESSAGE = "Accessibility permission is not granted to the vantrel"
CONNECTION_LOST_MESSAGE = "input connection lost"
NOT_DELIVERED_MESSAGE = "input not delivered"

# Beyond what an action itself takes: process start-up, a busy machine, a display's round trips,
# and on X11 the wait that keeps clicks of separate actions apart (up to 500 ms).
BASE_TIMEOUT = 5.0

# How long a vantrel that is being stopped has after SIGTERM before SIGKILL, in seconds.
STOP_GRACE = 2.0

# The longest single wait for a reply: longer waits go round in steps of this (a lock's wait
# takes no timeout beyond what the platform's threads allow).
_WAIT_STEP = 3600.0

_WINDOWS = os.name == "nt"

_OPPOSITE = {"up": "down", "down": "up", "left": "right", "right": "left"}


class VantrelError(Exception):
    """Any failure this client reports."""


class RequestRefused(VantrelError):
    """vantrel answered with an error reply (an unknown action or button, invalid json)."""

    def __init__(self, reply: Mapping[str, Any]):
        self.reply = dict(reply)
        self.detail: Optional[str] = reply.get("detail")
        message = str(reply.get("error", "refused"))
        super().__init__(f"{message} ({self.detail})" if self.detail else message)


class PermissionRefused(RequestRefused):
    """Input may not be posted: no Accessibility permission on macOS, no usable display on
    Linux (`detail` says which)."""


class LimitExceeded(RequestRefused):
    """A value beyond what the action can carry out ("... out of range"); nothing was posted."""


class InputConnectionLost(RequestRefused):
    """The display server or compositor went away during the action, which stopped there
    (`detail` names the connection). The next request connects afresh."""


class InputNotDelivered(RequestRefused):
    """Some of the input could not be delivered as asked (on X11: a character the layout lacks,
    with no spare keycode free); `detail` says what. The rest was posted."""


class ProcessDied(VantrelError):
    """The vantrel process ended, or this client was closed; `status` is the exit status
    (negative: the signal), None when it was not collected."""

    def __init__(self, status: Optional[int], closed: bool = False):
        super().__init__("the client was closed" if closed else f"vantrel ended with status {status}")
        self.status = status
        self.closed = closed


class ReplyTimeout(VantrelError):
    """No reply within the timeout. The process has been stopped (SIGTERM, which releases what
    it holds, then SIGKILL if it lingers); make a new Vantrel to go on."""


def _find_binary(binary: Optional[str]) -> str:
    found = (binary or os.environ.get("VANTREL_BINARY") or shutil.which("vantrel") or
             (shutil.which("vantrel.exe") if _WINDOWS else None))
    if not found:
        raise VantrelError("no vantrel binary: pass binary=, set VANTREL_BINARY or put it on PATH")
    return found


def _number(name: str, value: Any) -> float:
    """A real, finite number, or TypeError / ValueError naming the argument."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    if not math.isfinite(float(value)):
        raise ValueError(f"{name} must be finite, not {value!r}")
    return value


def _point(x: Any, y: Any) -> Dict[str, Any]:
    return {"x": _number("x", x), "y": _number("y", y)}


def _text(name: str, value: Any) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    try:
        value.encode("utf-8")
    except UnicodeEncodeError as error:
        raise ValueError(f"{name} has a lone surrogate U+{ord(value[error.start]):04X} at "
                         f"position {error.start}; it cannot be sent as UTF-8") from None
    return value


def _joins(c: str) -> bool:
    """Whether a code point belongs to the character before it: combining marks, joiners,
    variation selectors, emoji modifiers and tags."""
    o = ord(c)
    return (unicodedata.category(c) in ("Mn", "Me", "Mc") or o in (0x200C, 0x200D)
            or 0xFE00 <= o <= 0xFE0F or 0xE0100 <= o <= 0xE01EF or 0x1F3FB <= o <= 0x1F3FF
            or 0xE0020 <= o <= 0xE007F)


def _single_character(text: str) -> bool:
    """Whether text is one user-perceived character (an approximation of a grapheme cluster:
    a base with what joins it, a ZWJ sequence, a flag)."""
    if not text:
        return False
    count, after_joiner, indicators = 0, False, 0
    for c in text:
        if 0x1F1E6 <= ord(c) <= 0x1F1FF:
            indicators += 1
            if indicators % 2 == 0:
                continue
        if after_joiner or (count and _joins(c)):
            after_joiner = c == "\u200d"
            continue
        after_joiner = c == "\u200d"
        count += 1
    return count == 1


def _pieces(combination: str) -> List[str]:
    """The pieces of a combination as vantrel splits it: at each "+", where "+" alone, or
    after another "+", is the key itself."""
    if combination == "+":
        return ["+"]
    if combination.endswith("++"):
        return combination[:-2].split("+") + ["+"] if combination[:-2] else ["+"]
    return combination.split("+")


def _suggest(name: str, names: Sequence[str]) -> str:
    squeezed = {n.replace("_", "").replace("-", "").replace(" ", ""): n for n in names}
    key = name.lower().replace("_", "").replace("-", "").replace(" ", "")
    close = [squeezed[k] for k in difflib.get_close_matches(key, list(squeezed), n=3, cutoff=0.7)]
    return f"; did you mean {', '.join(repr(c) for c in close)}?" if close else ""


_open_clients: "weakref.WeakSet[Vantrel]" = weakref.WeakSet()


@atexit.register
def _release_at_exit() -> None:
    # What a program that ends without closing its clients left held is released first.
    for client in list(_open_clients):
        client._release_and_close()


class Vantrel:
    """One vantrel process. Use it as a context manager, or call close().

    binary: the executable (else VANTREL_BINARY, else `vantrel` on PATH). env: extra environment
    entries for it (DISPLAY, or the VANTREL_TRACE_* settings of vantrel-trace). timeout: seconds
    added to what each action takes, before ReplyTimeout.

    Leaving a `with` block by an exception (KeyboardInterrupt included), and the end of the
    interpreter, release everything vantrel holds before closing. A plain close() ends vantrel's
    input: vantrel then lets go of its keys but leaves a mouse button held, for a later process
    to release. A driving program killed outright (SIGKILL) closes vantrel's pipes, and vantrel
    then releases everything itself.
    """

    def __init__(self, binary: Optional[str] = None, env: Optional[Mapping[str, str]] = None,
                 timeout: float = BASE_TIMEOUT, stderr: Any = subprocess.DEVNULL):
        environment = dict(os.environ)
        environment.update(env or {})
        # On Windows vantrel gets a process group of its own, so that a stop can be sent to it
        # (Ctrl+Break) and to nothing else; terminating it would leave what it holds held.
        flags = subprocess.CREATE_NEW_PROCESS_GROUP if _WINDOWS else 0
        self._process = subprocess.Popen([_find_binary(binary)], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=stderr, env=environment,
                                         creationflags=flags)
        self._timeout = _number("timeout", timeout)
        self._next_id = 1
        self._pending = b""
        self._lock = threading.RLock()
        self._closed = False
        self._key_names: Optional[Tuple[List[str], List[str]]] = None
        # Replies are read by a thread of the client's own, which hands over what it reads: a
        # wait with a timeout on a pipe is select() on POSIX systems, which Windows lacks for
        # pipes; a queue's wait works everywhere. None in the queue: the output has ended.
        self._chunks: "queue.Queue[Optional[bytes]]" = queue.Queue()
        self._ended = False
        self._reader = threading.Thread(target=self._read_output,
                                        args=(self._process.stdout, self._chunks), daemon=True,
                                        name="vantrel replies")
        self._reader.start()
        _open_clients.add(self)

    # The process

    @property
    def pid(self) -> int:
        return self._process.pid

    def close(self, timeout: float = 5.0) -> Optional[int]:
        """Ends vantrel's input and waits for it; stops it (SIGTERM, which releases what it
        holds, then SIGKILL) if it does not end in time. Returns its exit status."""
        with self._lock:
            if self._closed:
                return self._process.returncode
            self._closed = True
            _open_clients.discard(self)
            if self._process.stdin and not self._process.stdin.closed:
                try:
                    self._process.stdin.close()
                except OSError:
                    pass
            try:
                self._process.wait(timeout)
            except subprocess.TimeoutExpired:
                self._stop()
            # The reader sees the end of the output once the process has gone; its descriptor
            # is closed only then, so that a number reused meanwhile is never read.
            self._reader.join(STOP_GRACE)
            if not self._reader.is_alive():
                self._process.stdout.close()
            return self._process.returncode

    @staticmethod
    def _read_output(stdout: Any, chunks: "queue.Queue[Optional[bytes]]") -> None:
        try:
            while True:
                chunk = os.read(stdout.fileno(), 65536)
                if not chunk:
                    break
                chunks.put(chunk)
        except (OSError, ValueError):
            pass
        chunks.put(None)

    def _stop(self) -> None:
        """SIGTERM (Ctrl+Break on Windows), then SIGKILL after the grace period; returns once
        the process is gone."""
        if self._process.poll() is not None:
            return
        if _WINDOWS:
            self._process.send_signal(signal.CTRL_BREAK_EVENT)
        else:
            self._process.terminate()
        try:
            self._process.wait(STOP_GRACE)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()

    def _release_and_close(self) -> None:
        try:
            if not self._closed and self._process.poll() is None:
                self.release_all(timeout=STOP_GRACE)
        except VantrelError:
            pass
        self.close(timeout=STOP_GRACE)

    def __enter__(self) -> "Vantrel":
        return self

    def __exit__(self, kind: Any, *exc: Any) -> None:
        if kind is None:
            self.close()
        else:
            self._release_and_close()

    def _died(self) -> ProcessDied:
        if self._closed:
            return ProcessDied(self._process.returncode, closed=True)
        # Its output closed: it has ended, or is about to; one that runs on is stopped.
        try:
            self._process.wait(STOP_GRACE)
        except subprocess.TimeoutExpired:
            self._stop()
        return ProcessDied(self._process.returncode)

    def request(self, action: str, timeout: Optional[float] = None, **keys: Any) -> Dict[str, Any]:
        """Sends one request and returns its success reply; raises on an error reply.
        `keys` are the request's keys as the protocol names them (durationMs, startX...)."""
        wait = BASE_TIMEOUT if timeout is None else _number("timeout", timeout)
        try:
            line = json.dumps({"action": action, **keys}, ensure_ascii=False,
                              allow_nan=False).encode("utf-8")
        except (ValueError, UnicodeEncodeError) as error:
            raise ValueError(f"the request cannot be sent: {error}") from None
        with self._lock:
            if self._closed:
                raise ProcessDied(self._process.returncode, closed=True)
            request_id = self._next_id
            self._next_id += 1
            try:
                self._process.stdin.write(b'{"id":%d,' % request_id + line[1:] + b"\n")
                self._process.stdin.flush()
            except (BrokenPipeError, ValueError, OSError):
                raise self._died() from None
            reply = self._read_reply(request_id, wait)
        if not reply.get("ok"):
            error = str(reply.get("error", ""))
            if error == PERMISSION_MESSAGE:
                raise PermissionRefused(reply)
            if error == CONNECTION_LOST_MESSAGE:
                raise InputConnectionLost(reply)
            if error == NOT_DELIVERED_MESSAGE:
                raise InputNotDelivered(reply)
            if error.endswith("out of range"):
                raise LimitExceeded(reply)
            raise RequestRefused(reply)
        return reply

    def _read_reply(self, request_id: int, timeout: float) -> Dict[str, Any]:
        deadline = time.monotonic() + timeout
        while True:
            while b"\n" not in self._pending:
                if self._ended:
                    raise self._died()
                left = deadline - time.monotonic()
                try:
                    if left <= 0:
                        raise queue.Empty
                    chunk = self._chunks.get(timeout=min(left, _WAIT_STEP))
                except queue.Empty:
                    if time.monotonic() < deadline:
                        continue
                    self._stop()
                    raise ReplyTimeout(f"no reply within {timeout:.3f} s") from None
                if chunk is None:
                    self._ended = True
                    raise self._died()
                self._pending += chunk
            line, _, self._pending = self._pending.partition(b"\n")
            reply = json.loads(line)
            # A reply to an earlier request whose wait was cut short (KeyboardInterrupt) is
            # passed over.
            if isinstance(reply.get("id"), int) and 0 < reply["id"] < request_id:
                continue
            if reply.get("id") != request_id:
                raise VantrelError(f"reply {reply!r} does not answer request {request_id}")
            return reply

    def _timeout_for(self, seconds: float, timeout: Optional[float]) -> float:
        if timeout is not None:
            return _number("timeout", timeout)
        return self._timeout + max(seconds, 0.0)

    # Names

    def key_names(self) -> Tuple[List[str], List[str]]:
        """(key names, modifier names), as vantrel knows them; asked once."""
        if self._key_names is None:
            reply = self.request("key_names", timeout=self._timeout_for(0, None))
            self._key_names = (list(reply["keys"]), list(reply["modifiers"]))
        return self._key_names

    def _check_modifiers(self, modifiers: Optional[str]) -> Optional[str]:
        if modifiers is None:
            return None
        _text("modifiers", modifiers)
        known = self.key_names()[1]
        for piece in modifiers.lower().split("+"):
            if piece not in known:
                raise ValueError(f"unknown modifier {piece!r}{_suggest(piece, known)}")
        return modifiers

    def _check_combination(self, combination: str, every_piece_a_key: bool = False) -> str:
        """A combination's pieces: modifiers, then a key name or a single character; with
        every_piece_a_key (key_down, key_up), each piece a modifier or a key name."""
        _text("combination", combination)
        keys, modifiers = self.key_names()
        pieces = _pieces(combination.lower())
        if "" in pieces:
            raise ValueError(f"combination {combination!r} has an empty piece")
        for i, piece in enumerate(pieces):
            if every_piece_a_key:
                if piece in modifiers or piece in keys:
                    continue
                raise ValueError(f"unknown key {piece!r} in {combination!r}"
                                 f"{_suggest(piece, modifiers + keys)}")
            if i < len(pieces) - 1:
                if piece in modifiers:
                    continue
                raise ValueError(f"unknown modifier {piece!r} in {combination!r}"
                                 f"{_suggest(piece, modifiers)}")
            if piece in keys or _single_character(piece):
                continue
            raise ValueError(f"unknown key {piece!r} in {combination!r}: neither a key name nor "
                             f"a single character{_suggest(piece, keys)}")
        return combination

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

    def mouse_move(self, x: float, y: float, *, duration_ms: float = 350,
                   timeout: Optional[float] = None) -> None:
        """An eased move to (x, y) in up to 140 steps, paced over duration_ms."""
        point = _point(x, y)
        duration_ms = _number("duration_ms", duration_ms)
        self.request("mouse_move", timeout=self._timeout_for(duration_ms / 1000, timeout),
                     durationMs=duration_ms, **point)

    def move_by(self, dx: float, dy: float, *, duration_ms: float = 350,
                timeout: Optional[float] = None) -> None:
        """Moves by (dx, dy) from where the pointer is now."""
        _number("dx", dx), _number("dy", dy)
        x, y = self.cursor_position(timeout=timeout)
        self.mouse_move(x + dx, y + dy, duration_ms=duration_ms, timeout=timeout)

    def click(self, x: float, y: float, *, button: str = "left", duration_ms: float = 350,
              modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move (duration_ms), then one press and release of button ("left", "right",
        "middle"), then 40 ms. modifiers ("shift", "ctrl+alt") are held around it."""
        actions = {"left": "left_click", "right": "right_click", "middle": "middle_click"}
        if button not in actions:
            raise ValueError(f"unknown button: {button!r} (left, right or middle)")
        self._pointer(actions[button], x, y, duration_ms, 0.04, modifiers, timeout)

    def double_click(self, x: float, y: float, *, duration_ms: float = 350,
                     modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move, then two left clicks numbered 1 and 2, each followed by 40 ms."""
        self._pointer("double_click", x, y, duration_ms, 0.08, modifiers, timeout)

    def triple_click(self, x: float, y: float, *, duration_ms: float = 350,
                     modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move, then three left clicks numbered 1 to 3, each followed by 40 ms."""
        self._pointer("triple_click", x, y, duration_ms, 0.12, modifiers, timeout)

    def left_mouse_down(self, x: float, y: float, *, duration_ms: float = 350,
                        timeout: Optional[float] = None) -> None:
        """The move, then a lone left press, held until a release."""
        self._pointer("left_mouse_down", x, y, duration_ms, 0, None, timeout)

    def left_mouse_up(self, x: float, y: float, *, timeout: Optional[float] = None) -> None:
        """A lone left release at (x, y), with no move and no pause."""
        self.request("left_mouse_up", timeout=self._timeout_for(0, timeout), **_point(x, y))

    def mouse_down(self, x: float, y: float, *, button: str = "left", duration_ms: float = 350,
                   modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """The move, then a lone press of button ("left", "right", "middle", "back",
        "forward"), held until mouse_up, release_all or a stop."""
        self._pointer("mouse_down", x, y, duration_ms, 0, modifiers, timeout,
                      button=self._button(button))

    def mouse_up(self, x: float, y: float, *, button: str = "left",
                 modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """A lone release of button at (x, y), with no move."""
        keys: Dict[str, Any] = {"button": self._button(button), **_point(x, y)}
        if self._check_modifiers(modifiers) is not None:
            keys["modifiers"] = modifiers
        self.request("mouse_up", timeout=self._timeout_for(0, timeout), **keys)

    def drag(self, start: Tuple[float, float], end: Tuple[float, float], *,
             button: str = "left", duration_ms: float = 350, modifiers: Optional[str] = None,
             timeout: Optional[float] = None) -> None:
        """Drags from start to end with button held. The left button: a 200 ms move to start,
        a press, 40 steps paced over duration_ms, the release at end. Another button: a press
        at start (mouse_down), an eased move over duration_ms, the release at end; the button is
        released also when the move fails."""
        (sx, sy), (ex, ey) = start, end
        begin, finish = _point(sx, sy), _point(ex, ey)
        duration_ms = _number("duration_ms", duration_ms)
        button = self._button(button)
        self._check_modifiers(modifiers)
        if button == "left":
            keys: Dict[str, Any] = {"startX": begin["x"], "startY": begin["y"],
                                    "durationMs": duration_ms, **finish}
            if modifiers is not None:
                keys["modifiers"] = modifiers
            self.request("left_click_drag",
                         timeout=self._timeout_for(0.2 + duration_ms / 1000, timeout), **keys)
            return
        self.mouse_down(sx, sy, button=button, duration_ms=200, modifiers=modifiers,
                        timeout=timeout)
        try:
            self.mouse_move(ex, ey, duration_ms=duration_ms, timeout=timeout)
        finally:
            self.mouse_up(ex, ey, button=button, modifiers=modifiers, timeout=timeout)

    def scroll(self, x: float, y: float, *, direction: str = "down", amount: int = 1,
               modifiers: Optional[str] = None, timeout: Optional[float] = None) -> None:
        """A 200 ms move to (x, y), then amount lines of the wheel ("up", "down", "left",
        "right"); a negative amount scrolls the other way."""
        if direction not in _OPPOSITE:
            raise ValueError(f"unknown direction: {direction!r} (up, down, left or right)")
        amount = _number("amount", amount)
        if amount < 0:
            direction, amount = _OPPOSITE[direction], -amount
        keys: Dict[str, Any] = {"direction": direction, "amount": amount, **_point(x, y)}
        if self._check_modifiers(modifiers) is not None:
            keys["modifiers"] = modifiers
        self.request("scroll", timeout=self._timeout_for(0.2, timeout), **keys)

    def _button(self, button: str) -> str:
        if button not in ("left", "right", "middle", "back", "forward"):
            raise ValueError(f"unknown button: {button!r} (left, right, middle, back, forward)")
        return button

    def _pointer(self, action: str, x: float, y: float, duration_ms: float, after: float,
                 modifiers: Optional[str], timeout: Optional[float], **extra: Any) -> None:
        point = _point(x, y)
        duration_ms = _number("duration_ms", duration_ms)
        keys: Dict[str, Any] = {"durationMs": duration_ms, **point, **extra}
        if self._check_modifiers(modifiers) is not None:
            keys["modifiers"] = modifiers
        self.request(action, timeout=self._timeout_for(duration_ms / 1000 + after, timeout),
                     **keys)

    # The keyboard

    def type_text(self, text: str, *, timeout: Optional[float] = None) -> None:
        """Types text one user-perceived character at a time, 8 ms after each."""
        _text("text", text)
        self.request("type", timeout=self._timeout_for(len(text) * 0.008, timeout), text=text)

    def key(self, combination: str, *, timeout: Optional[float] = None) -> None:
        """Presses and releases a combination such as "cmd+shift+t"; no pause. The last piece
        is a key name (key_names) or a single character."""
        self._check_combination(combination)
        self.request("key", timeout=self._timeout_for(0, timeout), text=combination)

    def hold_key(self, combination: str, hold_ms: float, *,
                 timeout: Optional[float] = None) -> None:
        """As key, with hold_ms between the press and the release."""
        self._check_combination(combination)
        hold_ms = _number("hold_ms", hold_ms)
        self.request("hold_key", timeout=self._timeout_for(hold_ms / 1000, timeout),
                     text=combination, holdMs=hold_ms)

    def key_down(self, combination: str, *, timeout: Optional[float] = None) -> None:
        """Presses each piece ("shift" alone is a key) and leaves it held; no pause."""
        self._check_combination(combination, every_piece_a_key=True)
        self.request("key_down", timeout=self._timeout_for(0, timeout), text=combination)

    def key_up(self, combination: str, *, timeout: Optional[float] = None) -> None:
        """Releases the named pieces that vantrel holds, last first."""
        self._check_combination(combination, every_piece_a_key=True)
        self.request("key_up", timeout=self._timeout_for(0, timeout), text=combination)

    @contextlib.contextmanager
    def hold(self, combination: Optional[str] = None, *, button: Optional[str] = None,
             at: Optional[Tuple[float, float]] = None,
             timeout: Optional[float] = None) -> Iterator["Vantrel"]:
        """Holds keys (key_down) and/or a mouse button (mouse_down at `at`, else where the
        pointer is) for the body of a with statement, and releases them on the way out, also
        when the body raises:

            with v.hold("shift"):
                v.click(10, 20)
        """
        if combination is not None:
            self._check_combination(combination, every_piece_a_key=True)
        if button is not None:
            self._button(button)
        if at is not None:
            _point(*at)
        pressed_keys = pressed_button = False
        where: Tuple[float, float] = (0.0, 0.0)
        try:
            if combination is not None:
                self.key_down(combination, timeout=timeout)
                pressed_keys = True
            if button is not None:
                where = at if at is not None else self.cursor_position(timeout=timeout)
                self.mouse_down(*where, button=button, duration_ms=1, timeout=timeout)
                pressed_button = True
            yield self
        finally:
            if pressed_button:
                x, y = self.cursor_position(timeout=timeout)
                self.mouse_up(x, y, button=button or "left", timeout=timeout)
            if pressed_keys:
                self.key_up(combination or "", timeout=timeout)

    def media(self, key: int, *, timeout: Optional[float] = None) -> None:
        """The press and release of a media key by the platform's number (16: play/pause)."""
        _number("key", key)
        self.request("media", timeout=self._timeout_for(0, timeout), key=key)

    def release_all(self, *, timeout: Optional[float] = None) -> None:
        """Releases every key and button vantrel holds, last pressed first."""
        self.request("release_all", timeout=self._timeout_for(0, timeout))
