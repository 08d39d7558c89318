// songtool studio's page: the editor, the roll and the transport over the
// studio's JSON API.
"use strict";

const RATE = 44100;
const TICKS_PER_BEAT = 32;
const PAUSE_MS = 100;  // an edit is checked once typing pauses this long
const CHANNELS = 8;

const $ = (id) => document.getElementById(id);
const text = $("text"), gutter = $("gutter"), backdrop = $("backdrop"), findingsList = $("findings");
const roll = $("roll"), playhead = $("playhead"), statusLine = $("status");
// The element playing; each new sound streams into one of its own, which
// takes over once it can play, so the old sound plays on until then.
let player = new Audio();

const token = new URLSearchParams(location.search).get("token");
const state = {
  stamp: "", analysed: null, editedAt: 0, pending: null, sent: 0,
  playing: null,  // {from, to, first, end (frames), wave, asked} of the excerpt in the player
  solo: new Set(), mute: new Set(), sources: new Map(),  // line -> sorted columns of notes
};

async function api(path, body) {
  const headers = {"Content-Type": "application/json"};
  if (token) headers["X-Studio-Token"] = token;
  const options = body === undefined ? {headers} : {method: "POST", headers, body: JSON.stringify(body)};
  return fetch(path, options);
}

async function errorOf(response) {
  try { return (await response.json()).error; } catch { return response.statusText; }
}

function say(message) { statusLine.textContent = message; }

// ---- the editor ----

function lineStarts(source) {
  const starts = [0];
  for (let i = 0; i < source.length; ++i) if (source[i] === "\n") starts.push(i + 1);
  return starts;
}

function offsetOf(line, column) {
  const starts = lineStarts(text.value);
  const start = starts[Math.min(Math.max(line, 1), starts.length) - 1];
  return Math.min(start + Math.max(column, 1) - 1, text.value.length);
}

function cursorPlace(offset = text.selectionStart) {
  const before = text.value.slice(0, offset);
  const line = before.split("\n").length;
  return {line, column: offset - before.lastIndexOf("\n")};
}

function moveCursor(line, column) {
  const at = offsetOf(line, column);
  text.focus();
  text.setSelectionRange(at, at);
  const lineHeight = parseFloat(getComputedStyle(text).lineHeight);
  const top = (line - 1) * lineHeight;
  if (top < text.scrollTop || top > text.scrollTop + text.clientHeight - 2 * lineHeight)
    text.scrollTop = Math.max(0, top - text.clientHeight / 3);
  showCursorNotes();
}

function escapeHtml(s) {
  return s.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
}

// The text again behind the transparent textarea, each finding's line
// shaded and its character marked.
function drawBackdrop() {
  const lines = text.value.split("\n");
  const marks = new Map();
  for (const f of state.analysed ? state.analysed.findings : [])
    if (f.line && (!marks.has(f.line) || f.severity === "error")) marks.set(f.line, f);
  backdrop.innerHTML = lines.map((line, i) => {
    const f = marks.get(i + 1);
    if (!f) return escapeHtml(line);
    const at = Math.min(Math.max((f.column || 1) - 1, 0), line.length);
    const mark = `<mark class="${f.severity}" data-line="${f.line}" data-column="${f.column}">` +
                 escapeHtml(line.slice(at, at + 1) || " ") + "</mark>";
    return `<span class="line-${f.severity}">${escapeHtml(line.slice(0, at))}${mark}${escapeHtml(line.slice(at + 1))}</span>`;
  }).join("\n") + "\n";
  gutter.textContent = lines.map((_, i) => i + 1).join("\n") + "\n";
  syncScroll();
}

function syncScroll() {
  backdrop.scrollTop = gutter.scrollTop = text.scrollTop;
  backdrop.scrollLeft = text.scrollLeft;
}

function listFindings(findings) {
  findingsList.replaceChildren(...findings.map((f) => {
    const item = document.createElement("li");
    item.className = f.severity;
    item.textContent = `${f.line ? f.line + ":" + f.column + ": " : ""}${f.severity}: ${f.message}`;
    if (f.line) item.addEventListener("click", () => moveCursor(f.line, f.column));
    return item;
  }));
}

// ---- the roll ----

function noteElements() { return roll.querySelectorAll(".note[data-source], .drum-hit[data-source]"); }

function indexSources() {
  state.sources = new Map();
  for (const n of noteElements()) {
    const [line, column] = n.dataset.source.split(":").map(Number);
    if (!state.sources.has(line)) state.sources.set(line, new Set());
    state.sources.get(line).add(column);
  }
  for (const [line, columns] of state.sources) state.sources.set(line, [...columns].sort((a, b) => a - b));
}

