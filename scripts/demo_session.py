#!/usr/bin/env python3
"""One host session against two simulated controllers, printed as a readable transcript.

Started by scripts/demo with the built programs: the controller simulator (ctrlsim) plays two
controllers on 127.0.0.2 and 127.0.0.3, the host program (eqhost) creates the driver by its ProgID
and sends one JSON request per line. Every request, answer and host callback is printed; the
session fails (exit status 1) when any step does not answer as expected.
"""
import argparse
import datetime
import json
import queue
import subprocess
import sys
import threading
import time

PROGID = "TavoEq.MorvikRK4400IP"
CONTROLLERS = [("1", "Главный вход", "127.0.0.2"), ("2", "Склад", "127.0.0.3")]


def log(prefix, text):
    print(f"{prefix} {text}", flush=True)


class Process:
    """A child that takes JSON lines on stdin and prints JSON lines, read by a thread."""

    def __init__(self, name, argv):
        self.name = name
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, encoding="utf-8", bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            line = line.strip()
            if line:
                self.lines.put(json.loads(line))
        self.lines.put(None)

    def send(self, request):
        self.proc.stdin.write(json.dumps(request, ensure_ascii=False) + "\n")
        self.proc.stdin.flush()

    def close(self, timeout=30):
        self.proc.stdin.close()
        return self.proc.wait(timeout=timeout)


class Session:
    def __init__(self, eqhost, ctrlsim):
        self.host = eqhost
        self.sim = ctrlsim
        self.failures = 0
        self.events = []

    def take(self, timeout=60):
        """The next line of eqhost; callbacks are printed and collected on the way."""
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise RuntimeError("eqhost did not answer in time")
            line = self.host.lines.get(timeout=remaining)
            if line is None:
                raise RuntimeError("eqhost ended unexpectedly")
            if "event" in line:
                self.events.append(line)
                args = line["args"]
                log("  <= host callback", f"{line['event']}({', '.join(json.dumps(a, ensure_ascii=False) for a in args)})")
                continue
            return line

    def step(self, title, request, check=None):
        log("\n->", title)
        log("   request", json.dumps(request, ensure_ascii=False))
        self.host.send(request)
        answer = self.take()
        ok = "hresult" not in answer and "error" not in answer
        if ok and "out" in answer:
            ok = answer.get("result") is True
        if ok and check is not None:
            ok = check(answer)
        log("   answer ", json.dumps(answer, ensure_ascii=False))
        log("  ", "ok" if ok else "FAILED")
        if not ok:
            self.failures += 1
        return answer

    def call(self, title, name, data=None, check=None):
        return self.step(title, {"call": name, "in": data, "timeout": 3000}, check)

    def pump(self, title, milliseconds):
        return self.step(title, {"pump": milliseconds})

    def simulate(self, request):
        log("   simulator", json.dumps(request, ensure_ascii=False))
        self.sim.send(request)

    def sim_settled(self, controller, timeout=10):
        """Waits until the simulator has applied every request sent so far (it answers in order)."""
        self.sim.send({"cmd": "stats", "controller": controller})
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self.sim.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            if line is None:
                raise RuntimeError("ctrlsim ended unexpectedly")
            if line.get("type") == "stats":
                return
        raise RuntimeError("ctrlsim did not answer in time")


def controllers_xml():
    items = "".join(
        f"<controller><id>{i}</id><name>{n}</name><ipaddr>{ip}</ipaddr>"
        f"<entrancecontrol>true</entrancecontrol><exitcontrol>true</exitcontrol></controller>"
        for i, n, ip in CONTROLLERS)
    return f'<?xml version="1.0" encoding="windows-1251"?><controllers>{items}</controllers>'


def table(fields):
    n = len(fields[0]) if fields else 0
    return {"dims": [[0, len(fields) - 1], [0, n - 1]], "rows": fields}


def day_time(text):
    return {"date": "1899-12-30T" + text + ":00"}


