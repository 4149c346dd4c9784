"""The Python client against vantrel-trace: what each method asks for is checked on the trace
the requests produce, and the errors come from real refusals, limits, deaths and timeouts."""
import os
import signal
import sys
import tempfile
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
                v.mouse_down(1, 1, button="side")
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