// The source of the note event the cursor stands in (or right after), if any.
function sourceAtCursor(offset = text.selectionStart) {
  const {line, column} = cursorPlace(offset);
  const columns = state.sources.get(line) || [];
  const lineText = text.value.split("\n")[line - 1] || "";
  for (let k = columns.length - 1; k >= 0; --k) {
    if (columns[k] > column) continue;
    const between = lineText.slice(columns[k] - 1, column - 1);
    return /\s/.test(between) ? null : `${line}:${columns[k]}`;
  }
  return null;
}

function showCursorNotes() {
  for (const lit of roll.querySelectorAll(".lit")) lit.classList.remove("lit");
  const source = sourceAtCursor();
  if (!source) return;
  const notes = roll.querySelectorAll(`[data-source="${source}"]`);
  for (const n of notes) n.classList.add("lit");
}

function showRoll(svgText) {
  roll.innerHTML = svgText;
  roll.classList.remove("stale");
  const svg = roll.querySelector("svg");
  const box = svg.viewBox.baseVal;
  if (box && box.width) { svg.setAttribute("width", box.width); svg.setAttribute("height", box.height); }
  playhead.style.height = (box ? box.height : 0) + "px";
  newHeadAnimation();
  indexSources();
  showCursorNotes();
}

roll.addEventListener("click", (event) => {
  const note = event.target.closest("[data-source]");
  if (!note) return;
  const [line, column] = note.dataset.source.split(":").map(Number);
  moveCursor(line, column);
});

// ---- time: frames, ticks and bars from the timeline ----

function barStartAtFrame(frame) {
  const starts = state.analysed.timeline.bar_starts;
  let k = 0;
  while (k + 1 < starts.length && starts[k + 1].frame <= frame) ++k;
  return starts[k];
}

function framesPerTick(tick) {
  let interval = 701;
  for (const t of state.analysed.timeline.tempo) if (t.tick <= tick) interval = t.frames_per_tick;
  return interval;
}

function tickAtFrame(frame) {
  const start = barStartAtFrame(frame);
  return start.tick + Math.max(0, (frame - start.frame) / framesPerTick(start.tick));
}

function barOfTick(tick) {
  const starts = state.analysed.timeline.bar_starts;
  let k = 0;
  while (k + 1 < starts.length && starts[k + 1].tick <= tick) ++k;
  const beat = starts[k].beat + Math.floor((tick - starts[k].tick) / TICKS_PER_BEAT);
  return {bar: starts[k].bar, beat};
}

function clock(frame) {
  const seconds = frame / RATE;
  return `${Math.floor(seconds / 60)}:${(seconds % 60).toFixed(1).padStart(4, "0")}`;
}

// The bar of the note event at or before a text offset: the first tick at
// which a note it wrote sounds.
function barAtOffset(offset) {
  const place = cursorPlace(offset);
  let best = null;
  for (const n of noteElements()) {
    const [line, column] = n.dataset.source.split(":").map(Number);
    if (line > place.line || (line === place.line && column > place.column)) continue;
    const x = n.getBBox().x;
    if (!best || line > best.line || (line === best.line && column > best.column) ||
        (line === best.line && column === best.column && x < best.x))
      best = {line, column, x};
  }
  if (!best) return null;
  const tick = Math.round((best.x - state.analysed.roll_left) / state.analysed.roll_tick_px);
  return barOfTick(tick).bar;
}

// ---- the transport ----

function channelButtons() {
  const box = $("channels");
  const names = state.analysed && state.analysed.channel_names || [];
  box.replaceChildren(...Array.from({length: CHANNELS}, (_, k) => {
    const item = document.createElement("span");
    item.className = "channel";
    item.append(`${k}${names[k] ? " " + names[k] : ""} `);
    for (const [kind, set, other] of [["S", state.solo, state.mute], ["M", state.mute, state.solo]]) {
      const button = document.createElement("button");
      button.textContent = kind;
      button.id = `${kind === "S" ? "solo" : "mute"}-${k}`;
      button.title = `${kind === "S" ? "Solo" : "Mute"} channel ${k}`;
      button.className = set.has(k) ? "on" : "";
      button.addEventListener("click", () => {
        if (set.has(k)) set.delete(k); else { set.add(k); other.delete(k); }
        channelButtons();
        if (state.playing) play(state.playing.from, state.playing.to, true);
      });
      item.append(button);
    }
    return item;
  }));
}

function renderRequest(from, to) {
  const request = {text: text.value, from: String(from)};
  if (to !== "" && to !== undefined && to !== null) request.to = String(to);
  if (state.solo.size) request.solo = [...state.solo].sort().join(",");
  if (state.mute.size) request.mute = [...state.mute].sort().join(",");
  if (state.playing) request.playing = state.playing.wave;  // kept beside the new one while it takes over
  return request;
}

