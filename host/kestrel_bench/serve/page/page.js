// The live panel's page: polls the bench for the state at the host's update rate, redraws
// a gauge when the bench has a new frame, outlines click areas under the pointer and
// sends clicks, host variables, key events and the controls to the bench.
"use strict";

const cursorNames = {
  "-1": "no cursor", 1: "cursor 1: step up", 2: "cursor 2: step down", 4: "cursor 4: push", 5: "cursor 5: push",
};
const cssCursors = { 1: "e-resize", 2: "w-resize", 4: "pointer", 5: "pointer" };

let info = null;
let lastSerial = -1;
let logSince = 0;
const editing = new Set();

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

function buildGauges() {
  const holder = document.getElementById("gauges");
  const select = document.getElementById("record-gauge");
  info.gauges.forEach((gauge, index) => {
    const box = document.createElement("div");
    box.className = "gauge";
    box.id = "gauge-" + index;
    box.innerHTML = `<b></b><div class="picture"><img width="${gauge.width * info.scale}"
      height="${gauge.height * info.scale}"><div class="outline" hidden></div></div>
      <div class="tooltip" id="tooltip-${index}"></div><dl class="readouts" id="readouts-${index}"></dl>`;
    // Names come from the module: text, never markup.
    box.querySelector("b").textContent = gauge.name;
    box.querySelector("img").alt = gauge.name;
    holder.appendChild(box);
    const img = box.querySelector("img");
    const outline = box.querySelector(".outline");
    const tip = box.querySelector(".tooltip");
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
      const words = [];
      if (helper && helper.tooltip !== undefined) words.push("tooltip: " + helper.tooltip);
      else if (helper) words.push("help id 0x" + helper.help.toString(16).toUpperCase());
      if (child) words.push(cursorNames[child.cursor] || "cursor " + child.cursor);
      words.push(`(${x}, ${y})`);
      tip.textContent = words.join(" · ");
      img.style.cursor = child ? (cssCursors[child.cursor] || "crosshair") : "default";
    });
    img.addEventListener("mouseleave", () => { outline.hidden = true; });
    img.addEventListener("click", (event) => {
      const [x, y] = pixel(event);
      act("/api/click", { gauge: index, x, y, modifier: event.shiftKey });
    });
    const option = document.createElement("option");
    option.value = index;
    option.textContent = gauge.name;
    select.appendChild(option);
  });
}

function showVars(vars) {
  const body = document.querySelector("#vars tbody");
  const rows = new Map([...body.rows].map((row) => [row.dataset.token, row]));
  for (const { token, value } of vars) {
    const name = "0x" + token.toString(16).toUpperCase();
    let row = rows.get(name);
    if (!row) {
      row = body.insertRow();
      row.dataset.token = name;
      row.insertCell().textContent = name;
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

let polling = false;
async function poll() {
  if (polling || !info) return;
  polling = true;
  try {
    const state = await api("/api/state?log_since=" + logSince);
    document.getElementById("updates").textContent = state.updates;
    const status = document.getElementById("status");
    status.className = state.running ? "running" : "stopped";
    status.textContent = state.running ? (state.playing ? "playing" : "paused")
                                       : "host stopped: " + state.reason;
    document.getElementById("restart").hidden = state.running;
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
        document.querySelector(`#gauge-${index} img`).src = `/api/frame?gauge=${index}&serial=${state.serial}`;
      });
    }
  } catch (error) {
    showError(error);
  } finally {
    polling = false;
  }
}

async function main() {
  info = await api("/api/info");
  document.getElementById("module").textContent = info.module;
  document.title = "Kestrel live panel: " + info.module;
  buildGauges();
  document.getElementById("play").onclick = () => act("/api/play");
  document.getElementById("pause").onclick = () => act("/api/pause");
  document.getElementById("step").onclick = () => act("/api/step");
  document.getElementById("restart").onclick = () => act("/api/restart");
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
                          id: Number(document.getElementById("service-id").value.trim()) });
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
