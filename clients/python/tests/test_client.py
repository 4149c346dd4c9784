"""The Python client against vantrel-trace: what each method asks for is checked on the trace
the requests produce, and the errors come from real refusals, limits, deaths and timeouts."""
import os
import signal
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))

import vantrel  # noqa: E402
from vantrel import trace  # noqa: E402

TRACE = os.environ.get("VANTREL_TRACE_BINARY", "vantrel-trace")


def posts(lines):
    return [line for line in lines if "post" in line]


def mouse(kind, x, y, button=0, **more):
    return {"post": "mouse", "type": kind, "x": x, "y": y, "button": button, **more}


class Traced:
    """A client on vantrel-trace whose trace goes to a file, read back per call."""

    def __init__(self, **env):
        self.file = tempfile.TemporaryFile()
        self.client = vantrel.Vantrel(TRACE, env=env, stderr=self.file)
        self.seen = 0

    def __call__(self, method, *args, **kwargs):
        result = getattr(self.client, method)(*args, **kwargs)
        self.file.seek(0)
        import json
        lines = [json.loads(line) for line in self.file.read().decode().splitlines()]
        new, self.seen = lines[self.seen:], len(lines)
        return result, posts(new), new

    def close(self):
        self.client.close()
        self.file.close()


class EveryMethodSendsItsRequest(unittest.TestCase):
    def setUp(self):
        self.v = Traced(VANTREL_TRACE_CURSOR="10,0")

    def tearDown(self):
        self.v.close()

    def test_pointer_methods(self):
        _, events, _ = self.v("click", 10, 0)
        self.assertEqual(events, [mouse(5, 10, 0), mouse(1, 10, 0, clickState=1),
                                  mouse(2, 10, 0, clickState=1)])
        _, events, _ = self.v("click", 10, 0, button="right")
        self.assertEqual([e["type"] for e in events], [5, 3, 4])
        _, events, _ = self.v("click", 10, 0, button="middle", modifiers="shift")
        self.assertEqual([e.get("type") for e in events], [10, 5, 25, 26, 11])
        _, events, _ = self.v("double_click", 10, 0)
        self.assertEqual([e.get("clickState") for e in events], [None, 1, 1, 2, 2])
        _, events, _ = self.v("triple_click", 10, 0)
        self.assertEqual([e.get("clickState") for e in events][-2:], [3, 3])
        _, events, _ = self.v("mouse_move", 17, 0, duration_ms=-1)
        self.assertEqual(events, [mouse(5, 17, 0)])
        _, events, _ = self.v("drag", (17, 0), (57, 0), duration_ms=-1)
        self.assertEqual(events[:2], [mouse(5, 17, 0), mouse(1, 17, 0)])
        self.assertEqual(events[-1], mouse(2, 57, 0))
        self.assertEqual(len(events), 43)
        _, events, _ = self.v("scroll", 57, 0, direction="left", amount=3)
        self.assertEqual(events[-1]["wheel2"], 3)
        _, events, _ = self.v("left_mouse_down", 57, 0)
        self.assertEqual(events, [mouse(5, 57, 0), mouse(1, 57, 0)])
        _, events, _ = self.v("left_mouse_up", 60, 0)
        self.assertEqual(events, [mouse(2, 60, 0)])
        _, events, _ = self.v("mouse_down", 60, 0, button="right")
        self.assertEqual(events, [mouse(5, 60, 0), mouse(3, 60, 0, 1)])
        _, events, _ = self.v("mouse_up", 60, 0, button="right")
        self.assertEqual(events, [mouse(4, 60, 0, 1)])
        self.assertEqual(self.v("cursor_position")[0], (60, 0))

    def test_keyboard_and_housekeeping_methods(self):
        _, events, _ = self.v("type_text", "h\u00e9")
        self.assertEqual([e["text"] for e in events], [[104], [104], [233], [233]])
        _, events, _ = self.v("key", "cmd+a")
        self.assertEqual([(e["keyCode"], e["flags"]) for e in events],
                         [(0, 0x100000), (0, 0x100000)])
        _, _, lines = self.v("hold_key", "a", 25)
        self.assertIn({"sleep": 25000}, lines)
        _, events, _ = self.v("key_down", "shift")
        self.assertEqual(events, [{"post": "key", "type": 10, "keyCode": 56, "flags": 0x20000}])
        _, events, _ = self.v("key_up", "shift")
        self.assertEqual(events, [{"post": "key", "type": 11, "keyCode": 56, "flags": 0}])
        _, events, _ = self.v("media", 16)
        self.assertEqual([e["data1"] for e in events], [0x100A00, 0x100B00])
        self.v("key_down", "ctrl")
        _, events, _ = self.v("release_all")
        self.assertEqual(events, [{"post": "key", "type": 11, "keyCode": 59, "flags": 0}])
        self.assertEqual(self.v("probe")[0], True)
        self.assertEqual(self.v("ping")[0], None)
        self.assertEqual(self.v("screen_size")[0], (1920, 1080))
        self.assertEqual(self.v("version")[0]["platform"], "trace")

    def test_many_calls_in_a_row_are_answered_in_order(self):
        for _ in range(300):
            self.v.client.ping()
        _, _, lines = self.v("ping")
        self.assertEqual([line["reply"]["id"] for line in lines], list(range(1, 302)))


