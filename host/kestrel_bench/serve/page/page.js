// The live panel's page: polls the bench for the state at the host's update rate, redraws
// a gauge (or a panel's window, one tab each) when the bench has a new frame, picks the
// largest scale that fits the window, shows the click area and tooltip under the pointer
// and sends clicks, host variables, key events and the controls to the bench.
"use strict";

const cursorNames = {
  "-1": "no cursor", 1: "cursor 1: step up", 2: "cursor 2: step down", 4: "cursor 4: push", 5: "cursor 5: push",
};
const cssCursors = { 1: "e-resize", 2: "w-resize", 4: "pointer", 5: "pointer" };
// A command the host has not answered for this long is shown as waiting, with Restart.
const slowAnswerSeconds = 0.5;

let info = null;
let lastState = null;
let lastSerial = -1;
let logSince = 0;
let scale = 1;
let scaleChosen = false;
const editing = new Set();

// Numbers as the README and scenarios write them: decimal, with hex beside.
const hex = (number) => "0x" + number.toString(16).toUpperCase();
const both = (number) => `${number} (${hex(number)})`;

// Windows-1252, the code page of the module's texts, from the browser's own decoder: the
// stored byte behind each character the page shows.
const cp1252Bytes = (() => {
  const high = Uint8Array.from({ length: 128 }, (_, i) => 128 + i);
  return new Map([...new TextDecoder("windows-1252").decode(high)].map((char, i) => [char, 128 + i]));
})();

// Which stored byte the first character beyond ASCII is, so that an "Â" is read as the
// module's own byte 0xC2 and not as a fault of the page.
function storedByteNote(text) {
  const chars = [...text];
  for (let i = 0; i < chars.length; i++) {
    if (chars[i].codePointAt(0) < 0x80) continue;
    const byte = cp1252Bytes.get(chars[i]);
    if (byte === undefined) return `character ${i} stands for a byte Windows-1252 leaves unassigned`;
    return i === 0 ? `Windows-1252: the stored text begins with byte ${hex(byte)}`
                   : `Windows-1252: stored byte ${i} is ${hex(byte)}`;
  }
  return null;
}

async function api(path, body) {
  const response = await fetch(path, body === undefined ? {} : {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
  });
  const answer = await response.json().catch(() => ({ error: "HTTP " + response.status }));
  if (!response.ok) throw new Error(answer.error || "HTTP " + response.status);
  return answer;
}

function showError(error) {
  document.getElementById("error").textContent = error ? String(error.message || error) : "";
}

function showNotice(text) {
  document.getElementById("notice").textContent = text || "";
}

async function act(path, body) {
  try {
    const answer = await api(path, body || {});
    showError(null);
    poll();
    return answer;
  } catch (error) {
    showError(error);
    poll();
    return null;
  }
}

function inside(box, whole, x, y) {
  return whole || (x >= box[0] && y >= box[1] && x < box[0] + box[2] && y < box[1] + box[3]);
}

// The area under a point as the host finds it: the first child in list order inside
// every enclosing parent, and the help of the innermost parent that has help there.
function areaAt(gauge, x, y) {
  const byIndex = new Map(gauge.areas.map((area) => [area.index, area]));
  const withinParents = (area) => {
    for (let p = area.parent; p !== null && p !== undefined; p = byIndex.get(p).parent) {
      const parent = byIndex.get(p);
      if (!inside(parent.box, parent.whole, x, y)) return false;
    }
    return true;
  };
  let child = null;
  let helper = null;
  for (const area of gauge.areas) {
    if (!inside(area.box, area.whole, x, y) || !withinParents(area)) continue;
    if (area.kind === "child" && child === null) child = area;
    if (area.kind === "parent" && (area.tooltip !== undefined || area.help !== 0)) helper = area;
  }
  return { child, helper };
}

// The tooltip beside the pointer, turned to the pointer's other side near the window's edges.
function showPointerTip(lines, event) {
  const tip = document.getElementById("pointer-tip");
  tip.replaceChildren(...lines.map((line) => Object.assign(document.createElement("div"), { textContent: line })));
  tip.hidden = false;
  const gap = 16;
  const box = tip.getBoundingClientRect();
  let left = event.clientX + gap;
  let top = event.clientY + gap;
  if (left + box.width > window.innerWidth - 4) left = event.clientX - gap - box.width;
  if (top + box.height > window.innerHeight - 4) top = event.clientY - gap - box.height;
  tip.style.left = Math.max(4, left) + "px";
  tip.style.top = Math.max(4, top) + "px";
}

// The largest scale at which the widest gauge fits the room the gauges have.
function fittingScale() {
  const room = document.getElementById("gauges").clientWidth;
  const widest = Math.max(...info.gauges.map((gauge) => gauge.width));
  let best = info.scales[0];
  for (const each of info.scales) if (widest * each <= room) best = each;
  return best;
}