// A new element streaming the sound at `wave`: resolves once it can play,
// rejects if it cannot load. It fetches the sound as it plays; a player
// that cannot get its bytes, or waits long for them and finds its sound
// gone (the studio keeps three), asks for it again, unless a newer sound is
// already on its way.
const STALL_MS = 2000;

function streamed(wave) {
  const next = new Audio();
  next.preload = "auto";
  let stall = 0;
  const lost = () => {
    if (next === player && state.playing && !next.paused && state.sent === state.playing.asked) replay();
  };
  const gone = async () => (await fetch(next.src, {headers: {Range: "bytes=0-0"}})).status === 404;
  next.addEventListener("ended", () => { if (next === player && !next.loop) stop(); });
  next.addEventListener("error", lost);
  next.addEventListener("waiting", () => {
    clearTimeout(stall);
    stall = setTimeout(async () => {
      if (next === player && next.readyState < HTMLMediaElement.HAVE_FUTURE_DATA && await gone()) lost();
    }, STALL_MS);
  });
  next.addEventListener("playing", () => clearTimeout(stall));
  return new Promise((resolve, reject) => {
    next.addEventListener("canplay", () => resolve(next), {once: true});
    next.addEventListener("error", () => reject(new Error("the sound did not load")), {once: true});
    next.src = token ? `${wave}?token=${token}` : wave;
  });
}

// Stops the element and tells the studio it may let go of its sound.
function release(element) {
  const sound = element.src;
  element.pause();
  element.removeAttribute("src");
  element.load();
  if (sound) fetch(sound, {method: "DELETE"}).catch(() => {});
}

const RETRY_MS = 300;  // before a sound refused for another's text is asked for once more

// Plays bars [from, to) (to empty: the render's end); `keep` carries on at
// the same place in the new sound once it is ready, the old one playing
// until then.

async function play(from, to, keep = false, again = false) {
  const asked = ++state.sent;
  const response = await api("/api/sound", renderRequest(from, to));
  if (asked !== state.sent) return;
  if (response.status === 409 && !again) {  // another page or script sent a text meanwhile
    await new Promise((resolve) => setTimeout(resolve, RETRY_MS));
    return asked === state.sent ? play(from, to, keep, true) : undefined;
  }
  if (response.status === 409) return say("cannot play: another page or script keeps sending other texts");
  if (!response.ok) {
    if (response.status !== 422) say(`cannot play: ${await errorOf(response)}`);  // errors: listed already
    return;
  }
  const sound = await response.json();
  let next;
  try { next = await streamed(sound.wave); } catch (failure) {
    if (asked === state.sent) say(`cannot play: ${failure.message}`);
    return;
  }
  if (asked !== state.sent) return release(next);
  const at = keep && state.playing ? player.currentTime : 0;
  next.currentTime = Math.min(at, (sound.end - sound.first) / RATE);
  await next.play().catch(() => {});
  if (asked !== state.sent) return release(next);
  const old = player;
  player = next;
  player.loop = $("loop").checked;
  release(old);
  state.playing = {from, to, first: sound.first, end: sound.end, wave: sound.wave, asked};
  newHeadAnimation();
  showPosition();
  return true;
}

// The same bars again, where they were: a sound the player lost.
function replay() { play(state.playing.from, state.playing.to, true); }

function stop() {
  ++state.sent;
  player.pause();
  state.playing = null;
  newHeadAnimation();
  playhead.hidden = true;
  $("position").textContent = "stopped";
}

// The play head moves on the compositor, as an animation through the ticks
// at each bar's start (linear between them, as the sound's time is), so
// the page's thread need not move it every frame; it steps 30 times a
// second (two pixels), since each step costs the compositor a new frame.
// Ten times a second the clock is written and the animation set to the
// player's time when they have drifted apart.
const POSITION_MS = 100;
const HEAD_STEPS_PER_SECOND = 30;
const DRIFT_MS = 25;
let headAnimation = null;  // for state.playing over the roll shown

function headAt(frame) {
  const x = state.analysed.roll_left + tickAtFrame(frame) * state.analysed.roll_tick_px;
  return `translateX(${x}px)`;
}

function newHeadAnimation() {
  if (headAnimation) headAnimation.cancel();
  headAnimation = null;
  if (!state.playing || !state.analysed || !state.analysed.valid) return;
  const {first, end} = state.playing;
  if (end <= first) return;
  const bars = state.analysed.timeline.bar_starts.map((s) => s.frame).filter((f) => f > first && f < end);
  const points = [first, ...bars, end];
  const steps = (i) => Math.max(1, Math.round((points[i + 1] - points[i]) / RATE * HEAD_STEPS_PER_SECOND));
  const keyframes = points.map((f, i) => ({transform: headAt(f), offset: (f - first) / (end - first),
                                           easing: i + 1 < points.length ? `steps(${steps(i)})` : "linear"}));
  headAnimation = playhead.animate(keyframes, {duration: (end - first) / RATE * 1000, easing: "linear", fill: "both"});
  headAnimation.pause();
}

