#!/usr/bin/python3
"""Stands in for a screen reader while a benchmark runs with accessibility active.

Registers on the accessibility bus for the events a screen reader follows (text and name
changes, state changes, focus), so that Qt's bridge sends them, and counts what arrives. Ends
on SIGTERM or SIGINT and prints the counts. Needs python3-pyatspi and a D-Bus session bus.
"""
import signal

import pyatspi

counts = {"events": 0, "text_changed_chars": 0}


def on_event(event):
    counts["events"] += 1
    if event.type.startswith("object:text-changed"):
        counts["text_changed_chars"] += len(event.any_data or "")


def stop(*_):
    pyatspi.Registry.stop()


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)
pyatspi.Registry.registerEventListener(
    on_event, "object:text-changed", "object:property-change:accessible-name",
    "object:state-changed", "focus:")
print("listening", flush=True)
pyatspi.Registry.start()
print("received:", counts, flush=True)
