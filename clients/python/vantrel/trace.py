"""Runs vantrel-trace, the build that posts nothing and writes every event as a JSON line, for
the tests of code that drives vantrel."""
from __future__ import annotations

import json
import os
import shutil
import subprocess
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple


def run(requests: Iterable[Dict[str, Any]], *, binary: Optional[str] = None,
        trusted: Optional[Sequence[bool]] = None, cursor: Optional[Tuple[float, float]] = None,
        fail: Optional[Sequence[str]] = None, realtime: bool = False,
        screen: Optional[Tuple[float, float]] = None) -> Tuple[List[Dict[str, Any]],
                                                              List[Dict[str, Any]]]:
    """Runs the requests through vantrel-trace (binary, else VANTREL_TRACE_BINARY, else
    vantrel-trace on PATH) and returns (replies, trace lines), each parsed. The keywords are the
    VANTREL_TRACE_* settings: successive trust answers, the pointer at start, the creations that
    fail ("location", "mouse", "keyboard", "scroll", "system"), real pauses, the screen size."""
    program = binary or os.environ.get("VANTREL_TRACE_BINARY") or shutil.which("vantrel-trace")
    if not program:
        raise FileNotFoundError("no vantrel-trace: pass binary= or set VANTREL_TRACE_BINARY")
    env = dict(os.environ)
    if trusted is not None:
        env["VANTREL_TRACE_TRUSTED"] = ",".join("1" if t else "0" for t in trusted)
    if cursor is not None:
        env["VANTREL_TRACE_CURSOR"] = f"{cursor[0]!r},{cursor[1]!r}"
    if fail:
        env["VANTREL_TRACE_FAIL"] = ",".join(fail)
    if realtime:
        env["VANTREL_TRACE_REALTIME"] = "1"
    if screen is not None:
        env["VANTREL_TRACE_SCREEN"] = f"{screen[0]!r},{screen[1]!r}"
    text = "".join(json.dumps(r, ensure_ascii=False) + "\n" for r in requests)
    done = subprocess.run([program], input=text.encode(), capture_output=True, env=env)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.decode(errors="replace").strip())
    replies = [json.loads(line) for line in done.stdout.decode().splitlines()]
    trace = [json.loads(line) for line in done.stderr.decode().splitlines()]
    return replies, trace
