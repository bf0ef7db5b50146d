#!/usr/bin/env python3
"""Idlix fed hostile files: how long its window takes to answer, how much
memory it takes, and how it ends on SIGTERM, for one or more builds of the
program side by side (for example the build before and after a change).

    bench/hostile_bench.py [--window S] [--cap S] PROGRAM [PROGRAM ...]

Each case starts the program (offscreen platform, a scratch IDLIX_DIR and
XDG_RUNTIME_DIR, in a network namespace of its own when run as root, so no
lookup leaves the machine) with the files of the case, and asks its window to
come to the front through the single-instance socket every 100 ms for S
seconds: the longest wait for an answer is what a user clicking the window
would wait. Then VmHWM (peak resident memory) is read, SIGTERM sent, and the
time to the program's end measured. A wait longer than --cap is cut off and
shown as ">cap".
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

TITLE = "Idlix v2.0"


def ini(**sections):
    out = []
    for name, keys in sections.items():
        out.append("[%s]" % name.replace("_", " "))
        out += ["%s=%s" % (k.replace("_", " "), v) for k, v in keys.items()]
    return ("\r\n".join(out) + "\r\n").encode()


# Starts a cycling echo session at once: the simulated line is already up.
CYCLE_AT_START = {
    "idlix2.ini": ini(**{"Anti-Idle_Options": {"Method": 1, "Options": "0"},
                         "Dial-Up_Options": {"Connection": 0, "Connect_On_Start": 1, "Start_AI": 1}}),
    "book.ini": b"[Line]\r\nDialResult=602\r\n",
}


def long_line(n):
    return dict(CYCLE_AT_START, **{"Servers.dat": b"a" * n + b"\r\n"})


def big_book():
    # About 130,000 sections in 1 MiB, the first one dialed at start.
    names = b"".join(b"[%x]\n" % (0x10000 + i) for i in range(130000))
    assert len(names) <= 1024 * 1024
    return {"book.ini": names,
            "idlix2.ini": ini(**{"Dial-Up_Options": {"Connection": 0, "Connect_On_Start": 1}})}


MARKUP = {
    "Servers.dat": b"<b>srv</b>\r\n<h1>big</h1>\r\n",
    "idlix2.ini": ini(**{"Anti-Idle_Options": {"Host": "<b>typed</b>"}}),
    "book.ini": b"[<b>Demo</b>]\r\nStepMs=100\r\n",
}

CASES = [
    ("Servers.dat one line of 0.1 MB, cycling session", long_line(100_000)),
    ("Servers.dat one line of 1 MB, cycling session", long_line(1_000_000)),
    ("Servers.dat one line of 20 MB, cycling session", long_line(20_000_000)),
    ("phone book 1 MiB, 130,000 sections, connect at start", big_book()),
    ("markup in host, Servers.dat and entry name", MARKUP),
    ("idlix2.ini with a line of 10 MiB", {"idlix2.ini": b"[General]\r\n" + b"j" * (10 << 20) + b"\r\n"}),
    ("idlix2.ini of 1 MiB of junk lines", {"idlix2.ini": b"".join(
        b"[S%d]\r\nkey%d=%s\r\n" % (i, i, b"v" * 80) for i in range(10000))[:1 << 20]}),
    ("idlix2.ini is a FIFO", {"idlix2.ini": "fifo"}),
    ("Servers.dat is a FIFO", {"Servers.dat": "fifo"}),
    ("phone book is a FIFO", {"book.ini": "fifo"}),
    ("idlix2.ini is a symbolic link", {"idlix2.ini": "link"}),
    ("read-only data folder", {"readonly": True}),
]


def prepare(root, files):
    data = os.path.join(root, "data")
    os.makedirs(data)
    run = os.path.join(root, "run")
    os.makedirs(run, mode=0o700)
    for name, content in files.items():
        path = os.path.join(data, name)
        if name == "readonly":
            continue
        if content == "fifo":
            os.mkfifo(path)
        elif content == "link":
            os.makedirs(os.path.join(root, "dotfiles"))
            target = os.path.join(root, "dotfiles", name)
            with open(target, "wb") as f:
                f.write(ini(**{"Anti-Idle_Options": {"Host": "dotfiles.example"}}))
            os.symlink("../dotfiles/" + name, path)
        else:
            with open(path, "wb") as f:
                f.write(content)
    return data, run


def mount_readonly(data):
    if os.geteuid() == 0:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", data], check=True)
        subprocess.run(["mount", "-o", "remount,ro", data], check=True)
        return True
    os.chmod(data, 0o555)
    return False


class Prober(threading.Thread):
    """Asks the window to the front over and over; keeps the longest wait."""

    def __init__(self, sock_path, seconds, cap):
        super().__init__(daemon=True)
        self.sock_path, self.seconds, self.cap = sock_path, seconds, cap
        self.longest = 0.0
        self.cut_off = False
        self.answers = 0

    def run(self):
        start = time.monotonic()
        while not os.path.exists(self.sock_path):
            if time.monotonic() - start > self.cap:
                self.cut_off = True
                return
            time.sleep(0.02)
        while time.monotonic() - start < self.seconds:
            t0 = time.monotonic()
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.settimeout(self.cap)
                s.connect(self.sock_path)
                s.sendall(b"activate\n")
                while s.recv(64):
                    pass
                s.close()
            except socket.timeout:
                self.longest = max(self.longest, time.monotonic() - t0)
                self.cut_off = True
                return
            except OSError:
                pass
            self.longest = max(self.longest, time.monotonic() - t0)
            self.answers += 1
            time.sleep(0.1)


def peak_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def one_run(program, files, window, cap):
    root = tempfile.mkdtemp(prefix="idlix-hostile-")
    mounted = False
    try:
        data, run = prepare(root, files)
        if files.get("readonly"):
            mounted = mount_readonly(data)
        env = dict(os.environ, IDLIX_DIR=data, XDG_RUNTIME_DIR=run, QT_QPA_PLATFORM="offscreen",
                   IDLIX_PHONEBOOK=os.path.join(data, "book.ini"))
        cmd = [program]
        if os.geteuid() == 0:
            cmd = ["unshare", "--net", "--"] + cmd
        err_path = os.path.join(root, "stderr")
        with open(err_path, "wb") as err:
            proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=err)
        sock = os.path.join(run, "%s-%d.sock" % (TITLE, os.getuid()))
        prober = Prober(sock, window, cap)
        prober.start()
        prober.join(window + cap + 1)
        peak = peak_kib(proc.pid)
        t0 = time.monotonic()
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(cap)
            ended = "%.2f s" % (time.monotonic() - t0)
            if proc.returncode != 0:
                ended += " (status %d)" % proc.returncode
        except subprocess.TimeoutExpired:
            ended = ">%d s" % cap
            proc.kill()
            proc.wait()
        answer = (">%d s" % cap) if prober.cut_off else "%.2f s" % prober.longest
        with open(err_path, "rb") as f:
            lines = [l for l in f.read().decode("utf-8", "replace").splitlines()
                     if l.startswith("idlix:")]
        note = lines[0][len("idlix: "):][:70] if lines else ""
        if files.get("idlix2.ini") == "link":
            link = os.path.join(data, "idlix2.ini")
            kept = os.path.islink(link)
            with open(os.path.join(root, "dotfiles", "idlix2.ini"), "rb") as f:
                saved = b"Stay on Top" in f.read()
            note = "link %s, target %s" % ("kept" if kept else "REPLACED",
                                          "updated" if saved else "not updated")
        return answer, "%d MB" % (peak // 1024), ended, note
    finally:
        if mounted:
            subprocess.run(["umount", "-l", data])
        shutil.rmtree(root, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--window", type=float, default=6, help="seconds of probing per run")
    ap.add_argument("--cap", type=int, default=30, help="longest wait measured, seconds")
    ap.add_argument("--case", action="append", help="only cases whose name contains this")
    ap.add_argument("programs", nargs="+")
    a = ap.parse_args()
    print("window answer = longest wait for the window over %g s from the start; "
          "peak = VmHWM; end = SIGTERM to exit" % a.window)
    for name, files in CASES:
        if a.case and not any(c in name for c in a.case):
            continue
        print("\n" + name)
        for program in a.programs:
            answer, peak, ended, note = one_run(program, files, a.window, a.cap)
            print("  %-40s answer %-8s peak %-8s end %-16s %s"
                  % (program[-40:], answer, peak, ended, note))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
