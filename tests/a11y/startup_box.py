#!/usr/bin/env python3
"""Listens on the accessibility bus the way a screen reader does and starts
VornTerm in a folder whose VornTerm.cfg is damaged. Passes when

1. the box "Error reading configuration file." is announced while it is up:
   an alert of this process reports itself showing and holds that text;
2. after its OK button is pressed, the Terminal window is announced and every
   button, checkbox and text field shown in it has a name.

    startup_box.py PROGRAM FOLDER

Exit 0 on success, 1 with the reason on stderr otherwise. Waits at most
TIMEOUT_S seconds; the program is ended by its pid.
"""

import subprocess
import sys

import pyatspi
from gi.repository import GLib

TIMEOUT_S = 15
BOX_TEXT = "Error reading configuration file."
NAMED_ROLES = {"push button", "check box", "text"}


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


class Check:
    def __init__(self, program, folder):
        self.program, self.folder = program, folder
        self.proc = None
        self.step = "box"
        self.failure = "no alert of the program was announced within %d s" % TIMEOUT_S

    def ours(self, acc):
        try:
            return acc.get_process_id() == self.proc.pid
        except Exception:
            return False

    def on_showing(self, event):
        if not event.detail1 or self.proc is None or not self.ours(event.source):
            return
        role = event.source.getRoleName()
        if self.step == "box" and role == "alert":
            texts = [a.name for a in walk(event.source) if a.getRoleName() == "label"]
            if BOX_TEXT not in texts:
                self.finish("the alert shows %r, not %r" % (texts, BOX_TEXT))
                return
            buttons = [a for a in walk(event.source)
                       if a.getRoleName() == "push button" and a.name == "OK"]
            if not buttons:
                self.finish("the alert has no OK button")
                return
            self.step = "terminal"
            self.failure = "the Terminal window was not announced after OK"
            buttons[0].queryAction().doAction(0)
        elif (self.step == "terminal" and role == "dialog"
              and event.source.name.startswith("VornTerm")):
            # Its caption goes on to say why the port is not open.
            controls = [a for a in walk(event.source) if a.getRoleName() in NAMED_ROLES
                        and a.getState().contains(pyatspi.STATE_SHOWING)]
            unnamed = ["[%s]" % a.getRoleName() for a in controls if not a.name.strip()]
            if len(controls) < 3:
                self.finish("the Terminal window lists only %d controls" % len(controls))
            elif unnamed:
                self.finish("controls without a name: " + ", ".join(unnamed))
            else:
                self.finish(None)

    def start(self):
        self.proc = subprocess.Popen([self.program], cwd=self.folder,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return False

    def finish(self, failure):
        self.failure = failure
        pyatspi.Registry.stop()
        return False

    def run(self):
        pyatspi.Registry.registerEventListener(self.on_showing, "object:state-changed:showing")
        # Start once the listener is known to the registry, as with a screen
        # reader that runs before the program.
        GLib.timeout_add(300, self.start)
        GLib.timeout_add_seconds(TIMEOUT_S, lambda: self.finish(self.failure))
        pyatspi.Registry.start()
        if self.proc is not None:
            self.proc.kill()
            self.proc.wait()
        return self.failure


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    failure = Check(argv[0], argv[1]).run()
    if failure:
        print("startup box: " + failure, file=sys.stderr)
        return 1
    print("startup box: announced with its text; Terminal window controls all named")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