function applyScale(chosen) {
  scale = chosen;
  document.getElementById("scale").value = String(scale);
  info.gauges.forEach((gauge, index) => {
    const img = document.querySelector(`#gauge-${index} img`);
    img.width = gauge.width * scale;
    img.height = gauge.height * scale;
  });
  lastSerial = -1;  // draw every gauge again at the new scale
  poll();
}

function buildGauges() {
  const holder = document.getElementById("gauges");
  const select = document.getElementById("record-gauge");
  info.gauges.forEach((gauge, index) => {
    const box = document.createElement("div");
    box.className = "gauge";
    box.id = "gauge-" + index;
    box.innerHTML = `<b></b><div class="picture"><img><div class="outline" hidden></div></div>
      <dl class="readouts" id="readouts-${index}"></dl>`;
    // Names come from the module: text, never markup.
    box.querySelector("b").textContent = gauge.name;
    box.querySelector("img").alt = gauge.name;
    holder.appendChild(box);
    const img = box.querySelector("img");
    const outline = box.querySelector(".outline");
    // The picture may be shown at another size than drawn: measure it each time.
    const pixel = (event) => [Math.floor(event.offsetX * gauge.width / img.clientWidth),
                              Math.floor(event.offsetY * gauge.height / img.clientHeight)];
    img.addEventListener("mousemove", (event) => {
      const [x, y] = pixel(event);
      const { child, helper } = areaAt(gauge, x, y);
      const shown = child || helper;
      if (!shown || shown.whole) {
        outline.hidden = true;
      } else {
        const s = img.clientWidth / gauge.width;
        Object.assign(outline.style, { left: shown.box[0] * s + "px", top: shown.box[1] * s + "px",
          width: shown.box[2] * s + "px", height: shown.box[3] * s + "px" });
        outline.hidden = false;
      }
      const lines = [];
      // On a panel's window, the gauge the area belongs to.
      if (shown && shown.gauge) lines.push(shown.gauge);
      if (helper && helper.tooltip !== undefined) {
        lines.push("tooltip: " + helper.tooltip);
        const note = storedByteNote(helper.tooltip);
        if (note) lines.push(note);
      } else if (helper) {
        lines.push("help id " + both(helper.help));
      }
      if (child) lines.push(cursorNames[child.cursor] || "cursor " + child.cursor);
      lines.push(`(${x}, ${y})`);
      showPointerTip(lines, event);
      img.style.cursor = child ? (cssCursors[child.cursor] || "crosshair") : "default";
    });
    img.addEventListener("mouseleave", () => {
      outline.hidden = true;
      document.getElementById("pointer-tip").hidden = true;
    });
    img.addEventListener("click", async (event) => {
      const [x, y] = pixel(event);
      const answer = await act("/api/click", { gauge: index, x, y, modifier: event.shiftKey });
      // Paused, the module has the click but draws nothing until its next update.
      if (answer && lastState && lastState.running && !lastState.playing) showNotice("sent; Step or Play to see it");
    });
    const option = document.createElement("option");
    option.value = index;
    option.textContent = gauge.name;
    select.appendChild(option);
  });
}

// A panel file's windows: one tab each, one window shown at a time.
function showWindow(chosen) {
  info.gauges.forEach((gauge, index) => {
    document.getElementById("gauge-" + index).hidden = index !== chosen;
    document.getElementById("tab-" + index).setAttribute("aria-selected", String(index === chosen));
  });
  document.getElementById("record-gauge").value = String(chosen);
}

function buildTabs() {
  const tabs = document.createElement("div");
  tabs.id = "tabs";
  tabs.setAttribute("role", "tablist");
  info.gauges.forEach((gauge, index) => {
    const tab = document.createElement("button");
    tab.id = "tab-" + index;
    tab.setAttribute("role", "tab");
    tab.textContent = gauge.name;
    tab.onclick = () => showWindow(index);
    tabs.appendChild(tab);
  });
  const holder = document.getElementById("gauges");
  holder.insertBefore(tabs, holder.firstChild);
  document.getElementById("record-gauge").onchange = (event) => showWindow(Number(event.target.value));
  document.getElementById("picture-heading").textContent = "Window";
  document.getElementById("record-hint").textContent =
    "Record writes everything since the hosts started as a scenario of this window, at window coordinates.";
  document.getElementById("service-hint").textContent = "Gauge callback of every gauge of the panel: ";
  showWindow(0);
}

