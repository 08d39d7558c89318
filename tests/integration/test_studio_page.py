"""songtool studio's page in headless Chromium: a mistake is marked at its
line, its fix redraws the roll and the sound, an excerpt played from bar
41 (solo or not) is the command line's render byte for byte, a note clicked
puts the cursor on its source and the cursor lights its notes, and a save
writes the text."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import SANITIZED, SONGTOOL
from studio_server import Studio

try:
    import selenium  # noqa: F401
except ImportError:
    # scripts/setup installs Debian's python3-selenium, which only the
    # system's own python3 sees; a python3 of another install is shown it.
    sys.path.append("/usr/lib/python3/dist-packages")
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

EMBEDDED_SONG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data", "song.txt")
WAIT = 600 if SANITIZED else 60  # seconds for the page to show what it was asked
# Line 35 of the embedded song begins "  g8 o4 d+32. r16": the lead's first note.
NOTE_LINE, NOTE_COLUMN = 35, 3


def browser(user_data):
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--window-size=1600,1000", f"--user-data-dir={user_data}",
                     "--autoplay-policy=no-user-gesture-required", "--mute-audio"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=options)


class StudioPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EMBEDDED_SONG) as f:
            cls.song = f.read()
        cls.studio = Studio(text=cls.song)
        cls.user_data = tempfile.mkdtemp(prefix="studio-chromium-")
        cls.page = browser(cls.user_data)

    @classmethod
    def tearDownClass(cls):
        cls.page.quit()
        shutil.rmtree(cls.user_data, ignore_errors=True)
        status, said = cls.studio.stop()
        assert (status, said) == (0, "studio: stopped\n"), (status, said)

    def setUp(self):
        self.page.get(self.studio.url)
        self.wait_for("the roll", lambda: self.js("return document.querySelectorAll('#roll .note').length") > 0)

    def js(self, script, *args):
        return self.page.execute_script(script, *args)

    def wait_for(self, what, condition):
        try:
            WebDriverWait(self.page, WAIT, poll_frequency=0.05).until(lambda _: condition())
        except Exception:
            self.fail(f"the page never showed {what}; status: {self.status()}; playing: "
                      f"{self.js('return [position.textContent, player.paused, player.currentTime, player.error]')}")

    def type_at(self, line, column, remove, insert):
        """Replaces `remove` characters at line:column with `insert`, as typing would."""
        self.js("""const [line, column, remove, insert] = arguments;
                   const starts = [0, ...[...text.value].flatMap((c, i) => c === '\\n' ? [i + 1] : [])];
                   const at = starts[line - 1] + column - 1;
                   text.focus();
                   text.setSelectionRange(at, at + remove);
                   document.execCommand('insertText', false, insert);""", line, column, remove, insert)

    def status(self):
        return self.js("return document.getElementById('status').textContent")

    def note_y(self, source):
        return self.js(f"return document.querySelector('#roll [data-source=\"{source}\"]').getBBox().y")

    def played_wave(self):
        """The WAV the player holds: its length and SHA-256, as the page fetched it."""
        return self.page.execute_async_script("""const done = arguments[arguments.length - 1];
            fetch(player.src).then((r) => r.arrayBuffer()).then(async (b) => {
              const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', b));
              done([b.byteLength, [...digest].map((x) => x.toString(16).padStart(2, '0')).join('')]);
            });""")

    def cli_wave(self, *args):
        out = os.path.join(self.studio.scratch.dir, "cli.wav")
        subprocess.run([SONGTOOL, "render", self.studio.song, "-o", out, *args], check=True, timeout=1800)
        with open(out, "rb") as f:
            data = f.read()
        return [len(data), hashlib.sha256(data).hexdigest()]

    def play_and_wait(self, button="play-bar"):
        old = self.js("return player.src")
        self.page.find_element(By.ID, button).click()
        self.wait_for("a new sound", lambda: self.js("return player.src") != old and
                      self.js("return player.readyState") >= 1)

    def test_a_mistake_is_marked_at_its_line_and_its_fix_redraws_roll_and_sound(self):
        source = f"{NOTE_LINE}:{NOTE_COLUMN}"
        before = self.note_y(source)
        self.page.find_element(By.ID, "from-bar").clear()
        self.page.find_element(By.ID, "from-bar").send_keys("1")
        self.play_and_wait()
        self.type_at(NOTE_LINE, NOTE_COLUMN, 1, "q")
        self.wait_for("the mistake", lambda: self.js("return findings.querySelectorAll('li.error').length") > 0)
        mark = self.js("const m = backdrop.querySelector('mark.error'); return [m.dataset.line, m.dataset.column]")
        self.assertEqual(mark, [str(NOTE_LINE), str(NOTE_COLUMN)])
        self.assertTrue(self.js("return findings.querySelector('li.error').textContent")
                        .startswith(f"{NOTE_LINE}:{NOTE_COLUMN}: error: "))
        self.js("findings.querySelector('li.error').click()")
        self.assertEqual(self.js("return text.selectionStart"), self.js(
            "return text.value.split('\\n').slice(0, arguments[0] - 1).join('\\n').length + arguments[1]",
            NOTE_LINE, NOTE_COLUMN))
        self.type_at(NOTE_LINE, NOTE_COLUMN, 1, "a")  # g8 becomes a8: two semitones up
        self.wait_for("the fixed roll", lambda: self.js("return findings.querySelectorAll('li').length") == 0 and
                      not self.js("return roll.classList.contains('stale')") and self.note_y(source) != before)
        self.assertAlmostEqual(self.note_y(source), before - 2 * 5, places=3)  # five pixels per semitone
        self.wait_for("the new sound", lambda: "after the last key" in self.status())
        seconds = float(self.status().split()[4])
        print(f"\nnew roll and sound {seconds:.2f} s after the last key", file=sys.stderr)
        if os.environ.get("STUDIO_SCREENSHOT"):  # for the README
            self.page.save_screenshot(os.environ["STUDIO_SCREENSHOT"])
        # Under a second on an idle two-core machine; the bound leaves room
        # for the tests that ctest runs beside this one.
        if not SANITIZED:
            self.assertLess(seconds, 3.0)
        self.type_at(NOTE_LINE, NOTE_COLUMN, 1, "g")

    def test_bar_41_plays_the_command_lines_excerpt_alone_or_soloed(self):
        self.page.find_element(By.ID, "from-bar").clear()
        self.page.find_element(By.ID, "from-bar").send_keys("41")
        self.play_and_wait()
        self.wait_for("the play head in bar 41", lambda: " bar 41." in self.js("return position.textContent"))
        self.wait_for("two seconds played", lambda: self.js("return player.currentTime") > 2)
        # The head stands where the sound is: bar 41's tick plus the ticks
        # played since, within its two-pixel steps and a frame's lag.
        hidden, head, expected = self.js("""const t = state.analysed.timeline, bar = t.bar_starts.find((s) => s.bar === 41);
            const frames_per_tick = t.tempo.filter((p) => p.tick <= bar.tick).pop().frames_per_tick;
            return [playhead.hidden, new DOMMatrix(getComputedStyle(playhead).transform).m41,
                    state.analysed.roll_left + (bar.tick + player.currentTime * 44100 / frames_per_tick) *
                    state.analysed.roll_tick_px];""")
        self.assertFalse(hidden)
        self.assertLess(abs(head - expected), 5, (head, expected))
        self.assertEqual(self.played_wave(), self.cli_wave("--from", "41"))
        soloed = self.cli_wave("--from", "41", "--to", "43", "--solo", "3")
        self.page.find_element(By.ID, "to-bar").send_keys("43")
        self.page.find_element(By.ID, "solo-3").click()  # plays anew at once
        self.page.find_element(By.ID, "play-bar").click()
        self.wait_for("the soloed excerpt", lambda: self.played_wave() == soloed)
        self.page.find_element(By.ID, "stop").click()
        self.assertTrue(self.js("return player.paused"))

    def test_a_sound_the_studio_let_go_is_asked_for_again_where_it_was(self):
        self.page.find_element(By.ID, "from-bar").clear()
        self.page.find_element(By.ID, "from-bar").send_keys("1")
        self.play_and_wait()
        old = self.js("return player.src")
        # Newer sounds that another page asks for and plays, until the
        # studio lets the playing one go; the player then needs bytes it has
        # not fetched yet.
        self.page.execute_async_script("""const done = arguments[arguments.length - 1];
            (async () => {
              for (let k = 0; k < 4; ++k) {
                const sound = await (await api('/api/sound', {text: text.value, from: '2'})).json();
                await fetch(sound.wave, {headers: {Range: 'bytes=0-0'}});
              }
            })().then(() => { player.currentTime = 100; done(); });""")
        self.wait_for("the sound asked for again", lambda: self.js("return player.src") != old and
                      self.js("return !player.paused && player.currentTime >= 100"))

    def test_a_note_clicked_moves_the_cursor_and_the_cursor_lights_its_notes(self):
        # One of the lead's notes on line 35 that no other note covers.
        source = self.js(f"""for (const n of roll.querySelectorAll('.note[data-source^="{NOTE_LINE}:"]')) {{
                               n.scrollIntoView({{block: 'center', inline: 'center'}});
                               const r = n.getBoundingClientRect();
                               if (document.elementFromPoint(r.x + r.width / 2, r.y + r.height / 2) === n)
                                 return n.dataset.source;
                             }}""")
        note = self.page.find_element(By.CSS_SELECTOR, f'#roll .note[data-source="{source}"]')
        note.click()
        place = self.js("const b = text.value.slice(0, text.selectionStart);"
                        "return [b.split('\\n').length, b.length - b.lastIndexOf('\\n')]")
        self.assertEqual(place, [int(part) for part in source.split(":")])
        lit = self.js("return [...roll.querySelectorAll('.lit')].map((n) => n.dataset.source)")
        self.assertTrue(lit and set(lit) == {source}, lit)
        # The next note on the line, "d+32." at column 9, with the cursor inside it.
        self.js("text.setSelectionRange(arguments[0], arguments[0]); text.dispatchEvent(new Event('keyup'))",
                self.js("return text.value.split('\\n').slice(0, arguments[0] - 1).join('\\n').length + 1 + 9",
                        NOTE_LINE))
        lit = self.js("return [...roll.querySelectorAll('.lit')].map((n) => n.dataset.source)")
        self.assertTrue(lit and set(lit) == {f"{NOTE_LINE}:9"}, lit)

    def test_save_writes_the_text(self):
        self.js("document.getElementById('status').textContent = ''")  # the load's check said its word
        self.type_at(1, 1, 0, "; saved from the studio\n")
        self.wait_for("the check", lambda: self.status().startswith("checked"))
        self.page.find_element(By.ID, "save").click()
        self.wait_for("the save", lambda: self.status().startswith("saved"))
        with open(self.studio.song) as f:
            self.assertEqual(f.read(), "; saved from the studio\n" + self.song)
        with open(self.studio.song, "w") as f:
            f.write(self.song)  # changed behind the page's back
        self.page.find_element(By.ID, "save").click()
        WebDriverWait(self.page, WAIT).until(expected_conditions.alert_is_present())
        self.assertIn("changed on disk since it was loaded", self.page.switch_to.alert.text)
        self.page.switch_to.alert.dismiss()
        self.wait_for("the refusal", lambda: self.status() == "not saved")
        with open(self.studio.song) as f:
            self.assertEqual(f.read(), self.song)


if __name__ == "__main__":
    unittest.main()