class ErrorsAreExceptions(unittest.TestCase):
    def test_refusals_limits_and_unknown_names(self):
        with vantrel.Vantrel(TRACE, env={"VANTREL_TRACE_TRUSTED": "0"}) as v:
            self.assertFalse(v.probe())
            with self.assertRaises(vantrel.PermissionRefused):
                v.click(1, 2)
            v.ping()
        with vantrel.Vantrel(TRACE) as v:
            with self.assertRaises(vantrel.LimitExceeded) as caught:
                v.hold_key("a", 5_000_000)
            self.assertEqual(caught.exception.reply["error"], "holdMs out of range")
            with self.assertRaises(vantrel.RequestRefused) as caught:
                v.request("mouse_down", button="side")
            self.assertEqual(str(caught.exception), "unknown button: side")
            with self.assertRaises(vantrel.RequestRefused):
                v.request("no_such_action")

    def test_a_killed_process_and_a_late_reply(self):
        v = vantrel.Vantrel(TRACE)
        v.ping()
        os.kill(v.pid, signal.SIGKILL)
        with self.assertRaises(vantrel.ProcessDied) as caught:
            v.ping()
        self.assertEqual(caught.exception.status, -signal.SIGKILL)
        v.close()
        v = vantrel.Vantrel(TRACE, env={"VANTREL_TRACE_REALTIME": "1"})
        with self.assertRaises(vantrel.ReplyTimeout):
            v.hold_key("a", 60_000, timeout=0.3)
        # The timeout stopped it with SIGTERM, so that the held key was released.
        self.assertEqual(v.close(), -signal.SIGTERM)


def script(text):
    """An executable shell script standing in for vantrel, removed at exit."""
    handle = tempfile.NamedTemporaryFile("w", suffix=".sh", delete=False)
    handle.write("#!/bin/sh\n" + text + "\n")
    handle.close()
    os.chmod(handle.name, 0o755)
    import atexit
    atexit.register(os.unlink, handle.name)
    return handle.name


