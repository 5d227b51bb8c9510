"""The real orb, started as a user's session starts it but in a world of its own: a
private working folder (ORB.DAT, ORB.LOG), settings folder and runtime folder, the X11
platform, the language the scenario chooses, and a simulated controller socket that
nobody serves unless the scenario starts `orbctl hid simulate` on it, so that no real
controller on the machine is touched."""

import os
import signal
import subprocess
import tempfile
import time

from . import bus
from .failure import ScenarioFailure

# What LC_ALL is set to for each language. orb reads the first of LC_ALL, LC_MESSAGES and
# LANG that is set: "ja..." is Japanese. The locale need not be installed for that; Qt
# then warns that it falls back to C.UTF-8, which changes nothing orb shows.
LOCALES = {"en": "C", "ja": "ja_JP.UTF-8"}

EXIT_TIMEOUT = 20.0


class Orb:
    """One run of orb. `show_stay` None leaves the settings file out (the notice's
    default, on); 0 or 1 writes it. `env` adds to or overrides the environment; `files`
    are written into its working folder first."""

    def __init__(self, binary, language="en", show_stay=None, args=("/m",), env=None, files=None):
        if not os.access(binary, os.X_OK):
            raise ScenarioFailure(f"no orb program at {binary} (build the target orb)")
        self._folder = tempfile.TemporaryDirectory(prefix="orb-ui-")
        self.home = self._folder.name
        self.work_dir = os.path.join(self.home, "work")
        self.config_dir = os.path.join(self.home, "config")
        self.runtime_dir = os.path.join(self.home, "runtime")
        os.makedirs(self.work_dir)
        os.makedirs(os.path.join(self.config_dir, "TARN"))
        os.makedirs(self.runtime_dir, mode=0o700)
        if show_stay is not None:
            with open(self.settings_file, "w", encoding="ascii") as settings:
                settings.write(f"[General]\nShowStay={int(show_stay)}\n")
        # Files orb finds in its working folder at start ({"ORB.DAT": bytes}).
        for name, data in (files or {}).items():
            with open(os.path.join(self.work_dir, name), "wb") as file:
                file.write(data)
        self.simulator_socket = os.path.join(self.home, "controller.sock")
        environment = bus.environment_for_programs()
        environment.update({
            "LC_ALL": LOCALES[language],
            "QT_QPA_PLATFORM": "xcb",
            "XDG_CONFIG_HOME": self.config_dir,
            "XDG_RUNTIME_DIR": self.runtime_dir,
            "ORB_HID": "sim:" + self.simulator_socket,
            "ORB_KEYS": "record",
        })
        environment.update(env or {})
        self.language = language
        # Read back through a file object of its own: seeking the one orb writes through
        # would move where orb writes next.
        self._stderr_path = os.path.join(self.home, "stderr.txt")
        self._stderr = open(self._stderr_path, "w", encoding="utf-8", errors="replace")
        self.process = subprocess.Popen([binary, *args], cwd=self.work_dir, env=environment,
                                        stdin=subprocess.DEVNULL, stdout=self._stderr, stderr=self._stderr)
        self.pid = self.process.pid

    @property
    def settings_file(self):
        return os.path.join(self.config_dir, "TARN", "ORB.conf")

    @property
    def log_file(self):
        return os.path.join(self.work_dir, "ORB.LOG")

    def log(self):
        try:
            with open(self.log_file, encoding="utf-8", errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def stderr(self):
        with open(self._stderr_path, encoding="utf-8", errors="replace") as stderr:
            return stderr.read()

    def settings(self):
        """The settings file's "key=value" lines as a dict ({} while there is none)."""
        try:
            with open(self.settings_file, encoding="utf-8") as settings:
                return dict(line.strip().split("=", 1) for line in settings if "=" in line)
        except FileNotFoundError:
            return {}

    def running(self):
        return self.process.poll() is None

    def wait_for_log(self, text, timeout=20.0):
        deadline = time.monotonic() + timeout
        while text not in self.log():
            if time.monotonic() >= deadline or not self.running():
                raise ScenarioFailure(f"orb's log never said {text!r}{self._ended()}:\n{self.log()}")
            time.sleep(0.05)

    def _ended(self):
        return "" if self.running() else f" (orb ended with {self.process.returncode})"

    def terminate(self, timeout=EXIT_TIMEOUT):
        """SIGTERM, as a session's end sends it; the exit status."""
        if self.running():
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired as error:
            raise ScenarioFailure(f"orb did not end within {timeout:g} s of SIGTERM:\n{self.log()}") from error

    def close(self):
        """Ends the process if it still runs (only this one, by its pid) and removes its
        folders."""
        if self.running():
            self.process.kill()
            self.process.wait()
        self._stderr.close()
        self._folder.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()