function showVars(vars) {
  const body = document.querySelector("#vars tbody");
  const rows = new Map([...body.rows].map((row) => [row.dataset.token, row]));
  for (const { token, value } of vars) {
    const name = String(token);
    let row = rows.get(name);
    if (!row) {
      row = body.insertRow();
      row.dataset.token = name;
      row.insertCell().textContent = both(token);
      const input = document.createElement("input");
      input.addEventListener("focus", () => editing.add(name));
      input.addEventListener("blur", () => editing.delete(name));
      input.addEventListener("keydown", (event) => {
        if (event.key !== "Enter") return;
        act("/api/set", { token: name, value: input.value.trim() }).then(() => input.blur());
      });
      row.insertCell().appendChild(input);
    }
    if (!editing.has(name)) row.querySelector("input").value = value;
  }
}

function showLog(entries) {
  const list = document.getElementById("log");
  for (const entry of entries) {
    const item = document.createElement("li");
    item.textContent = entry.text;
    list.appendChild(item);
    logSince = Math.max(logSince, entry.serial);
  }
  while (list.children.length > 500) list.removeChild(list.firstChild);
  if (entries.length) list.scrollTop = list.scrollHeight;
}

function showStatus(state) {
  const status = document.getElementById("status");
  let stopped = !state.running && !state.starting;
  let text;
  if (state.starting) text = "starting the host…";
  else if (!state.running) text = "host stopped: " + state.reason;
  else if (state.busy && state.busy.seconds >= slowAnswerSeconds) {
    stopped = true;
    text = `waiting for the host: no answer to '${state.busy.command}' for ${state.busy.seconds.toFixed(1)} s ` +
           `(it is stopped at ${info.timeout} s)`;
  } else text = state.playing ? "playing" : "paused";
  status.className = stopped ? "stopped" : "running";
  status.textContent = text;
  document.getElementById("restart").hidden = !stopped;
}

let polling = false;
async function poll() {
  if (polling || !info) return;
  polling = true;
  try {
    const state = await api("/api/state?log_since=" + logSince);
    lastState = state;
    document.getElementById("updates").textContent = state.updates;
    showStatus(state);
    if (state.playing || !state.running) showNotice(null);
    showVars(state.vars);
    state.readouts.forEach((readouts, index) => {
      const list = document.getElementById("readouts-" + index);
      const text = Object.entries(readouts).map(([label, shown]) => label + " \u201C" + shown + "\u201D").join("\n");
      if (list.textContent !== text) list.textContent = text;
    });
    showLog(state.log);
    if (state.serial !== lastSerial) {
      lastSerial = state.serial;
      info.gauges.forEach((gauge, index) => {
        document.querySelector(`#gauge-${index} img`).src =
          `/api/frame?gauge=${index}&scale=${scale}&serial=${state.serial}`;
      });
    }
  } catch (error) {
    showError(error);
  } finally {
    polling = false;
  }
}

async function main() {
  // The token, once its cookie is set, need not stay in the address bar.
  if (new URLSearchParams(location.search).has("token")) history.replaceState(null, "", "/");
  info = await api("/api/info");
  document.getElementById("module").textContent = info.module;
  document.title = "Kestrel live panel: " + info.module;
  const scales = document.getElementById("scale");
  for (const each of info.scales) scales.add(new Option(each + "\u00D7", String(each)));
  buildGauges();
  if (info.panel) buildTabs();
  scaleChosen = info.scale !== null;
  applyScale(scaleChosen ? info.scale : fittingScale());
  scales.onchange = () => {
    scaleChosen = true;
    applyScale(Number(scales.value));
  };
  window.addEventListener("resize", () => {
    if (!scaleChosen && fittingScale() !== scale) applyScale(fittingScale());
  });
  const afterStep = () => showNotice(null);
  document.getElementById("play").onclick = () => act("/api/play").then(afterStep);
  document.getElementById("pause").onclick = () => act("/api/pause");
  document.getElementById("step").onclick = () => act("/api/step").then(afterStep);
  document.getElementById("restart").onclick = () => act("/api/restart").then(afterStep);
  document.getElementById("add-var").onsubmit = (event) => {
    event.preventDefault();
    act("/api/set", { token: document.getElementById("new-token").value.trim(),
                      value: document.getElementById("new-value").value.trim() });
  };
  document.getElementById("send-key").onsubmit = (event) => {
    event.preventDefault();
    act("/api/key", { id: document.getElementById("key-id").value.trim(),
                      value: document.getElementById("key-value").value.trim() });
  };
  document.getElementById("call-service").onsubmit = (event) => {
    event.preventDefault();
    act("/api/service", { gauge: Number(document.getElementById("record-gauge").value),
                          id: document.getElementById("service-id").value.trim() });
  };
  document.getElementById("record").onclick = async () => {
    const answer = await act("/api/record", { gauge: Number(document.getElementById("record-gauge").value) });
    if (!answer) return;
    document.getElementById("record-file").textContent = "written to " + answer.file;
    document.getElementById("record-text").textContent = answer.scenario;
  };
  setInterval(poll, 1000 / info.rate);
  poll();
}

main().catch(showError);
