"""A korva-serve process for the server's tests: started on free ports with the
arguments given, its standard error in a log file, stopped with SIGTERM."""
import re
import signal
import subprocess
import time

WAIT = 300  # seconds: generous bounds for a loaded machine, never a speed claim


class ServerProcess:
    def __init__(self, binary, archive, log_path, *args):
        self.log_path = log_path
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen([binary, "-m", archive, "--port", "0", *args],
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        self.port = self.wyoming_port = None
        wants_wyoming = "--wyoming-port" in args
        deadline = time.time() + WAIT
        while time.time() < deadline and self.process.poll() is None:
            text = self.log_text()
            http = re.search(r"listening on http://127\.0\.0\.1:(\d+)", text)
            wyoming = re.search(r"Wyoming on tcp://127\.0\.0\.1:(\d+)", text)
            if http and (wyoming or not wants_wyoming) and "[serve] ready" in text:
                self.port = int(http.group(1))
                self.wyoming_port = int(wyoming.group(1)) if wyoming else None
                return
            time.sleep(0.05)
        raise RuntimeError("the server did not become ready:\n" + self.log_text()[-2000:])

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def stop(self):
        """Stops the server (SIGTERM) if it still runs; its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=WAIT)
        self.log.close()
        return status
