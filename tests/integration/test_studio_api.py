"""songtool studio's JSON API: the same findings, timeline, sounds, roll and
renders as the command line; refusals with a JSON reason that never stop
the server; the token and the Host and Origin checks; parallel renders and
clients that go away; saves that notice a file changed on disk."""
import concurrent.futures
import json
import os
import signal
import socket
import subprocess
import time
import unittest

from harness import HOLD, SONGTOOL, Scratch
from studio_server import Studio

HERE = os.path.dirname(os.path.abspath(__file__))
# Four bars of a tune over a bass and drums, then the hold.
SONG = ("channel 0 lead\n  t43 o4 v8 l8 [ c e g >c< g e c e | ]4 " + HOLD + "\n"
        "channel 1 bass\n  o2 v10 l2 [ c g | ]4 " + HOLD + "\n" +
        "".join(f"channel {k}\n  {HOLD}\n" for k in range(2, 7)) +
        "channel 7 drums\n  o3 v8 [ c8 f+8 d8 f+8 c8 f+8 d8 f+8 | ]4 " + HOLD + "\n")
MISTAKE = SONG.replace("[ c g | ]4", "[ c q | ]4")  # line 4, column 17


def error_of(body):
    return json.loads(body)["error"]


class StudioApiTest(unittest.TestCase):
    def setUp(self):
        self.studio = Studio(text=SONG)

    def tearDown(self):
        status, said = self.studio.stop()
        self.assertEqual((status, said), (0, "studio: stopped\n"))

    def tool(self, *args):
        return subprocess.run([SONGTOOL, *args], cwd=self.studio.scratch.dir, capture_output=True, timeout=1800)

    def test_answers_as_the_command_line_does(self):
        self.studio.scratch.write("mistake.txt", MISTAKE)
        for text, song in ((MISTAKE, "mistake.txt"), (SONG, "song.txt")):
            status, _, body = self.studio.post("/api/check", {"text": text})
            expected = json.loads(self.tool("check", song, "--json").stdout)
            for finding in expected:
                finding["file"] = "song.txt"  # the studio names its own SONG
            self.assertEqual((status, json.loads(body)), (200, expected))
        status, _, body = self.studio.post("/api/check", {"text": MISTAKE})
        self.assertEqual([(f["line"], f["column"], f["severity"]) for f in json.loads(body)][0], (4, 17, "error"))
        for path, args in (("/api/timeline", ("info", "song.txt", "--json")),
                           ("/api/sounds", ("sounds", "song.txt", "--json"))):
            status, _, body = self.studio.post(path)  # no text: the song on disk
            self.assertEqual((status, json.loads(body)), (200, json.loads(self.tool(*args).stdout)), path)
        status, headers, body = self.studio.post("/api/roll", {"text": SONG})
        self.tool("roll", "song.txt", "-o", "roll.svg")
        self.assertEqual((status, headers["Content-Type"]), (200, "image/svg+xml; charset=utf-8"))
        self.assertEqual(body, self.studio.scratch.read("roll.svg"))
        self.assertIn(b'class="note" data-source="2:18"', body)  # the first c of the lead

    def test_refusals_say_why_in_json_and_the_server_goes_on(self):
        cases = [
            ("POST", "/api/check", b"{\"text\": ", 400, "the body is not a JSON object of plain values: "
                                                      "a value missing at byte 9"),
            ("POST", "/api/check", b"{\"text\": {\"a\": 1}}", 400, "the body is not a JSON object of plain values: "
             "a nested object or list (members are strings, numbers, true, false or null) at byte 9"),
            ("POST", "/api/check", b"{\"text\": true}", 400, "'text' must be a string"),
            ("POST", "/api/render", json.dumps({"from": "900"}).encode(), 400,
             "--from: bar 900 is beyond the render, which ends in bar "),
            ("POST", "/api/render", json.dumps({"from": "3", "to": "end"}).encode(), 400,
             "--to: end is not served here: leave out 'to' for the render's end"),
            ("POST", "/api/render", json.dumps({"solo": "3", "mute": "3"}).encode(), 400,
             "channel 3 is both soloed and muted"),
            ("POST", "/api/save", b"{}", 400, "'text' is missing"),
            ("POST", "/api/check", b"{\"text\": \"" + b"x" * (1 << 20) + b"\"}", 413,
             "the request is too large (a body holds at most 1 MiB of JSON)"),
            ("GET", "/../../etc/passwd", None, 404, "no such page or API"),
            ("GET", "/%2e%2e/%2e%2e/etc/passwd", None, 404, "no such page or API"),
            ("GET", "/studio.js/../../../etc/passwd", None, 404, "no such page or API"),
            ("GET", "/api/render", None, 404, "no such page or API"),
        ]
        for method, path, body, status, message in cases:
            got, headers, answer = self.studio.request(method, path, body)
            self.assertEqual((got, headers.get("Content-Type")), (status, "application/json; charset=utf-8"), path)
            self.assertTrue(error_of(answer).startswith(message), error_of(answer))
        status, _, body = self.studio.post("/api/render", {"text": MISTAKE})
        self.assertEqual((status, error_of(body), json.loads(body)["findings"][0]["line"]),
                         (422, "the song has errors", 4))
        self.assertEqual(self.studio.request("GET", "/")[0], 200)

    def test_host_and_origin_of_another_site_are_refused(self):
        port = self.studio.port
        for headers in ({"Host": f"evil.example:{port}"}, {"Host": f"127.0.0.1:{port + 1}"},
                        {"Origin": "http://evil.example"}, {"Origin": "null"}, {"Sec-Fetch-Site": "cross-site"}):
            status, _, body = self.studio.post("/api/check", headers=headers)
            self.assertEqual(status, 403, headers)
            self.assertIn("refused" if "Host" not in headers else "its own address", error_of(body))
        for host in (f"127.0.0.1:{port}", f"localhost:{port}"):
            status, _, _ = self.studio.post("/api/check", headers={"Host": host, "Origin": f"http://{host}"})
            self.assertEqual(status, 200, host)

    def test_parallel_renders_are_the_command_lines_bytes_and_clients_may_go(self):
        requests = [{}, {"from": "2", "to": "4", "solo": "1"}, {"from": "2.3", "to": "3", "mute": "0,7"}]
        for _ in range(3):  # clients that ask for a render and go away at once
            with socket.create_connection(("127.0.0.1", self.studio.port)) as gone:
                body = json.dumps({"text": SONG, "from": "3", "to": "4", "solo": "0"}).encode()
                gone.sendall(b"POST /api/render HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/json\r\n"
                             b"Content-Length: %d\r\n\r\n%s" % (self.studio.port, len(body), body))
        with socket.create_connection(("127.0.0.1", self.studio.port)) as garbage:
            garbage.sendall(b"\x00\xffGARBAGE / HTTP/9\r\n\r\n")
            self.assertIn(b"400", garbage.recv(4096))
        with concurrent.futures.ThreadPoolExecutor(10) as pool:
            answers = list(pool.map(lambda k: self.studio.post("/api/render", requests[k % 3]), range(10)))
        for k, (status, headers, body) in enumerate(answers):
            first, end = map(int, headers["X-Span-Frames"].split("-"))
            self.assertEqual((status, headers["Content-Type"], len(body)), (200, "audio/wav", 44 + 4 * (end - first)))
            self.assertTrue(body == answers[k % 3][2], f"render {k} differs from render {k % 3}")
        # ThreadSanitizer mixes some ten times slower than the other builds:
        # there the renders are checked against each other only.
        if "TSAN_OPTIONS" in os.environ:
            return
        for k, r in enumerate(requests):
            args = [("--" + name, value) for name, value in r.items()]
            self.tool("render", "song.txt", "-o", f"cli-{k}.wav", *[a for pair in args for a in pair])
            self.assertTrue(answers[k][2] == self.studio.scratch.read(f"cli-{k}.wav"),
                            f"render {k} differs from the command line's")

    def test_a_sound_streams_from_its_address_in_ranges_until_newer_ones_replace_it(self):
        request = {"text": SONG, "from": "2", "to": "4", "solo": "1"}
        _, headers, whole = self.studio.post("/api/render", request)
        status, _, body = self.studio.post("/api/sound", request)
        sound = json.loads(body)
        self.assertEqual((status, f"{sound['first']}-{sound['end']}"), (200, headers["X-Span-Frames"]))
        self.assertRegex(sound["wave"], r"^/api/wave/[0-9]+$")
        status, headers, streamed = self.studio.request("GET", sound["wave"])
        self.assertEqual((status, headers["Accept-Ranges"]), (200, "bytes"))
        self.assertTrue(streamed == whole, "the streamed sound differs from the render")
        # A player asks for pieces: each answer holds that range and not a
        # byte more, which on a kept-alive connection would begin the next.
        for path, body in ((sound["wave"], b""), ("/api/render", json.dumps(request).encode())):
            for first, last in ((0, 43), (40, 99), (len(whole) - 5, len(whole) - 1)):
                with socket.create_connection(("127.0.0.1", self.studio.port)) as c:
                    c.sendall(f"{'POST' if body else 'GET'} {path} HTTP/1.1\r\nHost: 127.0.0.1:{self.studio.port}\r\n"
                              f"Range: bytes={first}-{last}\r\nConnection: close\r\n"
                              f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
                    answer = b"".join(iter(lambda: c.recv(1 << 16), b""))
                head, _, part = answer.partition(b"\r\n\r\n")
                self.assertIn(f"Content-Range: bytes {first}-{last}/{len(whole)}".encode(), head)
                self.assertTrue(head.startswith(b"HTTP/1.1 206 ") and part == whole[first:last + 1],
                                f"{path} bytes {first}-{last}: {head[:12]!r}, {len(part)} bytes")
        # A range beyond the sound is refused, never answered with memory past it.
        for first, last in ((len(whole), len(whole) + 10), (len(whole) - 5, len(whole) + 100)):
            status, headers, body = self.studio.request("GET", sound["wave"], headers={"Range": f"bytes={first}-{last}"})
            self.assertEqual((status, headers.get("Content-Range"), error_of(body)),
                             (416, f"bytes */{len(whole)}", f"the range lies beyond the sound's {len(whole)} bytes"))
        status, _, body = self.studio.request("GET", sound["wave"], headers={"Range": "bytes=50-40"})
        self.assertEqual((status, error_of(body)), (416, "a malformed range"))
        # The studio keeps three sounds: beside a new one, those fetched last
        # (those never fetched, the page's dropped ones, go first), but always
        # the one the asker names as playing.
        def new_sound(**more):
            return json.loads(self.studio.post("/api/sound", {"text": SONG, **more})[2])["wave"]

        def fetched(*waves):
            return [self.studio.request("GET", w)[0] for w in waves]

        dropped = new_sound()
        third = new_sound(**{"from": "3"})
        fourth = new_sound(**{"from": "4"})
        status, _, body = self.studio.request("GET", dropped)
        self.assertEqual((status, error_of(body)),
                         (404, "no such sound: the studio keeps the last 3 it made; ask /api/sound for it again"))
        self.assertEqual(fetched(third, fourth), [200, 200])
        new_sound(playing=sound["wave"])
        self.assertEqual(fetched(third, sound["wave"], fourth), [404, 200, 200])
        # A player done with its sound lets it go.
        self.assertEqual([self.studio.request("DELETE", fourth)[0] for _ in range(2)], [200, 404])
        self.assertEqual(fetched(fourth, sound["wave"]), [404, 200])
        status, _, body = self.studio.post("/api/sound", {"text": SONG, "playing": "/api/wave/x"})
        self.assertEqual((status, error_of(body)), (400, "'playing' must be the address of a sound the studio gave"))
        status, _, body = self.studio.post("/api/sound", {"text": MISTAKE})
        self.assertEqual((status, error_of(body)), (422, "the song has errors"))
        status, _, body = self.studio.request("GET", "/api/wave/9999999999999999999")
        self.assertEqual((status, error_of(body)[:14]), (404, "no such sound:"))

    def test_a_newer_text_leaves_the_pages_sound_unmade_but_not_a_render(self):
        for path, variant, expected in (("/api/sound", "", 409), ("/api/render", "; again\n", 200)):
            with concurrent.futures.ThreadPoolExecutor(1) as pool:
                asked = pool.submit(self.studio.post, path, {"text": SONG + variant, "from": "2"})
                while not asked.done():  # another text while the mix is under way, whenever it starts
                    self.assertEqual(self.studio.post("/api/check", {"text": MISTAKE})[0], 200)
                    time.sleep(0.01)
                status, _, body = asked.result()
            self.assertEqual(status, expected, path)
            if status == 409:
                self.assertEqual(error_of(body), "a newer text replaced this one before its sound was made")

    def test_save_is_refused_when_the_file_changed_on_disk(self):
        status, _, body = self.studio.request("GET", "/api/load")
        loaded = json.loads(body)
        self.assertEqual((status, loaded["path"], loaded["text"]), (200, "song.txt", SONG))
        self.studio.scratch.write("song.txt", SONG + "; changed by another editor\n")
        status, _, body = self.studio.post("/api/save", {"text": MISTAKE, "stamp": loaded["stamp"]})
        self.assertEqual((status, error_of(body)), (409, "song.txt changed on disk since it was loaded"))
        self.assertEqual(self.studio.scratch.read("song.txt").decode(), SONG + "; changed by another editor\n")
        status, _, body = self.studio.post("/api/save", {"text": MISTAKE, "stamp": loaded["stamp"], "force": True})
        self.assertEqual(status, 200)
        self.assertEqual(self.studio.scratch.read("song.txt").decode(), MISTAKE)
        status, _, _ = self.studio.post("/api/save", {"text": SONG, "stamp": json.loads(body)["stamp"]})
        self.assertEqual((status, self.studio.scratch.read("song.txt").decode()), (200, SONG))


class StudioCommandTest(unittest.TestCase):
    def test_beyond_loopback_every_api_request_needs_the_token(self):
        studio = Studio(text=SONG, args=("--listen", "0.0.0.0"))
        try:
            self.assertRegex(studio.token or "", r"^[0-9a-f]{32}$")
            right = studio.token
            for token in (None, "", right[:-1], right[:-1] + ("0" if right[-1] != "0" else "1"), right + "0"):
                studio.token = token
                status, _, body = studio.post("/api/check")
                self.assertEqual((status, error_of(body)),
                                 (401, "a missing or wrong token: use the address the studio printed"), token)
            studio.token = None
            self.assertEqual(studio.request("GET", "/")[0], 200)  # the page itself holds nothing
            self.assertEqual(studio.post(f"/api/check?token={right}")[0], 200)
            # A player streams a sound by its address alone: the token rides in it.
            wave = json.loads(studio.post(f"/api/sound?token={right}", {"from": "4"})[2])["wave"]
            self.assertEqual(studio.request("GET", wave)[0], 401)
            self.assertEqual(studio.request("GET", f"{wave}?token={right}")[0], 200)
            studio.token = right
            self.assertEqual(studio.post("/api/check")[0], 200)
            status, _, _ = studio.post("/api/check", headers={"Host": f"rebound.example:{studio.port}"})
            self.assertEqual(status, 403)
        finally:
            self.assertEqual(studio.stop(signal.SIGTERM), (0, "studio: stopped\n"))

    def test_a_missing_song_starts_from_a_valid_one(self):
        studio = Studio(song="new.txt")
        try:
            checked = subprocess.run([SONGTOOL, "check", "new.txt"], cwd=studio.scratch.dir, capture_output=True,
                                     text=True)
            self.assertEqual((checked.returncode, checked.stderr), (0, ""))
        finally:
            studio.stop()

    def test_usage_errors(self):
        s = Scratch()
        try:
            s.write("block.bin", b"\x00\x70\x00")
            for args, message in (((), "songtool: studio: no SONG given\n"),
                                  (("a.txt", "--port", "65536"), "songtool: studio: --port: '65536' is not a port from 0 to 65535\n"),
                                  (("a.txt", "--port"), "songtool: studio: --port needs a value\n"),
                                  (("a.txt", "--listen", "::1", "--listen", "::1"), "songtool: studio: --listen given twice\n"),
                                  (("a.txt", "b.txt"), "songtool: studio: unexpected 'b.txt'\n"),
                                  (("block.bin",), "songtool: studio: block.bin is an assembled block; the studio edits notation\n")):
                r = s.tool("studio", *args)
                self.assertEqual(r.returncode, 2, args)
                self.assertTrue(r.stderr.startswith(message), r.stderr)
            os.mkdir(s.path("folder.txt"))
            r = s.tool("studio", "folder.txt")
            self.assertEqual((r.returncode, r.stderr), (1, "songtool: cannot read folder.txt: Is a directory\n"))
            r = s.tool("studio", "--help")
            self.assertEqual((r.returncode, r.stdout.splitlines()[0]),
                             (0, "usage: songtool studio SONG [--port N] [--listen ADDRESS]"))
        finally:
            s.cleanup()


if __name__ == "__main__":
    unittest.main()