def gone(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    # A zombie is gone as far as input goes; the client reaps its own children.
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().split(") ")[1].startswith("Z")


class ArgumentsAreCheckedBeforeAnythingIsSent(unittest.TestCase):
    def setUp(self):
        self.v = Traced()

    def tearDown(self):
        self.v.close()

    def test_numbers_text_and_names(self):
        checks = [
            (TypeError, "click", ("100", "120")),
            (ValueError, "click", (float("nan"), 5)),
            (TypeError, "click", (None, 5)),
            (TypeError, "click", (True, 5)),
            (ValueError, "mouse_move", (1, float("inf"))),
            (ValueError, "hold_key", ("a", float("nan"))),
            (ValueError, "key", ("Page_Down",)),
            (ValueError, "key", ("insert",)),
            (ValueError, "key", ("ctrl+Page_Down",)),
            (ValueError, "key", ("ctrll+a",)),
            (ValueError, "key", ("ctrl++a",)),
            (ValueError, "key_down", ("shift+q+w+x+y+é",)),
            (ValueError, "click", (1, 2), {"modifiers": "shfit"}),
            (ValueError, "type_text", ("ab\ud83d",)),
            (ValueError, "drag", ((0, 0), (1, 1)), {"button": "side"}),
            (ValueError, "scroll", (0, 0), {"direction": "sideways"}),
        ]
        for kind, method, args, *kwargs in checks:
            with self.subTest(method=method, args=args):
                with self.assertRaises(kind) as caught:
                    self.v(method, *args, **(kwargs[0] if kwargs else {}))
                if args == ("Page_Down",):
                    self.assertIn("'pagedown'", str(caught.exception))
                if args == ("ctrll+a",):
                    self.assertIn("'ctrl'", str(caught.exception))
                if method == "type_text":
                    self.assertIn("position 2", str(caught.exception))
        # Nothing was sent for any of them but the one key_names, and the next call works.
        _, events, lines = self.v("ping")
        self.assertEqual(events, [])
        self.assertEqual([line["reply"]["id"] for line in lines if "reply" in line], [1, 2])
        self.assertIn("keys", [line for line in lines if "reply" in line][0]["reply"])

    def test_what_is_allowed_reaches_vantrel(self):
        for combination, code in [("é", None), ("👍🏽", None), ("ctrl++", None),
                                  ("Cmd+Shift+T", 17), ("PageDown", 121), ("🇩🇪", None)]:
            with self.subTest(combination=combination):
                _, events, _ = self.v("key", combination)
                self.assertTrue(events)
                if code is not None:
                    self.assertEqual(events[0]["keyCode"], code)
        keys, modifiers = self.v.client.key_names()
        self.assertIn("pagedown", keys)
        self.assertIn("shift", modifiers)

    def test_a_hold_too_long_for_vantrel_is_its_limit_not_a_client_fault(self):
        with self.assertRaises(vantrel.LimitExceeded):
            self.v("hold_key", "x", 10**10)
        self.assertEqual(self.v("cursor_position")[0], (0, 0))


class ConveniencesPostWhatTheyPromise(unittest.TestCase):
    def setUp(self):
        self.v = Traced(VANTREL_TRACE_CURSOR="10,10")

    def tearDown(self):
        self.v.close()

    def test_drag_with_any_button_scroll_both_ways_and_move_by(self):
        _, events, _ = self.v("drag", (10, 10), (20, 10), button="right", duration_ms=10)
        types = [e["type"] for e in events]
        self.assertEqual(types[:2], [5, 3])
        self.assertEqual(set(types[2:-1]), {7})
        self.assertEqual(events[-1], mouse(4, 20, 10, 1))
        _, events, _ = self.v("scroll", 20, 10, amount=-3)
        self.assertEqual(events[-1]["wheel1"], 3)  # up
        _, events, _ = self.v("scroll", 20, 10, direction="left", amount=-2)
        self.assertEqual(events[-1]["wheel2"], -2)  # right
        _, events, _ = self.v("move_by", 5, -4, duration_ms=1)
        self.assertEqual(events[-1], mouse(5, 25, 6))

    def test_hold_releases_on_the_way_out_even_when_the_body_raises(self):
        with self.assertRaises(RuntimeError):
            with self.v.client.hold("shift", button="back"):
                self.v.client.click(30, 30, duration_ms=1)
                raise RuntimeError("in the body")
        _, events, _ = self.v("ping")
        self.assertEqual([(e["type"], e.get("keyCode", e.get("button"))) for e in events[-2:]],
                         [(26, 3), (11, 56)])


class NoWaitIsUnbounded(unittest.TestCase):
    def test_a_vantrel_that_ignores_sigterm_is_killed_after_a_timeout(self):
        v = vantrel.Vantrel(script('trap "" TERM; exec sleep 1000'))
        with self.assertRaises(vantrel.ReplyTimeout):
            v.ping(timeout=0.2)
        self.assertTrue(gone(v.pid))
        self.assertEqual(v.close(), -signal.SIGKILL)

    def test_a_vantrel_that_closed_its_output_but_runs_on_is_an_error_at_once(self):
        v = vantrel.Vantrel(script('trap "" TERM; exec 1>&-; exec sleep 1000'), timeout=600)
        with self.assertRaises(vantrel.ProcessDied):
            v.ping()
        self.assertTrue(gone(v.pid))
        v.close()

    def test_after_close_the_error_says_so(self):
        v = vantrel.Vantrel(TRACE)
        v.close()
        with self.assertRaises(vantrel.ProcessDied) as caught:
            v.ping()
        self.assertEqual(str(caught.exception), "the client was closed")

    def test_threads_sharing_a_client_each_get_their_own_reply(self):
        import threading
        v = vantrel.Vantrel(TRACE)
        failures = []

        def work(n):
            try:
                for i in range(100):
                    x, _ = v.cursor_position() if i % 10 else (None, None)
                    v.request("ping")
                    assert x in (None, 0), x
            except Exception as error:  # noqa: BLE001 -- reported below
                failures.append(error)

        threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])
        v.close()


