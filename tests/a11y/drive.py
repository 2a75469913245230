#!/usr/bin/env python3
"""Drives a running VornTerm through the accessibility bus, as a person with
a screen reader would, for the suites that start the real program.

    drive.py PID log-on   checks "Log Input Data"; prints "checked"
    drive.py PID menu     right-clicks the data window; prints "menu up" once
                          its context menu shows
    drive.py PID received N
                          prints "received" once the data window holds N
                          characters
    drive.py PID box      prints "box up" once the start-up box
                          "Error reading configuration file." shows, then
                          watches until standard input ends and prints
                          "window shown" or "window not shown"
    drive.py PID send-bytes LINE
                          opens "Send Bytes..." from the data window's menu,
                          sends LINE, closes the dialog and prints what a
                          screen reader is told: "boxes labelled A|B|C; said:
                          DESCRIPTION; shown: NAME", the labels of its combo
                          boxes, the description the focused line took on
                          and the name a label took on
    drive.py PID find TEXT
                          opens "Find..." from the menu, finds TEXT and
                          prints "said: DESCRIPTION; shown: NAME" as above

Exit 0 when the step was done, 1 with "FAIL: <why>" on standard output
otherwise. Every wait ends after TIMEOUT_S seconds.
"""

import os
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

TIMEOUT_S = 20
POLL_MS = 100
BOX_TEXT = "Error reading configuration file."


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def labels(acc):
    names = []
    for rel in acc.getRelationSet():
        if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [rel.getTarget(i).name for i in range(rel.getNTargets())]
    return "+".join(names)


