// The shop's page: the scales, their articles, the jobs and the history, as `ktnet serve`
// answers them. Every text that comes from the server is put in as text, never as markup.
"use strict";

(function () {
  const state = {
    session: null,
    job: null,
    jobKey: null, // "id:state" of the job last seen; null before the first
    scales: [], // the overview's scales, for choosers
    uploads: {}, // upload id -> the upload's answer (problems, ok)
    lastScale: "",
    page: "",
    routeSeq: 0,
    events: null,
    pollTimer: null,
  };

  const $ = (selector, root) => (root || document).querySelector(selector);
  const $$ = (selector, root) => Array.from((root || document).querySelectorAll(selector));

  // el("td", {class: "x", text: "..."}, child, ...): children are nodes or strings (as text).
  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    if (attrs) {
      for (const [k, v] of Object.entries(attrs)) {
        if (v === null || v === undefined || v === false) continue;
        if (k === "class") e.className = v;
        else if (k === "text") e.textContent = v;
        else if (k === "dataset") Object.assign(e.dataset, v);
        else if (k.startsWith("on") && typeof v === "function") e.addEventListener(k.slice(2), v);
        else if (k === "value") e.value = v;
        else if (k === "checked") e.checked = Boolean(v);
        else e.setAttribute(k, v === true ? "" : String(v));
      }
    }
    for (const c of children.flat()) {
      if (c === null || c === undefined || c === false) continue;
      e.append(c instanceof Node ? c : String(c));
    }
    return e;
  }

  // ---- talking to the server ----

  class ApiError extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;
    }
  }

  async function api(method, path, body) {
    const options = { method, credentials: "same-origin", cache: "no-store", headers: {} };
    if (method !== "GET") {
      options.headers["X-Ktnet-Token"] = state.session ? state.session.token : "";
      if (body instanceof FormData) {
        options.body = body;
      } else {
        options.headers["Content-Type"] = "application/json";
        options.body = JSON.stringify(body || {});
      }
    }
    let response;
    try {
      response = await fetch(path, options);
    } catch (e) {
      throw new ApiError(0, "The server does not answer. Is ktnet serve still running?");
    }
    const text = await response.text();
    let data = null;
    if (text) {
      try {
        data = JSON.parse(text);
      } catch (e) {
        data = null;
      }
    }
    if (!response.ok) {
      const message =
        data && typeof data.error === "string"
          ? data.error
          : "The server answered " + response.status + " " + response.statusText;
      if (response.status === 401 && state.session) state.session.logged_in = false;
      throw new ApiError(response.status, message);
    }
    if (data === null) throw new ApiError(response.status, "The server's answer is not JSON.");
    return data;
  }

  // ---- small formatting helpers ----

  function pad(n) {
    return String(n).padStart(2, "0");
  }

  // "2026-12-09T14:03:07Z" -> "2026-12-09 15:03" in the browser's time zone.
  function shortTime(text) {
    if (!text) return "";
    const d = new Date(text);
    if (Number.isNaN(d.getTime())) return String(text);
    return (
      d.getFullYear() + "-" + pad(d.getMonth() + 1) + "-" + pad(d.getDate()) + " " +
      pad(d.getHours()) + ":" + pad(d.getMinutes())
    );
  }

  function timeCell(text) {
    return el("td", { class: "time", title: text || null, text: shortTime(text) });
  }

  function plural(n, one, many) {
    return n + " " + (n === 1 ? one : many);
  }

  function sizeText(bytes) {
    if (typeof bytes !== "number") return "";
    if (bytes < 1024) return plural(bytes, "byte", "bytes");
    if (bytes < 1024 * 1024) return (bytes / 1024).toFixed(1) + " KB";
    return (bytes / 1024 / 1024).toFixed(1) + " MB";
  }

  function secondsText(s) {
    if (s === null || s === undefined) return "";
    s = Math.max(0, Math.round(s));
    if (s < 60) return "about " + s + " s left";
    const m = Math.floor(s / 60);
    if (m < 60) return "about " + m + " min " + pad(s % 60) + " s left";
    return "about " + Math.floor(m / 60) + " h " + pad(m % 60) + " min left";
  }

  // A job's result as the store keeps it: its exit status, or a word.
  function resultText(result) {
    if (result === null || result === undefined || result === "") return "";
    const text = String(result);
    if (!/^\d+$/.test(text)) return text;
    const status = Number(text);
    if (status === 0) return "ok";
    if (status >= 128) return "stopped (status " + status + ")";
    return "failed (status " + status + ")";
  }

  function resultIsBad(text) {
    return Boolean(text) && text !== "ok" && text !== "done";
  }

  // "load (job 4)": the cause of a change, with its job when the server gives it apart.
  function causeText(change) {
    const cause = change.cause || "";
    if (change.job === undefined || change.job === null || /\bjob\b/.test(cause)) return cause;
    return cause + " (job " + change.job + ")";
  }

  function fieldLabel(name, column) {
    return name ? name : column;
  }

  function scaleLabel(address) {
    const s = state.scales.find((x) => x.address === address);
    return s && s.name ? address + " " + s.name : address;
  }

  // ---- messages ----

  function showMessage(text, kind) {
    const box = $("#message");
    box.textContent = "";
    box.className = kind || "error";
    box.append(el("span", { class: "message-text", text }));
    box.append(
      el("button", {
        type: "button",
        class: "close",
        title: "Close",
        "aria-label": "Close",
        text: "×",
        onclick: clearMessage,
      })
    );
    box.hidden = false;
  }

  function showError(e) {
    showMessage(e && e.message ? e.message : String(e), "error");
  }

  function clearMessage() {
    const box = $("#message");
    box.hidden = true;
    box.textContent = "";
  }

  // Runs an action of a button: disabled while it runs, an error shown verbatim.
  async function act(button, action) {
    if (button) button.disabled = true;
    try {
      await action();
    } catch (e) {
      if (e instanceof ApiError && e.status === 401) {
        renderLogin();
      } else {
        showError(e);
      }
    } finally {
      if (button) button.disabled = false;
    }
  }

  // ---- the page's frame ----

  function setPage(name, title) {
    state.page = name;
    const main = $("#main");
    main.textContent = "";
    main.dataset.page = name;
    main.dataset.ready = "";
    document.title = title + " · ktnet";
    for (const a of $$("#nav a")) a.classList.toggle("active", a.dataset.route === name);
    return main;
  }

  function updateScaleLink() {
    const address = state.lastScale || (state.scales[0] && state.scales[0].address) || "";
    $("#nav-scale").setAttribute("href", "#/scale/" + encodeURIComponent(address));
  }

  function renderFooter() {
    const s = state.session;
    const parts = ["ktnet"];
    if (s && s.version) parts.push(s.version);
    if (s && s.listen) parts.push("serving at " + s.listen);
    $("#footer-text").textContent = parts.join(" · ");
  }

  // ---- log in ----

  function renderLogin() {
    stopUpdates();
    const main = setPage("login", "Log in");
    const password = el("input", {
      id: "login-password",
      type: "password",
      autocomplete: "current-password",
      required: true,
    });
    const button = el("button", { id: "login-button", type: "submit", class: "primary", text: "Log in" });
    const form = el(
      "form",
      { id: "login-form", class: "card narrow" },
      el("h1", { text: "Log in" }),
      el("p", { text: "This server has a password. Type it to see and work the scales." }),
      el("label", { for: "login-password", text: "Password" }),
      password,
      el("div", { class: "buttons" }, button)
    );
    form.addEventListener("submit", (ev) => {
      ev.preventDefault();
      act(button, async () => {
        button.textContent = "Checking…";
        try {
          await api("POST", "/api/login", { password: password.value });
        } finally {
          button.textContent = "Log in";
          password.value = "";
          password.focus();
        }
        clearMessage();
        await start();
      });
    });
    main.append(form);
    password.focus();
  }

  // ---- the job: events, polling, the banner ----

  function stopUpdates() {
    if (state.events) {
      state.events.close();
      state.events = null;
    }
    if (state.pollTimer) {
      clearInterval(state.pollTimer);
      state.pollTimer = null;
    }
  }

  function startUpdates() {
    stopUpdates();
    if (typeof EventSource === "function") {
      const events = new EventSource("/api/events", { withCredentials: true });
      events.addEventListener("job", (ev) => {
        let job = null;
        try {
          job = JSON.parse(ev.data);
        } catch (e) {
          return;
        }
        if (job && typeof job === "object" && "job" in job && !("state" in job)) job = job.job;
        updateJob(job);
      });
      events.onopen = () => {
        document.body.dataset.updates = "events";
      };
      events.onerror = () => {
        // The events stream went away: ask once a second instead.
        events.close();
        if (state.events === events) state.events = null;
        startPolling();
      };
      state.events = events;
    } else {
      startPolling();
    }
  }

  function startPolling() {
    if (state.pollTimer) return;
    document.body.dataset.updates = "polling";
    const poll = async () => {
      try {
        const data = await api("GET", "/api/job");
        updateJob(data.job);
      } catch (e) {
        if (e instanceof ApiError && e.status === 401) {
          stopUpdates();
          renderLogin();
        }
      }
    };
    state.pollTimer = setInterval(poll, 1000);
    poll();
  }

  function updateJob(job) {
    job = job || null;
    state.job = job;
    renderBanner();
    if (state.page === "jobs") renderJobPanel();
    const key = job ? job.id + ":" + job.state : "none";
    const previous = state.jobKey;
    state.jobKey = key;
    if (previous !== null && previous !== key && job && job.state !== "running") jobEnded(job);
  }

  // A job has just ended: what the pages show may have changed.
  function jobEnded(job) {
    if (state.page === "overview" || state.page === "history") {
      refresh();
    } else if (state.page === "jobs") {
      refreshFiles().catch(showError);
    } else if (state.page === "scale") {
      const note = $("#scale-stale");
      if (note && job.scales && job.scales.some((s) => s.address === note.dataset.scale)) note.hidden = false;
    }
  }

  function renderBanner() {
    const banner = $("#job-banner");
    const job = state.job;
    if (!job) {
      banner.hidden = true;
      return;
    }
    banner.hidden = false;
    banner.dataset.state = job.state;
    let text = "Job " + job.id + " (" + job.kind + "): " + job.state;
    if (job.state === "running" && job.scales && job.scales.length) {
      let done = 0;
      let total = 0;
      for (const s of job.scales) {
        done += s.done || 0;
        total += s.total || 0;
      }
      if (total > 0) text += ", " + Math.floor((100 * done) / total) + "%";
    }
    banner.textContent = text;
  }

  // Starts a job; its first state comes back at once.
  async function startJob(request) {
    const answer = await api("POST", "/api/jobs", request);
    if (answer.job) updateJob(answer.job);
    return answer;
  }

  // ---- router ----

  function refresh() {
    route(true);
  }

  async function route(keepMessage) {
    const seq = ++state.routeSeq;
    const hash = location.hash || "#/";
    const q = hash.indexOf("?");
    const path = q < 0 ? hash : hash.slice(0, q);
    const params = new URLSearchParams(q < 0 ? "" : hash.slice(q + 1));
    if (!keepMessage) clearMessage();
    if (!state.session) return;
    if (state.session.password && !state.session.logged_in) {
      renderLogin();
      return;
    }
    const current = () => seq === state.routeSeq;
    try {
      if (path === "#/" || path === "#" || path === "") {
        await renderOverview(current);
      } else if (path.startsWith("#/scale/")) {
        await renderScale(current, decodeURIComponent(path.slice("#/scale/".length)));
      } else if (path === "#/jobs") {
        await renderJobs(current);
      } else if (path === "#/history") {
        await renderHistory(current, params);
      } else {
        const main = setPage("missing", "No such page");
        main.append(
          el("h1", { text: "No such page" }),
          el("p", {}, el("a", { href: "#/", text: "Go to the scales" }))
        );
      }
    } catch (e) {
      if (!current()) return;
      if (e instanceof ApiError && e.status === 401) {
        renderLogin();
        return;
      }
      showError(e);
      if ($("#main").dataset.page === "loading") {
        setPage("failed", "Not available").append(el("p", { class: "quiet", text: "This page could not be shown." }));
      }
    }
  }

  // ---- overview ----

  async function loadScales() {
    const data = await api("GET", "/api/overview");
    state.scales = Array.isArray(data.scales) ? data.scales : [];
    updateScaleLink();
    return data;
  }

  function lastBackupCell(b) {
    if (!b) return el("td", { class: "last-backup none", text: "never" });
    return el(
      "td",
      { class: "last-backup", title: b.file || null },
      el("span", { class: "time", text: shortTime(b.time) }),
      el("span", { class: "sub", text: plural(b.articles || 0, "article", "articles") })
    );
  }

  function lastLoadCell(l) {
    if (!l) return el("td", { class: "last-load none", text: "none" });
    const result = resultText(l.result);
    return el(
      "td",
      { class: "last-load" + (resultIsBad(result) ? " bad" : "") },
      el("span", { class: "time", text: shortTime(l.time) }),
      el("span", {
        class: "sub",
        text: l.kind + (l.job !== undefined && l.job !== null ? " (job " + l.job + ")" : "") + (result ? ": " + result : ""),
      })
    );
  }

  async function renderOverview(current) {
    const data = await loadScales();
    if (!current()) return;
    const main = setPage("overview", "Scales");
    const scan = el("button", { id: "scan-button", type: "button", class: "primary", text: "Scan the bus" });
    scan.addEventListener("click", () =>
      act(scan, async () => {
        await startJob({ kind: "scan" });
        showMessage("Scanning the bus for scales. The table is brought up to date when the scan ends.", "info");
      })
    );
    main.append(
      el(
        "div",
        { class: "title-row" },
        el("h1", { text: "Scales" }),
        el("div", { class: "buttons" }, scan, el("a", { class: "button", href: "#/jobs", text: "Back up or load…" }))
      )
    );
    if (!state.scales.length) {
      main.append(el("p", { class: "quiet", text: "The shop file names no scales." }));
      main.dataset.ready = "1";
      if ("job" in data) updateJob(data.job);
      return;
    }
    const body = el("tbody");
    for (const s of state.scales) {
      const drift = Number(s.drift) || 0;
      const unknown = Number(s.unknown) || 0;
      body.append(
        el(
          "tr",
          { dataset: { scale: s.address } },
          el("td", { class: "name" }, el("a", { href: "#/scale/" + encodeURIComponent(s.address), text: s.name || s.address })),
          el("td", { class: "address", text: s.address }),
          s.last_contact ? timeCell(s.last_contact) : el("td", { class: "time none", text: "never" }),
          lastBackupCell(s.last_backup),
          lastLoadCell(s.last_load),
          el("td", { class: "number known", text: String(s.known === undefined ? "" : s.known) }),
          el("td", { class: "number unknown" + (unknown > 0 ? " warn" : ""), text: String(unknown) }),
          el("td", {
            class: "number drift" + (drift > 0 ? " warn" : ""),
            title: drift > 0 ? "changed at the scale's keypad, found by its last backup" : null,
            text: String(drift),
          })
        )
      );
    }
    main.append(
      el(
        "table",
        { id: "overview-table", class: "data" },
        el(
          "thead",
          {},
          el(
            "tr",
            {},
            el("th", { text: "Name" }),
            el("th", { text: "Address" }),
            el("th", { text: "Last contact" }),
            el("th", { text: "Last backup" }),
            el("th", { text: "Last load" }),
            el("th", { class: "number", text: "Known", title: "articles the shop's store knows this scale holds" }),
            el("th", { class: "number", text: "Unknown", title: "articles whose sending began and no answer confirmed it" }),
            el("th", { class: "number", text: "Keypad changes", title: "changes made at the scale's keypad that its last backup found" })
          )
        ),
        body
      ),
      el("p", { class: "quiet", text: "Click a scale's name to see its articles, its history and to compare it with a backup." })
    );
    main.dataset.ready = "1";
    if ("job" in data) updateJob(data.job);
  }

  // ---- one scale ----

  async function renderScale(current, address) {
    if (!address) {
      const data = await loadScales();
      if (!current()) return;
      const main = setPage("scale", "Articles");
      main.append(el("h1", { text: "Articles" }), el("p", { text: "Choose a scale:" }));
      main.append(
        el(
          "ul",
          { class: "choices" },
          data.scales.map((s) =>
            el("li", {}, el("a", { class: "button", href: "#/scale/" + encodeURIComponent(s.address), text: scaleLabel(s.address) }))
          )
        )
      );
      main.dataset.ready = "1";
      return;
    }
    const q = encodeURIComponent(address);
    const [data, history] = await Promise.all([
      api("GET", "/api/scale?address=" + q),
      api("GET", "/api/history?scale=" + q),
      state.scales.length ? Promise.resolve(null) : loadScales().catch(() => null),
    ]);
    if (!current()) return;
    state.lastScale = data.address || address;
    updateScaleLink();
    const main = setPage("scale", (data.address || address) + " " + (data.name || ""));
    main.dataset.scale = data.address || address;
    const articles = Array.isArray(data.articles) ? data.articles : [];
    const columns = Array.isArray(data.columns) ? data.columns : [];
    const unknown = articles.filter((a) => a.unknown).length;

    main.append(
      el(
        "div",
        { class: "title-row" },
        el("h1", {}, el("span", { id: "scale-address", text: data.address || address }), " ", el("span", { id: "scale-name", text: data.name || "" })),
        el("div", { class: "buttons" }, el("a", { class: "button", href: "#/history?scale=" + q, text: "Full history" }))
      ),
      el(
        "p",
        { id: "scale-summary" },
        plural(articles.length, "article", "articles") + " the shop's store knows this scale holds" +
          (unknown ? "; " + unknown + " of them unknown (marked): their sending began and no answer confirmed them" : "") + "."
      ),
      el("p", { id: "scale-stale", class: "note", hidden: true, dataset: { scale: data.address || address } },
        "A job has changed this scale since this page was shown. ",
        el("a", { href: location.hash, onclick: (ev) => { ev.preventDefault(); refresh(); }, text: "Show it again" }))
    );

    // The articles grid.
    const search = el("input", {
      id: "article-search",
      type: "search",
      placeholder: "PLU or part of the name",
      "aria-label": "Find an article by PLU or name",
      autocomplete: "off",
    });
    const shown = el("span", { id: "article-count", class: "quiet" });
    main.append(el("h2", { text: "Articles" }), el("div", { class: "toolbar" }, el("label", { for: "article-search", text: "Find" }), search, shown));
    const grid = buildGrid(articles, columns, shown);
    main.append(grid.wrap);
    grid.start();
    let pending = 0;
    search.addEventListener("input", () => {
      if (pending) cancelAnimationFrame(pending);
      pending = requestAnimationFrame(() => {
        pending = 0;
        grid.filter(search.value);
      });
    });

    // Compare with a backup.
    const snapshots = Array.isArray(data.snapshots) ? data.snapshots : [];
    main.append(el("h2", { text: "Compare with a backup" }));
    if (!snapshots.length) {
      main.append(el("p", { class: "quiet", text: "The store has no backup of this scale yet." }));
    } else {
      const select = el(
        "select",
        { id: "compare-snapshot", "aria-label": "Backup to compare with" },
        snapshots.map((s) =>
          el("option", {
            value: String(s.id),
            text: shortTime(s.taken) + " · " + plural(s.records || 0, "record", "records") + (s.file ? " · " + s.file : ""),
          })
        )
      );
      const button = el("button", { id: "compare-button", type: "button", class: "primary", text: "Compare" });
      const result = el("div", { id: "compare-result" });
      button.addEventListener("click", () =>
        act(button, async () => {
          const answer = await api(
            "GET",
            "/api/compare?address=" + q + "&snapshot=" + encodeURIComponent(select.value)
          );
          renderCompare(result, answer, grid);
        })
      );
      main.append(el("div", { class: "toolbar" }, select, button), result);
    }

    // The scale's history.
    main.append(el("h2", { text: "History of this scale" }));
    main.append(changesTable(history.changes || [], "scale-history", false));
    main.dataset.ready = "1";
  }

  // The grid of up to 10000 articles. Laying out every row of so large a table takes the
  // browser seconds, so only the rows in sight (and some on either side) are in the table; the
  // rest is empty space of the same height, filled in as the grid scrolls.
  function buildGrid(articles, columns, countLabel) {
    const heads = [
      { key: "plu", label: "PLU", title: "PLU number", width: 8 },
      { key: "name", label: "Name", title: "the article's name", width: 27 },
    ].concat(
      columns.map((c) => {
        const label = fieldLabel(c.name, c.column);
        return { key: c.column, label, title: c.column, width: Math.max(label.length + 2, digitsOf(c.column)) + 3 };
      })
    );
    const colgroup = el("colgroup");
    const markCol = el("col");
    markCol.style.width = "10ch";
    colgroup.append(markCol);
    let total = 10;
    for (const h of heads) {
      const col = el("col");
      col.style.width = h.width + "ch";
      colgroup.append(col);
      total += h.width;
    }
    const headRow = el("tr");
    headRow.append(el("th", { class: "mark", title: "unknown articles are marked" }));
    for (const h of heads) {
      headRow.append(
        el("th", {
          class: "sortable" + (h.key === "plu" ? " number" : ""),
          title: h.title + " (click to sort)",
          dataset: { column: h.key },
          text: h.label,
        })
      );
    }
    const tbody = el("tbody");
    const table = el("table", { id: "articles", class: "data grid" }, colgroup, el("thead", {}, headRow), tbody);
    table.style.width = total + "ch";
    const wrap = el("div", { class: "grid-wrap", id: "articles-wrap" }, table);

    const template = el("tr");
    for (let i = 0; i < heads.length + 1; ++i) template.append(el("td"));
    template.children[0].className = "mark";
    template.children[1].className = "number plu";
    template.children[2].className = "name";
    const spacer = () => {
      const tr = el("tr", { class: "spacer", "aria-hidden": "true" }, el("td", { colspan: heads.length + 1 }));
      return tr;
    };
    const above = spacer();
    const below = spacer();

    const all = articles.map((a) => {
      const name = a.name === undefined || a.name === null ? "" : String(a.name);
      return { article: a, name, plu: String(a.plu), key: name.toLowerCase() };
    });
    let view = all;
    let marks = new Map(); // plu -> Map(field -> the backup's value)
    const index = new Map(heads.map((h, i) => [h.key, i + 1]));

    function rowOf(r) {
      const a = r.article;
      const tr = template.cloneNode(true);
      const cells = tr.children;
      tr.dataset.plu = r.plu;
      if (a.unknown) {
        tr.className = "unknown";
        cells[0].textContent = "unknown";
        cells[0].title = "its sending began and no answer confirmed it";
      }
      cells[1].textContent = r.plu;
      cells[2].textContent = r.name;
      cells[2].title = r.name;
      const fields = a.fields || {};
      for (let i = 0; i < columns.length; ++i) {
        const v = fields[columns[i].column];
        cells[3 + i].textContent = v === undefined || v === null ? "" : String(v);
      }
      const marked = marks.get(r.plu);
      if (marked) {
        for (const [field, then] of marked) {
          const i = index.get(field);
          if (i === undefined) continue;
          cells[i].classList.add("differs");
          cells[i].title = "in the backup: " + then;
        }
      }
      return tr;
    }

    const overscan = 40;
    let rowHeight = 0;
    let shown = [-1, -1];
    function render(force) {
      const rh = rowHeight || 30;
      const top = wrap.scrollTop;
      const height = wrap.clientHeight || 600;
      const start = Math.max(0, Math.floor(top / rh) - overscan);
      const end = Math.min(view.length, Math.ceil((top + height) / rh) + overscan);
      if (!force && shown[0] === start && shown[1] === end) return;
      shown = [start, end];
      const f = document.createDocumentFragment();
      above.hidden = start === 0;
      above.firstChild.style.height = start * rh + "px";
      f.append(above);
      for (let i = start; i < end; ++i) f.append(rowOf(view[i]));
      below.hidden = end === view.length;
      below.firstChild.style.height = (view.length - end) * rh + "px";
      f.append(below);
      tbody.textContent = "";
      tbody.append(f);
      if (!rowHeight && end > start) {
        const measured = tbody.children[1].getBoundingClientRect().height;
        if (measured > 0) {
          rowHeight = measured;
          if (Math.abs(measured - rh) > 0.5) render(true);
        }
      }
    }
    let pending = 0;
    wrap.addEventListener("scroll", () => {
      if (!pending)
        pending = requestAnimationFrame(() => {
          pending = 0;
          render(false);
        });
    });

    const countText = (n) =>
      n === all.length ? plural(all.length, "article", "articles") : "showing " + n + " of " + plural(all.length, "article", "articles");
    function shownChanged() {
      countLabel.textContent = countText(view.length);
      table.dataset.shown = String(view.length);
      wrap.scrollTop = 0;
      render(true);
    }

    let query = "";
    function filter(text) {
      query = text.trim().toLowerCase();
      view = query ? all.filter((r) => r.plu.includes(query) || r.key.includes(query)) : all;
      shownChanged();
    }

    let sortKey = "plu";
    let ascending = true;
    headRow.addEventListener("click", (ev) => {
      const th = ev.target.closest("th[data-column]");
      if (!th) return;
      const key = th.dataset.column;
      ascending = key === sortKey ? !ascending : true;
      sortKey = key;
      const collator = new Intl.Collator(undefined, { sensitivity: "base" });
      const byPlu = (x, y) => Number(x.article.plu) - Number(y.article.plu);
      const value = (r) => (key === "name" ? r.name : String((r.article.fields || {})[key] || ""));
      const compare = key === "plu" ? byPlu : (x, y) => collator.compare(value(x), value(y)) || byPlu(x, y);
      all.sort(ascending ? compare : (x, y) => compare(y, x));
      for (const other of $$("th[data-column]", headRow)) other.removeAttribute("aria-sort");
      th.setAttribute("aria-sort", ascending ? "ascending" : "descending");
      filter(query);
    });

    // Marks the cells that differ from a backup; clears earlier marks.
    function markDifferences(differences) {
      marks = new Map();
      for (const d of differences) {
        const fields = new Map();
        for (const f of d.fields || []) fields.set(f.field, f.snapshot === undefined ? "" : String(f.snapshot));
        marks.set(String(d.plu), fields);
      }
      render(true);
    }

    return {
      wrap,
      table,
      start: () => shownChanged(),
      filter,
      markDifferences,
    };
  }

  // "c41_46" -> 6, "c84" -> 1.
  function digitsOf(column) {
    const m = /^c(\d+)(?:_(\d+))?$/.exec(column);
    if (!m) return 6;
    return m[2] ? Number(m[2]) - Number(m[1]) + 1 : 1;
  }

  function renderCompare(box, answer, grid) {
    box.textContent = "";
    const differences = Array.isArray(answer.differences) ? answer.differences : [];
    const onlyScale = Array.isArray(answer.only_scale) ? answer.only_scale : [];
    const onlySnapshot = Array.isArray(answer.only_snapshot) ? answer.only_snapshot : [];
    const summary = [
      plural(Number(answer.same) || 0, "article is the same", "articles are the same"),
      plural(differences.length, "differs", "differ"),
      onlyScale.length + " only on the scale",
      onlySnapshot.length + " only in the backup",
    ].join("; ");
    box.append(el("p", { id: "compare-summary", class: differences.length || onlyScale.length || onlySnapshot.length ? "note" : "good", text: summary + "." }));
    if (differences.length) {
      const body = el("tbody");
      for (const d of differences) {
        const fields = d.fields || [];
        fields.forEach((f, i) => {
          const tr = el("tr", { dataset: { plu: String(d.plu), field: f.field } });
          if (i === 0) {
            tr.append(
              el("td", { class: "number", rowspan: fields.length, text: String(d.plu) }),
              el("td", { class: "name", rowspan: fields.length, text: d.name || "" })
            );
          }
          tr.append(
            el("td", { class: "field", title: f.field, text: fieldLabel(f.name, f.field) }),
            el("td", { class: "value scale-value differs", text: f.scale === undefined ? "" : String(f.scale) }),
            el("td", { class: "value snapshot-value differs", text: f.snapshot === undefined ? "" : String(f.snapshot) })
          );
          body.append(tr);
        });
      }
      box.append(
        el(
          "table",
          { id: "compare-table", class: "data" },
          el(
            "thead",
            {},
            el("tr", {}, el("th", { text: "PLU" }), el("th", { text: "Name" }), el("th", { text: "Field" }), el("th", { text: "On the scale" }), el("th", { text: "In the backup" }))
          ),
          body
        )
      );
    }
    const list = (id, title, plus) =>
      plus.length ? el("p", { id, class: "note" }, title + ": " + plus.join(", ")) : null;
    box.append(list("compare-only-scale", "PLUs only on the scale", onlyScale));
    box.append(list("compare-only-snapshot", "PLUs only in the backup", onlySnapshot));
    grid.markDifferences(differences);
  }

  function fieldChanges(fields) {
    return el(
      "ul",
      { class: "changes" },
      (fields || []).map((f) =>
        el(
          "li",
          { dataset: { field: f.field } },
          el("span", { class: "field", title: f.field, text: fieldLabel(f.name, f.field) }),
          ": ",
          el("span", { class: "old", text: f.old === undefined || f.old === null ? "" : String(f.old) }),
          " → ",
          el("span", { class: "new", text: f.new === undefined || f.new === null ? "" : String(f.new) })
        )
      )
    );
  }

  function changesTable(changes, id, withScale) {
    if (!changes.length) return el("p", { id, class: "quiet", text: "No changes known." });
    const withName = changes.some((c) => c.name);
    const head = el("tr", {}, el("th", { text: "Time" }));
    if (withScale) head.append(el("th", { text: "Scale" }));
    head.append(el("th", { text: "PLU" }));
    if (withName) head.append(el("th", { text: "Name" }));
    head.append(el("th", { text: "What changed" }), el("th", { text: "Cause" }));
    const body = el("tbody");
    for (const c of changes) {
      const tr = el("tr", { dataset: { scale: c.scale || "", plu: String(c.plu), job: c.job === undefined || c.job === null ? "" : String(c.job) } });
      tr.append(timeCell(c.time));
      if (withScale) tr.append(el("td", { class: "address", title: scaleLabel(c.scale), text: c.scale || "" }));
      tr.append(el("td", { class: "number", text: String(c.plu) }));
      if (withName) tr.append(el("td", { class: "name", text: c.name || "" }));
      tr.append(el("td", {}, fieldChanges(c.fields)), el("td", { class: "cause", text: causeText(c) }));
      body.append(tr);
    }
    return el("table", { id, class: "data" }, el("thead", {}, head), body);
  }

  // ---- jobs ----

  function scaleChooser(name) {
    const box = el("fieldset", { class: "scale-chooser", id: name + "-scales" }, el("legend", { text: "Scales" }));
    const all = el("input", { type: "checkbox", id: name + "-all" });
    box.append(el("label", { class: "check all" }, all, " all scales"));
    const list = el("div", { class: "checks" });
    for (const s of state.scales) {
      list.append(
        el(
          "label",
          { class: "check" },
          el("input", { type: "checkbox", name: name + "-scale", value: s.address, dataset: { scale: s.address } }),
          " ",
          el("span", { text: scaleLabel(s.address) })
        )
      );
    }
    all.addEventListener("change", () => {
      for (const c of $$("input[type=checkbox]", list)) c.checked = all.checked;
    });
    list.addEventListener("change", () => {
      const boxes = $$("input[type=checkbox]", list);
      all.checked = boxes.length > 0 && boxes.every((c) => c.checked);
    });
    box.append(list);
    const chosen = () => $$("input[type=checkbox]", list).filter((c) => c.checked).map((c) => c.value);
    return { box, chosen };
  }

  function passwordField(id) {
    if (!state.session || !state.session.password) return { box: null, value: () => undefined };
    const input = el("input", { id, type: "password", autocomplete: "current-password" });
    const box = el("div", { class: "row" }, el("label", { for: id, text: "Your password (asked again for this job)" }), input);
    return { box, value: () => input.value, input };
  }

  async function renderJobs(current) {
    const [overview, files] = await Promise.all([loadScales(), api("GET", "/api/files")]);
    if (!current()) return;
    const main = setPage("jobs", "Jobs");
    main.append(el("h1", { text: "Jobs" }));

    // The running or last job.
    main.append(el("section", { id: "job-section", class: "card" }, el("h2", { text: "The current job" }), el("div", { id: "job" })));

    // The plan of a load or a restore, shown before it is sent.
    main.append(el("section", { id: "plan", class: "card plan", hidden: true }));

    const forms = el("div", { class: "cards" });
    main.append(el("h2", { text: "Start a job" }), forms);

    // Back up.
    {
      const chooser = scaleChooser("backup");
      const plu = el("input", { id: "backup-plu", type: "text", placeholder: "every PLU", size: 14, inputmode: "numeric" });
      const button = el("button", { id: "backup-button", type: "button", class: "primary", text: "Back up" });
      button.addEventListener("click", () =>
        act(button, async () => {
          const scales = chooser.chosen();
          if (!scales.length) throw new Error("Choose the scales to back up.");
          const request = { kind: "backup", scales };
          if (plu.value.trim()) request.plu = plu.value.trim();
          await startJob(request);
          clearMessage();
        })
      );
      forms.append(
        el(
          "section",
          { id: "backup-card", class: "card" },
          el("h3", { text: "Back up scales" }),
          el("p", { class: "quiet", text: "Reads every article of the scales into dated backup files." }),
          chooser.box,
          el("div", { class: "row" }, el("label", { for: "backup-plu", text: "PLUs (e.g. 1-1000,2000)" }), plu),
          el("div", { class: "buttons" }, button)
        )
      );
    }

    // Load a file.
    {
      const chooser = scaleChooser("load");
      const fileInput = el("input", { id: "upload-file", type: "file", accept: ".txt,.csv,text/plain,text/csv" });
      const uploadResult = el("div", { id: "upload-result" });
      const select = el("select", { id: "load-file", "aria-label": "File to load" });
      const changed = el("input", { id: "load-changed", type: "checkbox" });
      const verify = el("input", { id: "load-verify", type: "checkbox", checked: true });
      const password = passwordField("load-password");
      const button = el("button", { id: "load-plan-button", type: "button", class: "primary", text: "Plan the load…" });
      fillUploads(select, files.uploads || []);
      fileInput.addEventListener("change", () => {
        const file = fileInput.files && fileInput.files[0];
        if (!file) return;
        act(fileInput, async () => {
          uploadResult.textContent = "";
          if (file.size > 16 * 1024 * 1024) throw new Error(file.name + " is larger than 16 MB, the most a file may be.");
          uploadResult.append(el("p", { class: "quiet", text: "Sending " + file.name + "…" }));
          const form = new FormData();
          form.append("file", file, file.name);
          let answer;
          try {
            answer = await api("POST", "/api/upload", form);
          } finally {
            uploadResult.textContent = "";
            fileInput.value = "";
          }
          state.uploads[answer.id] = answer;
          showUpload(uploadResult, answer);
          const listed = await api("GET", "/api/files");
          fillUploads(select, listed.uploads || [], answer.id);
          fillBackups(listed.backups || []);
        });
      });
      button.addEventListener("click", () =>
        act(button, async () => {
          const scales = chooser.chosen();
          if (!select.value) throw new Error("Upload a file first, then choose it.");
          if (!scales.length) throw new Error("Choose the scales to load.");
          const upload = state.uploads[select.value];
          if (upload && upload.ok === false) throw new Error(upload.name + " has problems and cannot be sent: " + (upload.problems || []).join("; "));
          const request = { kind: "load", scales, file: select.value, changed: changed.checked, verify: verify.checked };
          if (password.box) request.password = password.value();
          const option = select.options[select.selectedIndex];
          await plan(request, "Load " + (option ? option.dataset.name : select.value) + " into " + scales.join(", "));
        })
      );
      forms.append(
        el(
          "section",
          { id: "load-card", class: "card" },
          el("h3", { text: "Load a file into scales" }),
          el("p", { class: "quiet", text: "A PLU file or a price list (CSV). The load is planned first: you see what it sends before anything is sent." }),
          el("div", { class: "row" }, el("label", { for: "upload-file", text: "Upload a file" }), fileInput),
          uploadResult,
          el("div", { class: "row" }, el("label", { for: "load-file", text: "File" }), select),
          chooser.box,
          el("label", { class: "check" }, changed, " only what differs from what the scales hold (--changed)"),
          el("label", { class: "check" }, verify, " read every record back and compare (--verify)"),
          password.box,
          el("div", { class: "buttons" }, button)
        )
      );
    }

    // Restore a scale.
    {
      const scale = el(
        "select",
        { id: "restore-scale", "aria-label": "Scale to restore" },
        state.scales.map((s) => el("option", { value: s.address, text: scaleLabel(s.address) }))
      );
      const backup = el("select", { id: "restore-backup", "aria-label": "Backup to restore" });
      const password = passwordField("restore-password");
      const button = el("button", { id: "restore-plan-button", type: "button", class: "primary", text: "Plan the restore…" });
      scale.addEventListener("change", () => fillBackups(state.backups || []));
      button.addEventListener("click", () =>
        act(button, async () => {
          if (!backup.value) throw new Error("There is no backup of " + scaleLabel(scale.value) + " to restore.");
          const request = { kind: "restore", scales: [scale.value], backup: backup.value };
          if (password.box) request.password = password.value();
          await plan(request, "Restore " + scaleLabel(scale.value) + " from " + backup.value);
        })
      );
      forms.append(
        el(
          "section",
          { id: "restore-card", class: "card" },
          el("h3", { text: "Restore a scale from a backup" }),
          el("p", { class: "quiet", text: "Makes the scale hold exactly what the backup holds, and reads every record back. The plan says which later loads it undoes." }),
          el("div", { class: "row" }, el("label", { for: "restore-scale", text: "Scale" }), scale),
          el("div", { class: "row" }, el("label", { for: "restore-backup", text: "Backup" }), backup),
          password.box,
          el("div", { class: "buttons" }, button)
        )
      );
    }
    fillBackups(files.backups || []);
    if ("job" in overview) state.job = overview.job || state.job;
    updateJob(state.job);
    main.dataset.ready = "1";
  }

  function fillUploads(select, uploads, choose) {
    const keep = choose || select.value;
    const key = JSON.stringify(uploads.map((u) => [u.id, u.name, u.kind, u.size]));
    if (select.dataset.key === key) {
      if (choose) select.value = choose;
      return;
    }
    select.dataset.key = key;
    select.textContent = "";
    if (!uploads.length) select.append(el("option", { value: "", text: "no file uploaded yet" }));
    for (const u of uploads) {
      select.append(
        el("option", {
          value: u.id,
          dataset: { name: u.name },
          text: u.name + " (" + (u.kind || "file") + ", " + sizeText(u.size) + ")",
        })
      );
    }
    if (keep && uploads.some((u) => u.id === keep)) select.value = keep;
  }

  function fillBackups(backups) {
    state.backups = backups;
    const select = $("#restore-backup");
    const scale = $("#restore-scale");
    if (!select || !scale) return;
    const keep = select.value;
    const mine = backups.filter((b) => b.scale === scale.value);
    const key = JSON.stringify([scale.value].concat(mine.map((b) => [b.name, b.size])));
    if (select.dataset.key === key) return;
    select.dataset.key = key;
    select.textContent = "";
    if (!mine.length) select.append(el("option", { value: "", text: "no backup of this scale" }));
    for (const b of mine) select.append(el("option", { value: b.name, text: b.name + " (" + sizeText(b.size) + ")" }));
    if (keep && mine.some((b) => b.name === keep)) select.value = keep;
  }

  async function refreshFiles() {
    const files = await api("GET", "/api/files");
    const select = $("#load-file");
    if (select) fillUploads(select, files.uploads || []);
    fillBackups(files.backups || []);
  }

  function showUpload(box, answer) {
    box.textContent = "";
    const problems = Array.isArray(answer.problems) ? answer.problems : [];
    box.dataset.ok = answer.ok ? "1" : "0";
    box.append(
      el("p", {
        id: "upload-summary",
        class: answer.ok ? "good" : "error-text",
        text: answer.name + ": " + (answer.kind || "file") + (answer.ok ? ", ready to load." : ", with problems: it cannot be sent."),
      })
    );
    if (problems.length) box.append(el("ul", { id: "upload-problems", class: "problems" }, problems.map((p) => el("li", { text: p }))));
  }

  // Asks the server what a load or a restore would do, shows it, and offers to send it.
  async function plan(request, title) {
    const box = $("#plan");
    const answer = await api("POST", "/api/jobs", Object.assign({}, request, { plan: true }));
    const p = answer.plan || {};
    const messages = Array.isArray(p.messages) ? p.messages : [];
    const status = p.status === undefined || p.status === null ? 0 : Number(p.status);
    box.textContent = "";
    box.dataset.status = String(status);
    box.dataset.kind = request.kind;
    const send = el("button", { id: "plan-send", type: "button", class: "primary big", text: "Send", disabled: status !== 0 });
    const cancel = el("button", { id: "plan-cancel", type: "button", text: "Cancel" });
    box.append(
      el("h2", { text: "Plan: " + title }),
      el("p", { class: "quiet", text: "Nothing has been sent yet. This is what the job would do:" }),
      messages.length
        ? el("ul", { id: "plan-messages", class: "messages" }, messages.map((m) => el("li", { text: m })))
        : el("p", { id: "plan-messages", class: "quiet", text: "(the plan says nothing more)" }),
      el("p", {
        id: "plan-status",
        class: status === 0 ? "good" : "error-text",
        text: status === 0 ? "It can be sent." : "It cannot be sent as it is (status " + status + ").",
      }),
      el("div", { class: "buttons" }, send, cancel)
    );
    box.hidden = false;
    cancel.addEventListener("click", () => {
      box.hidden = true;
      box.textContent = "";
    });
    send.addEventListener("click", () =>
      act(send, async () => {
        await startJob(Object.assign({}, request, { plan: false }));
        box.hidden = true;
        box.textContent = "";
        clearMessage();
        $("#job-section").scrollIntoView({ block: "start" });
      })
    );
    box.scrollIntoView({ block: "start" });
  }

  // The running or last job, updated in place as its events come.
  function renderJobPanel() {
    const panel = $("#job");
    if (!panel) return;
    const job = state.job;
    if (!job) {
      if (panel.dataset.jobId !== "") {
        panel.textContent = "";
        panel.dataset.jobId = "";
        panel.append(el("p", { class: "quiet", text: "No job has run since the server started." }));
      }
      return;
    }
    if (panel.dataset.jobId !== String(job.id)) {
      panel.textContent = "";
      panel.dataset.jobId = String(job.id);
      const stop = el("button", { id: "stop-button", type: "button", class: "danger big", text: "Stop" });
      stop.addEventListener("click", () =>
        act(stop, async () => {
          const answer = await api("POST", "/api/jobs/stop", {});
          if (answer.job) updateJob(answer.job);
        })
      );
      panel.append(
        el(
          "div",
          { class: "title-row" },
          el("h3", { id: "job-title", text: "Job " + job.id + ": " + job.kind }),
          el("div", { class: "buttons" }, stop)
        ),
        el("p", {}, el("code", { id: "job-command", text: job.command || "" })),
        el("p", { id: "job-state" }),
        el("div", { id: "job-scales", class: "job-scales" }),
        el("h4", { text: "What the run said" }),
        el("pre", { id: "job-messages", class: "messages" })
      );
    }
    const running = job.state === "running";
    const stop = $("#stop-button", panel);
    stop.hidden = !running;
    if (!running) stop.disabled = true;
    else if (!job.stop_requested) stop.disabled = false;
    if (running && job.stop_requested) stop.disabled = true;

    const stateLine = $("#job-state", panel);
    stateLine.dataset.state = job.state;
    stateLine.className = "job-state " + job.state;
    const times = "started " + shortTime(job.started) + (job.ended ? ", ended " + shortTime(job.ended) : "");
    const says = {
      running: job.stop_requested ? "Running; stopping after the current record…" : "Running",
      done: "Done",
      failed: "Failed",
      stopped: "Stopped: the job was stopped between two records",
    };
    let text = (says[job.state] || job.state) + " (" + times + ")";
    if (!running && job.status !== null && job.status !== undefined) text += ", exit status " + job.status;
    stateLine.textContent = text + ".";

    const list = $("#job-scales", panel);
    for (const s of job.scales || []) {
      let row = $$(".job-scale", list).find((r) => r.dataset.scale === s.address);
      if (!row) {
        row = el(
          "div",
          { class: "job-scale", dataset: { scale: s.address } },
          el("div", { class: "label", text: s.label || s.address }),
          el("progress", { max: 100, value: 0 }),
          el("div", { class: "progress-text" }),
          el("div", { class: "scale-state" }),
          el("div", { class: "scale-result" })
        );
        list.append(row);
      }
      const done = Number(s.done) || 0;
      const total = Number(s.total) || 0;
      const percent = s.percent !== undefined && s.percent !== null ? Number(s.percent) : total ? Math.floor((100 * done) / total) : 0;
      row.dataset.state = s.state;
      row.dataset.done = String(done);
      row.dataset.total = String(total);
      const bar = $("progress", row);
      bar.max = 100;
      bar.value = percent;
      const left = s.state === "running" ? secondsText(s.seconds_left) : "";
      $(".progress-text", row).textContent =
        done + " of " + plural(total, "record", "records") + " (" + percent + "%)" + (left ? ", " + left : "");
      const st = $(".scale-state", row);
      st.textContent = s.state;
      st.dataset.state = s.state;
      const result = $(".scale-result", row);
      result.textContent = s.result || "";
      result.className = "scale-result" + (s.result && s.result !== "ok" ? " bad" : s.result === "ok" ? " good" : "");
    }
    $("#job-messages", panel).textContent = (job.messages || []).join("\n");
  }

  // ---- history ----

  async function renderHistory(current, params) {
    const scale = (params.get("scale") || "").trim();
    const plu = (params.get("plu") || "").trim();
    const query = new URLSearchParams();
    if (scale) query.set("scale", scale);
    if (plu) query.set("plu", plu);
    const qs = query.toString();
    const data = await api("GET", "/api/history" + (qs ? "?" + qs : ""));
    if (!state.scales.length) await loadScales().catch(() => null);
    if (!current()) return;
    const main = setPage("history", "History");
    main.append(el("h1", { text: "History" }));

    const scaleInput = el("input", { id: "history-scale", type: "text", value: scale, placeholder: "all scales", list: "history-scale-list", size: 14 });
    const datalist = el("datalist", { id: "history-scale-list" }, state.scales.map((s) => el("option", { value: s.address, label: scaleLabel(s.address) })));
    const pluInput = el("input", { id: "history-plu", type: "text", value: plu, placeholder: "all PLUs", size: 10, inputmode: "numeric" });
    const show = el("button", { id: "history-show", type: "submit", class: "primary", text: "Show" });
    const form = el(
      "form",
      { id: "history-filter", class: "toolbar" },
      el("label", { for: "history-scale", text: "Scale" }),
      scaleInput,
      datalist,
      el("label", { for: "history-plu", text: "PLU" }),
      pluInput,
      show,
      el("a", { class: "button", href: "#/history", text: "Everything" })
    );
    form.addEventListener("submit", (ev) => {
      ev.preventDefault();
      const next = new URLSearchParams();
      if (scaleInput.value.trim()) next.set("scale", scaleInput.value.trim());
      if (pluInput.value.trim()) next.set("plu", pluInput.value.trim());
      const hash = "#/history" + (next.toString() ? "?" + next.toString() : "");
      if (location.hash === hash) refresh();
      else location.hash = hash;
    });
    main.append(form);

    const jobs = Array.isArray(data.jobs) ? data.jobs : [];
    main.append(el("h2", { text: "Recent jobs" }));
    if (!jobs.length) {
      main.append(el("p", { id: "history-jobs", class: "quiet", text: "No jobs known." }));
    } else {
      const body = el("tbody");
      for (const j of jobs) {
        const result = resultText(j.result);
        body.append(
          el(
            "tr",
            { dataset: { job: String(j.id), kind: j.kind || "" } },
            el("td", { class: "number", text: String(j.id) }),
            el("td", { text: j.kind || "" }),
            el("td", { class: "arguments", text: j.arguments || "" }),
            el("td", { text: j.origin || "" }),
            el("td", { class: "result" + (resultIsBad(result) ? " bad" : ""), text: result }),
            timeCell(j.started),
            timeCell(j.ended)
          )
        );
      }
      main.append(
        el(
          "table",
          { id: "history-jobs", class: "data" },
          el(
            "thead",
            {},
            el("tr", {}, el("th", { text: "Job" }), el("th", { text: "Kind" }), el("th", { text: "Arguments" }), el("th", { text: "From" }), el("th", { text: "Result" }), el("th", { text: "Started" }), el("th", { text: "Ended" }))
          ),
          body
        )
      );
    }
    main.append(el("h2", { text: "Changes" }));
    main.append(changesTable(Array.isArray(data.changes) ? data.changes : [], "history-changes", true));
    main.dataset.ready = "1";
  }

  // ---- start ----

  async function start() {
    try {
      state.session = await api("GET", "/api/session");
    } catch (e) {
      setPage("failed", "Not available").append(el("p", { class: "quiet", text: "The page cannot reach the server." }));
      showError(e);
      return;
    }
    renderFooter();
    if (state.session.password && !state.session.logged_in) {
      renderLogin();
      return;
    }
    startUpdates();
    await route(true);
  }

  window.addEventListener("hashchange", () => route(false));
  document.addEventListener("DOMContentLoaded", start);
})();
