"""vantrel.exe end to end under Wine, on a private X server, against logger.exe: a window that
takes the foreground and reports every input message it receives as a JSON line.

Run by ctest in the Windows build (scripts/test-windows), which names the executables in
VANTREL_EXE, VANTREL_LOGGER and VANTREL_WINE and gives Wine a private prefix. One X server for the
whole group; a fresh logger and a fresh vantrel for each test.

Wine's own ways, which these tests work around rather than test: back-to-back moves coalesce
(final positions are checked), and the next pointer move drops a Shift that SendInput holds
(held modifiers are tested without moves between).
"""

import json
import os
import queue
import signal
import subprocess
import tempfile
import threading
import time
import unittest

WINE = os.environ.get("VANTREL_WINE", "wine")
EXE = os.environ.get("VANTREL_EXE", "")
LOGGER = os.environ.get("VANTREL_LOGGER", "")

VK_SHIFT, VK_CONTROL, VK_RETURN = 0x10, 0x11, 0x0D
VK_LSHIFT, VK_LCONTROL = 0xA0, 0xA2


class Lines:
    """A child's standard output, read by a thread into a queue of lines."""

    def __init__(self, stream):
        self.lines = queue.Queue()
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            self.lines.put(raw)
        self.lines.put(None)

    def next(self, timeout):
        return self.lines.get(timeout=timeout)


class XServer:
    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as display:
            self.display = ":" + display.readline().strip()

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class Logger:
    def __init__(self, env):
        self.process = subprocess.Popen([WINE, LOGGER], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.output = Lines(self.process.stdout)
        self.events = []
        ready = self._next(60)
        if ready is None or not ready.get("ready"):
            self.stop()
            raise AssertionError(f"the logger did not start: {ready}")
        self.origin = (ready["x"], ready["y"])

    def _next(self, timeout):
        raw = self.output.next(timeout)
        return None if raw is None else json.loads(raw)

    def collect(self, settle=0.3):
        """Every event so far; waits until none has come for `settle` seconds."""
        while True:
            try:
                event = self._next(settle)
            except queue.Empty:
                return self.events
            if event is None:
                return self.events
            self.events.append(event)

    def clear(self):
        self.collect()
        self.events = []

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=10)
        self.process.stdout.close()