function showPosition() {
  if (!state.playing || !state.analysed || !state.analysed.valid || player.paused) {
    if (headAnimation) headAnimation.pause();
    return;
  }
  if (!headAnimation) return;  // an empty excerpt
  const frame = state.playing.first + player.currentTime * RATE;
  const {bar, beat} = barOfTick(tickAtFrame(frame));
  $("position").textContent = `${clock(frame)}  bar ${bar}.${beat}`;
  playhead.hidden = false;
  const at = player.currentTime * 1000;
  if (headAnimation.playState !== "running" || Math.abs(headAnimation.currentTime - at) > DRIFT_MS) {
    headAnimation.currentTime = at;
    headAnimation.play();
  }
}

$("loop").addEventListener("change", () => { player.loop = $("loop").checked; });
$("stop").addEventListener("click", stop);
$("play-bar").addEventListener("click", () => play($("from-bar").value || 1, $("to-bar").value));
$("play-cursor").addEventListener("click", () => {
  const bar = barAtOffset(text.selectionStart);
  if (bar === null) return say("no note at or before the cursor");
  $("from-bar").value = bar;
  $("to-bar").value = "";
  play(bar, "");
});
$("play-selection").addEventListener("click", () => {
  const first = barAtOffset(text.selectionStart), last = barAtOffset(text.selectionEnd);
  if (first === null || last === null) return say("select some notes first");
  $("from-bar").value = Math.min(first, last);
  $("to-bar").value = Math.max(first, last) + 1;
  play($("from-bar").value, $("to-bar").value);
});

// ---- checking as you type ----

async function analyse() {
  const source = text.value;
  const started = performance.now();
  // The new sound is asked for at once: the server mixes while it answers.
  const sound = state.playing ? play(state.playing.from, state.playing.to, true) : null;
  const response = await api("/api/analyse", {text: source});
  if (source !== text.value) return;  // typing went on; a newer check follows
  if (!response.ok) { say(`cannot check: ${await errorOf(response)}`); return; }
  const result = await response.json();
  state.analysed = result.valid ? result : {...(state.analysed || {}), findings: result.findings, valid: false};
  drawBackdrop();
  listFindings(result.findings);
  const errors = result.findings.filter((f) => f.severity === "error").length;
  const checked = `checked in ${Math.round(performance.now() - started)} ms`;
  if (!result.valid) {
    roll.classList.add("stale");
    say(`${errors} error${errors === 1 ? "" : "s"}; ${checked}`);
    return;
  }
  showRoll(result.roll);
  $("timeline-text").textContent = result.timeline_text;
  $("sounds-text").textContent = result.sounds_text;
  if (!$("channels").childElementCount) channelButtons();
  const edited = state.editedAt;
  state.editedAt = 0;
  say(checked);
  if (sound && edited && await sound)
    say(`new roll and sound ${((performance.now() - edited) / 1000).toFixed(2)} s after the last key`);
}

text.addEventListener("input", () => {
  state.editedAt = performance.now();
  drawBackdrop();
  clearTimeout(state.pending);
  state.pending = setTimeout(analyse, PAUSE_MS);
});
text.addEventListener("scroll", syncScroll);
for (const event of ["click", "keyup", "select"]) text.addEventListener(event, showCursorNotes);

// ---- load and save ----

async function save(force = false) {
  const response = await api("/api/save", {text: text.value, stamp: state.stamp, force});
  if (response.status === 409) {
    if (confirm(`${await errorOf(response)}. Save over it?`)) return save(true);
    return say("not saved");
  }
  if (!response.ok) return say(`not saved: ${await errorOf(response)}`);
  state.stamp = (await response.json()).stamp;
  say(`saved ${new Date().toLocaleTimeString()}`);
}

$("save").addEventListener("click", () => save());
document.addEventListener("keydown", (event) => {
  if ((event.ctrlKey || event.metaKey) && event.key === "s") { event.preventDefault(); save(); }
});

for (const tab of document.querySelectorAll("#tabs button"))
  tab.addEventListener("click", () => {
    for (const other of document.querySelectorAll("#tabs button")) {
      other.classList.toggle("chosen", other === tab);
      $(other.dataset.tab).hidden = other !== tab;
    }
  });

async function load() {
  const response = await api("/api/load");
  if (!response.ok) return say(`cannot load: ${await errorOf(response)}`);
  const song = await response.json();
  $("song-path").textContent = song.path;
  document.title = `${song.path} - songtool studio`;
  text.value = song.text;
  state.stamp = song.stamp;
  drawBackdrop();
  await analyse();
}

load();
setInterval(showPosition, POSITION_MS);
