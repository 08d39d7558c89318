"""songtool studio run as a server in a scratch folder, and requests to it."""
import http.client
import json
import os
import re
import signal
import subprocess

from harness import SONGTOOL, Scratch

TSAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tsan-httplib.supp")


def server_environment():
    """The tests' environment; under ThreadSanitizer, with cpp-httplib's own accesses left out."""
    env = dict(os.environ)
    env["TSAN_OPTIONS"] = (env.get("TSAN_OPTIONS", "") + f" suppressions={TSAN_SUPPRESSIONS}").strip()
    return env


class Studio:
    """`songtool studio SONG --port 0 [ARGS]` in a scratch folder, serving until stop()."""

    def __init__(self, song="song.txt", text=None, args=()):
        self.scratch = Scratch()
        self.song = self.scratch.path(song)
        if text is not None:
            self.scratch.write(song, text)
        self.process = subprocess.Popen([SONGTOOL, "studio", song, "--port", "0", *args], cwd=self.scratch.dir,
                                        stderr=subprocess.PIPE, text=True, env=server_environment())
        line = self.process.stderr.readline()
        found = re.fullmatch(r"studio: (http://(\S+?):(\d+)/(?:\?token=([0-9a-f]+))?)\n", line)
        if not found:
            self.process.kill()
            raise AssertionError(f"no address from the studio: {line!r}")
        self.address, self.port, self.token = found[1], int(found[3]), found[4]
        self.url = self.address.replace(found[2], "127.0.0.1") if found[2] == "0.0.0.0" else self.address

    def request(self, method, path, body=None, headers=None, timeout=600):
        """(status, headers, body bytes); a dict body goes as JSON."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        if isinstance(body, dict):
            body = json.dumps(body).encode()
        sent = {"Content-Type": "application/json"} if body is not None else {}
        if self.token:
            sent["X-Studio-Token"] = self.token
        sent.update(headers or {})
        try:
            connection.request(method, path, body=body, headers=sent)
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def post(self, path, body=None, **kwargs):
        return self.request("POST", path, {} if body is None else body, **kwargs)

    def stop(self, sig=signal.SIGINT):
        """Sends the signal and returns the exit status and what stderr said after the address."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            said = self.process.stderr.read()
            return self.process.wait(timeout=60), said
        finally:
            self.process.stderr.close()
            self.scratch.cleanup()