class Driver:
    def __init__(self, pid, step, count, text=None):
        self.pid, self.step, self.count, self.text = pid, step, count, text
        # send-bytes and find: the menu entry, then what is heard.
        self.entry = {"send-bytes": "Send Bytes...", "find": "Find..."}.get(step)
        self.phase = "menu"
        self.boxes = None
        self.said = self.shown = None
        self.close = []
        self.result = "FAIL: %s did not happen within %d s" % (step, TIMEOUT_S)
        self.window_shown = False
        self.done = False
        self.next_try = 0
        self.tries = 0
        self.seen = "no application of that process"

    def app(self):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == self.pid:
                    # Every state is asked for afresh: the client's cache
                    # follows only the events this driver listens to.
                    app.set_cache_mask(Atspi.Cache.NONE)
                    return app
            except Exception:
                pass
        return None

    def find(self, role, name=None):
        app = self.app()
        if app is None:
            return None
        for acc in walk(app):
            if acc.getRoleName() == role and (name is None or acc.name == name) and showing(acc):
                return acc
        return None

    def finish(self, result):
        self.result = result
        pyatspi.Registry.stop()
        return False

    def say(self, line):
        print(line, flush=True)

    # One attempt of the step; True to be called again.
    def poll(self):
        try:
            return getattr(self, "poll_" + self.step.replace("-", "_"))()
        except Exception as e:  # the program's objects come and go
            self.result = "FAIL: %s: %s" % (self.step, e)
            return True

    def poll_log_on(self):
        box = self.find("check box", "Log Input Data")
        if box is None:
            self.seen = "no showing checkbox"
            return True
        if box.getState().contains(pyatspi.STATE_CHECKED):
            return self.finish("checked")
        # A window just mapped may miss the action: once more each second.
        if time.monotonic() >= self.next_try:
            self.next_try = time.monotonic() + 1
            self.seen = "the checkbox unchecked after %d toggles" % self.tries
            self.tries += 1
            box.queryAction().doAction(0)
        return True

    def poll_menu(self):
        # A popup is no child of the application: its showing is heard. A
        # window just mapped may miss a click: one more each second.
        if self.phase != "menu":
            return True
        view = self.find("text", "Data window")
        if view is None or time.monotonic() < self.next_try:
            return True
        ext = view.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.next_try = time.monotonic() + 1
        pyatspi.Registry.generateMouseEvent(ext.x + ext.width // 2, ext.y + ext.height // 2,
                                            pyatspi.MOUSE_B3C)
        return True

    def poll_send_bytes(self):
        self.seen = "%s; said %r; shown %r" % (self.phase, self.said, self.shown)
        if self.phase == "menu":
            return self.poll_menu()
        dialog = self.find("dialog", "Send Bytes")
        if self.phase != "entered" or dialog is None:
            return True
        inside = [a for a in walk(dialog) if showing(a)]
        self.boxes = "|".join(labels(a) for a in inside if a.getRoleName() == "combo box")
        line = [a for a in inside if a.getRoleName() == "text"
                and a.getState().contains(pyatspi.STATE_EDITABLE)]
        send = [a for a in inside if a.getRoleName() == "push button" and a.name == "Send"]
        self.close = [a for a in inside if a.getRoleName() == "push button" and a.name == "Close"]
        if not line or not send or not self.close:
            return self.finish("FAIL: the dialog has no line, Send or Close")
        self.phase = "heard"
        line[0].queryEditableText().setTextContents(self.text)
        send[0].queryAction().doAction(0)
        return True

    def poll_find(self):
        self.seen = "%s; said %r; shown %r" % (self.phase, self.said, self.shown)
        if self.phase == "menu":
            return self.poll_menu()
        field = self.find("text", "Find what")
        if self.phase == "entered" and field is not None:
            self.phase = "heard"
            field.queryEditableText().setTextContents(self.text)
        return True

    def on_changed(self, event):
        # What a screen reader hears: the description of the control with
        # the focus, and the label whose name is the news.
        try:
            source = event.source
            if self.phase != "heard" or source.get_process_id() != self.pid:
                return
            if event.type.endswith("accessible-description"):
                if source.description and source.getState().contains(pyatspi.STATE_FOCUSED):
                    self.said = source.description
            elif (source.getRoleName() == "label" and source.name
                  and source.parent.name in ("Send Bytes", "Find")):
                self.shown = source.name
            if self.said is None or self.shown is None:
                return
            heard = "said: %s; shown: %s" % (self.said, self.shown)
            if self.step == "send-bytes":
                heard = "boxes labelled %s; %s" % (self.boxes, heard)
                self.close[0].queryAction().doAction(0)
            self.finish(heard)
        except Exception as e:
            self.finish("FAIL: %s" % e)

    def poll_received(self):
        view = self.find("text", "Data window")
        if view is not None:
            count = view.queryText().characterCount
            self.seen = "%d characters in the data window" % count
            if count >= self.count:
                return self.finish("received")
        return True

    def poll_box(self):
        if self.done:
            return False
        alert = self.find("alert")
        if alert is None:
            return True
        texts = [a.name for a in walk(alert) if a.getRoleName() == "label"]
        if BOX_TEXT not in texts:
            return self.finish("FAIL: the alert shows %r" % texts)
        self.done = True
        self.say("box up")
        self.result = "FAIL: standard input did not end"
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, self.on_input)
        return False

    def on_input(self, fd, condition):
        if os.read(fd, 4096):
            return True
        return self.finish("window shown" if self.window_shown else "window not shown")

    def on_showing(self, event):
        try:
            if not event.detail1 or event.source.get_process_id() != self.pid:
                return
            role = event.source.getRoleName()
            if role == "popup menu" and self.step == "menu":
                self.finish("menu up")
            elif role == "popup menu" and self.entry and self.phase == "menu":
                # Clicked, not pressed through the bus: the dialog it opens
                # would hold the answer until it closes.
                for acc in walk(event.source):
                    if acc.name == self.entry:
                        ext = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                        self.phase = "entered"
                        pyatspi.Registry.generateMouseEvent(
                            ext.x + ext.width // 2, ext.y + ext.height // 2, pyatspi.MOUSE_B1C)
            elif role == "dialog" and event.source.name.startswith("VornTerm"):
                self.window_shown = True
        except Exception:
            pass

    def run(self):
        pyatspi.Registry.registerEventListener(self.on_showing, "object:state-changed:showing")
        pyatspi.Registry.registerEventListener(self.on_changed,
                                               "object:property-change:accessible-name",
                                               "object:property-change:accessible-description")
        GLib.timeout_add(POLL_MS, self.poll)
        GLib.timeout_add_seconds(TIMEOUT_S, lambda: self.finish(self.result + "; saw " + self.seen))
        pyatspi.Registry.start()
        return self.result


def main(argv):
    steps = ("log-on", "menu", "received", "box", "send-bytes", "find")
    if len(argv) not in (2, 3) or argv[1] not in steps:
        print(__doc__, file=sys.stderr)
        return 2
    arg = argv[2] if len(argv) == 3 else None
    count = int(arg) if argv[1] == "received" else 0
    result = Driver(int(argv[0]), argv[1], count, arg).run()
    print(result, flush=True)
    return 1 if result.startswith("FAIL") else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