class ErrorsSayWhy(unittest.TestCase):
    def test_a_refusal_shows_its_detail_and_a_lost_connection_its_own_error(self):
        self.assertIsInstance(vantrel.InputNotDelivered({"error": "input not delivered"}),
                              vantrel.RequestRefused)
        refused = vantrel.PermissionRefused({"id": 1, "ok": False, "error": vantrel.PERMISSION_MESSAGE,
                                             "detail": "x11: DISPLAY is not set"})
        self.assertEqual(str(refused), "Accessibility permission is not granted to the vantrel "
                                       "(x11: DISPLAY is not set)")
        with vantrel.Vantrel(TRACE, env={"VANTREL_TRACE_FAIL": "connection"}) as v:
            with self.assertRaises(vantrel.InputConnectionLost) as caught:
                v.key("a")
            self.assertIsInstance(caught.exception, vantrel.VantrelError)
            self.assertIn("VANTREL_TRACE_FAIL", caught.exception.detail)
            v.ping()


# A program that drives vantrel-trace (real pauses, trace to a file), holds a key and a button,
# says "ready" and waits to be ended.
HOLDER = """
import sys, time
sys.path.insert(0, {path!r})
import vantrel
v = vantrel.Vantrel({trace!r}, env={{"VANTREL_TRACE_REALTIME": "1"}}, stderr=open({out!r}, "w"))
v.key_down("shift")
v.mouse_down(5, 5, duration_ms=1)
print("ready", flush=True)
{rest}
"""


class ADrivingProgramThatEndsReleasesWhatItHeld(unittest.TestCase):
    def run_holder(self, rest, end):
        import json
        import subprocess
        with tempfile.TemporaryDirectory() as directory:
            out = os.path.join(directory, "trace")
            code = HOLDER.format(path=os.path.join(os.path.dirname(__file__), ".."), trace=TRACE,
                                 out=out, rest=rest)
            program = subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.assertEqual(program.stdout.readline(), b"ready\n")
            end(program)
            program.wait(30)
            program.stdout.close()
            for _ in range(300):  # vantrel itself may end a moment after the program
                with open(out) as trace_file:
                    lines = [json.loads(line) for line in trace_file.read().splitlines()]
                if posts(lines)[-2:] == [mouse(2, 5, 5, flags=0x20000),
                                         {"post": "key", "type": 11, "keyCode": 56, "flags": 0}]:
                    return
                time.sleep(0.05)
            self.fail(f"not released: {lines[-4:]}")

    def test_sigint_inside_a_with_block(self):
        self.run_holder("with v:\n    time.sleep(60)", lambda p: p.send_signal(signal.SIGINT))

    def test_sigint_outside_any_with_block(self):
        self.run_holder("time.sleep(60)", lambda p: p.send_signal(signal.SIGINT))

    def test_an_exception_that_ends_the_program(self):
        self.run_holder("sys.stdin.read()\nraise SystemExit(3)", lambda p: None)

    def test_sigkill(self):
        self.run_holder("time.sleep(60)", lambda p: p.kill())


class TraceHelper(unittest.TestCase):
    def test_runs_the_requests_with_its_settings(self):
        replies, lines = trace.run([{"id": 1, "action": "cursor_position"},
                                    {"id": 2, "action": "screen_size"},
                                    {"id": 3, "action": "left_click"}],
                                   binary=TRACE, cursor=(3, 4), screen=(800, 600),
                                   trusted=[False])
        self.assertEqual(replies[0], {"id": 1, "ok": True, "x": 3, "y": 4})
        self.assertEqual(replies[1], {"id": 2, "ok": True, "width": 800, "height": 600})
        self.assertFalse(replies[2]["ok"])
        self.assertEqual(posts(lines), [])


if __name__ == "__main__":
    unittest.main()