class Vantrel:
    def __init__(self, env):
        self.process = subprocess.Popen([WINE, EXE], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.output = Lines(self.process.stdout)
        self.next_id = 0

    def send_raw(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def reply_line(self, timeout=60):
        return self.output.next(timeout)

    def request(self, action, **fields):
        self.next_id += 1
        self.send_raw((json.dumps({"id": self.next_id, "action": action, **fields}) + "\n")
                      .encode())
        raw = self.reply_line()
        assert raw is not None, "vantrel ended without a reply"
        reply = json.loads(raw)
        assert reply["id"] == self.next_id, reply
        return reply

    def ok(self, action, **fields):
        reply = self.request(action, **fields)
        assert reply.get("ok") is True, reply
        return reply

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=30)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            stream.close()


def chars(events):
    return [e["unit"] for e in events if e["event"] == "char"]


def named(events, *names):
    return [e["event"] for e in events if e["event"] in names]


def units(text):
    data = text.encode("utf-16-le")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


class WindowsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not EXE or not LOGGER:
            raise unittest.SkipTest("VANTREL_EXE and VANTREL_LOGGER name the Windows executables")
        cls.server = XServer()
        cls.env = dict(os.environ, DISPLAY=cls.server.display, WINEDEBUG="-all")
        cls.env.pop("WAYLAND_DISPLAY", None)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False)
        cls.server.stop()

    def setUp(self):
        self.logger = Logger(self.env)
        self.vantrel = Vantrel(self.env)
        self.addCleanup(self.logger.stop)
        self.addCleanup(self.vantrel.stop)
        # The pointer starts inside the window, away from where the tests click.
        self.vantrel.ok("mouse_move", x=600, y=450)
        self.logger.clear()

    def test_moves_end_exactly_on_the_pixel_asked(self):
        for x, y in [(0, 0), (639, 479), (317, 201), (1, 478), (500, 3)]:
            self.vantrel.ok("mouse_move", x=x, y=y)
            self.assertEqual(self.vantrel.ok("cursor_position")["x"], x)
            self.assertEqual(self.vantrel.ok("cursor_position")["y"], y)
            moves = [e for e in self.logger.collect() if e["event"] == "move"]
            self.assertEqual((moves[-1]["x"], moves[-1]["y"]), (x, y))
        size = self.vantrel.ok("screen_size")
        self.assertEqual((size["width"], size["height"]), (1024, 768))

    def test_clicks_press_each_button_and_count_double_clicks(self):
        self.vantrel.ok("left_click", x=100, y=100)
        self.vantrel.ok("right_click", x=110, y=100)
        self.vantrel.ok("middle_click", x=120, y=100)
        self.vantrel.ok("mouse_down", x=130, y=100, button="back")
        self.vantrel.ok("mouse_up", x=130, y=100, button="back")
        self.vantrel.ok("mouse_down", x=130, y=100, button="forward")
        self.vantrel.ok("mouse_up", x=130, y=100, button="forward")
        events = self.logger.collect()
        presses = [e for e in events if e["event"] != "move"]
        self.assertEqual([(e["event"], e["x"], e["xbutton"]) for e in presses],
                         [("left_down", 100, 0), ("left_up", 100, 0),
                          ("right_down", 110, 0), ("right_up", 110, 0),
                          ("middle_down", 120, 0), ("middle_up", 120, 0),
                          ("x_down", 130, 1), ("x_up", 130, 1),
                          ("x_down", 130, 2), ("x_up", 130, 2)])
        self.logger.clear()
        self.vantrel.ok("double_click", x=200, y=200)
        self.assertEqual(named(self.logger.collect(), "left_down", "left_up", "left_double"),
                         ["left_down", "left_up", "left_double", "left_up"])
        self.logger.clear()
        # The third press of a triple click is a press the application counts as the third.
        self.vantrel.ok("triple_click", x=250, y=200)
        self.assertEqual(named(self.logger.collect(), "left_down", "left_up", "left_double"),
                         ["left_down", "left_up", "left_double", "left_up", "left_down",
                          "left_up"])

    def test_separate_click_requests_never_merge(self):
        for _ in range(3):
            self.vantrel.ok("left_click", x=300, y=300)
        self.assertEqual(named(self.logger.collect(), "left_down", "left_double"),
                         ["left_down"] * 3)

    def test_a_drag_holds_the_button_over_the_moves(self):
        self.vantrel.ok("left_click_drag", startX=50, startY=60, x=250, y=160)
        events = [e for e in self.logger.collect() if e["event"] != "move" or True]
        down = next(i for i, e in enumerate(events) if e["event"] == "left_down")
        up = next(i for i, e in enumerate(events) if e["event"] == "left_up")
        self.assertEqual((events[down]["x"], events[down]["y"]), (50, 60))
        self.assertEqual((events[up]["x"], events[up]["y"]), (250, 160))
        self.assertTrue(any(e["event"] == "move" for e in events[down:up]))

    def test_wheel_turns_a_notch_per_line_both_ways(self):
        self.vantrel.ok("scroll", x=200, y=200, direction="down", amount=3)
        self.vantrel.ok("scroll", x=200, y=200, direction="up", amount=2)
        self.vantrel.ok("scroll", x=200, y=200, direction="right", amount=1)
        self.vantrel.ok("scroll", x=200, y=200, direction="left", amount=2)
        wheels = [(e["event"], e["delta"]) for e in self.logger.collect()
                  if e["event"] in ("wheel", "hwheel")]
        self.assertEqual(wheels, [("wheel", -120)] * 3 + [("wheel", 120)] * 2 +
                         [("hwheel", 120)] + [("hwheel", -120)] * 2)

    def test_combinations_carry_exactly_their_modifiers(self):
        self.vantrel.ok("key", text="ctrl+a")
        events = [e for e in self.logger.collect() if e["event"] != "move"]
        self.assertEqual([(e["event"], e.get("vk"), e.get("unit")) for e in events],
                         [("key_down", VK_CONTROL, None), ("key_down", ord("A"), None),
                          ("char", None, 1), ("key_up", ord("A"), None),
                          ("key_up", VK_CONTROL, None)])
        self.assertEqual(events[1]["modifiers"], 2)
        self.logger.clear()
        self.vantrel.ok("key", text="shift+left")
        keys = [e for e in self.logger.collect() if e["event"] == "key_down"]
        self.assertEqual([(e["vk"], e["extended"]) for e in keys],
                         [(VK_SHIFT, False), (0x25, True)])
        self.assertEqual(keys[1]["modifiers"], 1)

    def test_text_of_every_kind_arrives_as_exact_units(self):
        text = "Hé 😀 e\u0301 漢字 👍🏽 x"
        self.vantrel.ok("type", text=text)
        self.assertEqual(chars(self.logger.collect()), units(text))
        self.logger.clear()
        # Line ends are the Return key, whatever their form; a tab is the Tab key.
        self.vantrel.ok("type", text="a\r\nb\nc\td")
        events = self.logger.collect()
        self.assertEqual(chars(events), [ord("a"), 13, ord("b"), 13, ord("c"), 9, ord("d")])
        self.assertEqual([e["vk"] for e in events if e["event"] == "key_down" and
                          e["vk"] in (VK_RETURN, 9)], [VK_RETURN, VK_RETURN, 9])

    def test_holds_release_at_their_end_and_key_down_holds_across_requests(self):
        self.vantrel.ok("hold_key", text="shift", holdMs=300)
        events = self.logger.collect()
        self.assertEqual(named(events, "key_down", "key_up")[-1:], ["key_up"])
        self.logger.clear()
        self.vantrel.ok("key_down", text="shift")
        self.vantrel.ok("type", text="a")
        self.vantrel.ok("key_up", text="shift")
        events = [e for e in self.logger.collect() if e["event"] in ("key_down", "key_up")]
        self.assertEqual(events[0]["event"], "key_down")
        self.assertIn(events[0]["vk"], (VK_SHIFT, VK_LSHIFT))
        self.assertEqual(events[-1]["event"], "key_up")
        self.assertIn(events[-1]["vk"], (VK_SHIFT, VK_LSHIFT))

    def test_modifiers_another_program_holds_are_never_carried(self):
        other = Vantrel(self.env)
        self.addCleanup(other.stop)
        other.ok("key_down", text="ctrl")
        self.logger.clear()
        # Under another program's Control, text would be shortcuts and a key would carry it.
        for action, text in (("type", "abc"), ("key", "a"), ("key", "shift+a")):
            reply = self.vantrel.request(action, text=text)
            self.assertEqual(reply.get("error"), "input not delivered", reply)
            self.assertIn("Control held by another program", reply.get("detail", ""))
        self.assertEqual([e for e in self.logger.collect() if e["event"] == "char"], [])
        # A combination that names it is what was asked, and leaves it down.
        self.vantrel.ok("key", text="ctrl+a")
        self.assertEqual(chars(self.logger.collect()), [1])
        other.ok("key_up", text="ctrl")
        other.ok("key_down", text="shift")
        self.logger.clear()
        # Under Shift, characters sent as themselves arrive as they are; Tab would go back.
        self.vantrel.ok("type", text="aB")
        reply = self.vantrel.request("type", text="c\td")
        self.assertIn("Shift held by another program", reply.get("detail", ""))
        self.assertEqual(chars(self.logger.collect()), [ord("a"), ord("B"), ord("c")])
        other.ok("key_up", text="shift")
        self.vantrel.ok("type", text="e")

    def test_media_keys_press_their_virtual_keys_with_scan_codes(self):
        # NX_KEYTYPE_SOUND_UP (0) and NX_KEYTYPE_PLAY (16).
        self.vantrel.ok("media", key=0)
        self.vantrel.ok("media", key=16)
        keys = [(e["event"], e["vk"], e["scan"], e["extended"]) for e in self.logger.collect()
                if e["event"] in ("key_down", "key_up")]
        self.assertEqual(keys, [("key_down", 0xAF, 0x30, True), ("key_up", 0xAF, 0x30, True),
                                ("key_down", 0xB3, 0x22, True), ("key_up", 0xB3, 0x22, True)])
        # A key type with no virtual key is an error, not a silent success.
        reply = self.vantrel.request("media", key=2)
        self.assertFalse(reply["ok"])
        self.assertIn("no virtual key", reply.get("detail", ""))

    def test_a_stop_mid_hold_releases_everything(self):
        self.vantrel.ok("mouse_down", x=200, y=200)
        self.vantrel.send_raw(b'{"id":9,"action":"hold_key","text":"ctrl+b","holdMs":20000}\n')
        deadline = time.monotonic() + 30
        while not any(e["event"] == "key_down" and e["vk"] == ord("B")
                      for e in self.logger.collect(0.1)):
            self.assertLess(time.monotonic(), deadline, "the hold never began")
        started = time.monotonic()
        self.vantrel.process.send_signal(signal.SIGINT)
        self.vantrel.process.wait(timeout=20)
        self.assertLess(time.monotonic() - started, 5)
        self.assertIsNone(self.vantrel.reply_line(5), "the interrupted request has no reply")
        events = self.logger.collect()
        ups = [(e["event"], e.get("vk")) for e in events if e["event"] in ("key_up", "left_up")]
        self.assertIn(("key_up", ord("B")), ups)
        self.assertIn(("key_up", VK_CONTROL), ups)
        self.assertIn(("left_up", None), ups)

    def test_an_idle_vantrel_stops_at_once(self):
        self.vantrel.ok("ping")
        started = time.monotonic()
        self.vantrel.process.send_signal(signal.SIGINT)
        self.vantrel.process.wait(timeout=20)
        self.assertLess(time.monotonic() - started, 5)

    def test_standard_streams_carry_bytes_exactly(self):
        # No "\r\n" for "\n", and a 0x1A byte inside a request does not end the input.
        self.vantrel.send_raw(b'{"id":1,"action":"ping"}\n{"id":2,"action":"ping","x":"\x1a"}\n'
                              b'{"id":3,"action":"ping"}\r\n')
        lines = [self.vantrel.reply_line() for _ in range(3)]
        self.assertTrue(all(line.endswith(b"}\n") and not line.endswith(b"\r\n")
                            for line in lines), lines)
        # A raw control byte is not JSON: that line is answered as invalid, with no id.
        self.assertEqual([json.loads(line)["id"] for line in lines], [1, 0, 3])
        self.assertEqual(json.loads(lines[1])["error"], "invalid json")
        version = self.vantrel.ok("version")
        self.assertEqual(version["platform"], "windows")
        self.assertTrue(self.vantrel.ok("probe")["trusted"])
        self.vantrel.process.stdin.close()
        self.assertEqual(self.vantrel.process.wait(timeout=20), 0)
        self.assertEqual(self.vantrel.process.stderr.read(), b"")


if __name__ == "__main__":
    unittest.main()