def run(args):
    sim = Process("ctrlsim", [args.ctrlsim] + [ip for _, _, ip in CONTROLLERS])
    host = Process("eqhost", [args.eqhost, "run", PROGID, "--devices-folder", args.devices,
                              "--language", "ru"])
    s = Session(host, sim)
    ready = s.take()
    log("eqhost:", json.dumps(ready))
    if ready != {"ready": True}:
        raise RuntimeError("the driver object was not created")

    ids = [i for i, _, _ in CONTROLLERS]
    s.step("Init: hand the driver the host's callback object", {"call": "Init", "args": [{"host": True}, ""]},
           lambda a: a["result"] is True)
    s.step("Open the device \"demo\"", {"call": "Open", "args": ["demo", ""]}, lambda a: a["result"] is True)
    s.call("GetDeviceInfo", "GetDeviceInfo")
    s.call("SetSettings: the controller list", "SetSettings",
           [table([["ControllersList"], [controllers_xml()]])])
    s.call("Enable: open the link, wait for both controllers to announce themselves", "Enable")
    s.call("GetControllers", "GetControllers",
           check=lambda a: a["out"][0]["rows"][0] == ids)

    profile = [1, True, True, True, True, True, False, False,
               day_time("08:00"), day_time("12:00"), day_time("13:00"), day_time("18:00")]
    s.call("UploadTimeProfiles: profile 1, Monday to Friday", "UploadTimeProfiles",
           [0, ids, table([[v] for v in profile])])
    year = datetime.date.today().year
    s.call("UploadHolidays: two dates", "UploadHolidays",
           [0, ids, [{"date": f"{year}-01-01T00:00:00"}, {"date": f"{year}-05-09T00:00:00"}]])
    cards = ["0012AB34", "00C0FFEE", "7b"]
    profiles = {"dims": [[0, 0], [0, 1]], "rows": [[1, 0]]}
    s.call("UploadCards: three cards with time profile 1", "UploadCards",
           [0, ids, table([cards, [profiles] * 3, [None] * 3, [True] * 3])])
    s.call("DeleteCards: one of them again", "DeleteCards", [ids, ["7B"]])
    s.call("SetMode: mode 1 on both controllers", "SetMode", [ids, 1])
    now = datetime.datetime.now().replace(microsecond=0)
    s.call("SetDateTime: the PC's clock", "SetDateTime", [ids, {"date": now.isoformat()}])

    s.simulate({"cmd": "status", "controller": "127.0.0.2", "value": 0x100C})
    s.simulate({"cmd": "status", "controller": "127.0.0.3", "value": 0x2000})
    s.sim_settled("127.0.0.3")
    s.call("GetStatus", "GetStatus", [ids + ["9"]],
           check=lambda a: a["out"][0]["rows"][2] == [True, False, None])

    today = datetime.datetime.now()
    stamp = {"month": today.month, "day": today.day, "hour": today.hour, "minute": today.minute, "second": 0}
    log("\n->", "Controllers report events (pushed to the host as they arrive)")
    s.simulate({"cmd": "event", "controller": "127.0.0.2", "code": 0x40, "card": "0012AB34", **stamp})
    s.simulate({"cmd": "event", "controller": "127.0.0.3", "code": 0x22, "card": "DEADBEEF", **stamp})
    s.simulate({"cmd": "event", "controller": "127.0.0.2", "code": 0x41, "card": "00C0FFEE", **stamp})
    s.simulate({"cmd": "event", "controller": "127.0.0.3", "code": 0x2B, **stamp})
    deadline = time.monotonic() + 10
    while len(s.events) < 4 and time.monotonic() < deadline:
        s.pump("pump the host's messages for 300 ms", 300)
    if len(s.events) < 4:
        log("  ", f"FAILED: {len(s.events)} of 4 events arrived")
        s.failures += 1

    start = {"date": today.strftime("%Y-%m-%dT00:00:00")}
    end = {"date": today.strftime("%Y-%m-%dT23:59:59")}
    s.call("GetEvents: today's events of both controllers from the journal", "GetEvents", [[], start, end],
           check=lambda a: len(a["out"][0]["rows"][0]) == 4)
    s.call("GetEvents: controller 2 only", "GetEvents", [["2"], start, end],
           check=lambda a: a["out"][0]["rows"][0] == ["2", "2"])
    s.call("DeleteEvents: today's events", "DeleteEvents", [[], start, end])
    s.call("GetEvents: nothing left", "GetEvents", [[], start, end],
           check=lambda a: a["out"][0]["dims"][1] == [0, -1])
    s.call("Disable: goodbye to both controllers, close the link", "Disable")
    s.step("Close", {"call": "Close", "args": []})

    status = host.close()
    log("\neqhost ended with", str(status))
    sim.send({"cmd": "quit"})
    sim.close()
    if status != 0:
        s.failures += 1
    log("\n==", "demo passed" if s.failures == 0 else f"demo FAILED: {s.failures} step(s)")
    return 0 if s.failures == 0 else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--eqhost", required=True)
    parser.add_argument("--ctrlsim", required=True)
    parser.add_argument("--devices", required=True)
    sys.exit(run(parser.parse_args()))


if __name__ == "__main__":
    main()
