#!/usr/bin/env python3
"""Opens an editable GTK text window on a private Xvfb, clicks into it, types a paragraph,
selects it all with ctrl+a and prints where the pointer is.
    PYTHONPATH=clients/python VANTREL_BINARY=build/vantrel python3 examples/type_into_editor.py"""
import os, subprocess, time
from vantrel import Vantrel

read, write = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24"],
                        pass_fds=(write,), stderr=subprocess.DEVNULL)
display = ":" + os.read(read, 16).decode().strip()
editor = subprocess.Popen(["zenity", "--text-info", "--editable", "--width=900", "--height=500"],
                          env=dict(os.environ, DISPLAY=display), stderr=subprocess.DEVNULL)
time.sleep(2)  # let the window appear
with Vantrel(env={"DISPLAY": display}) as v:
    v.click(450, 200)
    v.type_text("Grüße aus Köln — Привет, мир — 你好，世界 — 안녕하세요 😀\n")
    v.key("ctrl+a")
    print("pointer at", v.cursor_position())
editor.terminate(); xvfb.terminate()
