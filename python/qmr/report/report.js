// qmr report figures: each <figure class="plot"> names its data in the
// JSON block "qmr-figures"; drawn here as SVG with axes, a legend whose
// entries toggle their series, values on hover, zoom by dragging a box
// (double click or "reset" to undo) and linear or logarithmic axes.
(function () {
  "use strict";
  var NS = "http://www.w3.org/2000/svg";
  var W = 760, H = 340, M = { l: 72, r: 16, t: 14, b: 46 };
  var COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
    "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"];

  function el(name, attrs, parent) {
    var e = document.createElementNS(NS, name);
    for (var k in attrs) { e.setAttribute(k, attrs[k]); }
    if (parent) { parent.appendChild(e); }
    return e;
  }

  function fmt(v) {
    if (v === null || !isFinite(v)) { return "–"; }
    var a = Math.abs(v);
    if (a !== 0 && (a < 1e-3 || a >= 1e6)) {
      return Number(v.toPrecision(4)).toExponential(); // 1e-4, 2.5e-5
    }
    return String(Number(v.toPrecision(5)));
  }

  function niceTicks(lo, hi, n) {
    var span = hi - lo;
    if (!(span > 0)) { return [lo]; }
    var step = Math.pow(10, Math.floor(Math.log10(span / n)));
    var err = span / n / step;
    if (err >= 7.5) { step *= 10; } else if (err >= 3.5) { step *= 5; }
    else if (err >= 1.5) { step *= 2; }
    var out = [];
    for (var v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9;
      v += step) {
      out.push(Math.abs(v) < step * 1e-9 ? 0 : v);
    }
    return out;
  }

  function logTicks(lo, hi) {
    var out = [], a = Math.floor(Math.log10(lo)), b = Math.ceil(Math.log10(hi));
    var every = Math.max(1, Math.ceil((b - a) / 8));
    for (var e = a; e <= b; e += every) {
      var v = Math.pow(10, e);
      if (v >= lo * (1 - 1e-9) && v <= hi * (1 + 1e-9)) { out.push(v); }
    }
    if (out.length < 2) { return niceTicks(lo, hi, 5); }
    return out;
  }

  function Scale(lo, hi, a, b, log) {
    this.log = log;
    this.lo = lo; this.hi = hi;
    var f = log ? Math.log10 : function (v) { return v; };
    var l = f(lo), h = f(hi);
    if (!(h > l)) { h = l + 1; l = l - 1; }
    this.map = function (v) { return a + (f(v) - l) / (h - l) * (b - a); };
    this.inv = function (p) {
      var t = l + (p - a) / (b - a) * (h - l);
      return log ? Math.pow(10, t) : t;
    };
    this.ticks = function () { return log ? logTicks(lo, hi) : niceTicks(lo, hi, 6); };
  }

  function usable(v, log) { return v !== null && isFinite(v) && (!log || v > 0); }

  function extent(fig, st, axis) {
    var lo = Infinity, hi = -Infinity, log = axis === "x" ? st.logx : st.logy;
    fig.series.forEach(function (s, k) {
      if (st.off[k]) { return; }
      [s[axis], axis === "y" ? s.y2 : null].forEach(function (arr) {
        if (!arr) { return; }
        for (var i = 0; i < arr.length; i++) {
          var v = arr[i];
          if (usable(v, log)) { if (v < lo) { lo = v; } if (v > hi) { hi = v; } }
        }
      });
    });
    if (fig.kind === "bars" && axis === "y" && !log) { lo = Math.min(lo, 0); }
    if (!isFinite(lo)) { return log ? [1, 10] : [0, 1]; }
    if (lo === hi && !(fig.kind === "bars" && axis === "x")) {
      if (log) { return [lo / 2, hi * 2]; }
      var d = lo === 0 ? 1 : Math.abs(lo) * 0.1;
      return [lo - d, hi + d];
    }
    if (fig.kind === "bars" && axis === "x") {
      var n = Math.max(fig.series[0].x.length - 1, 1), half = (hi - lo) / n / 2;
      if (log) { var f = Math.pow(hi / lo, 0.5 / n); return [lo / f, hi * f]; }
      return [lo - half, hi + half];
    }
    if (!log) { var pad = (hi - lo) * 0.04; return [lo - (lo === 0 ? 0 : pad), hi + pad]; }
    var k = Math.pow(hi / lo, 0.04);
    return [lo / k, hi * k];
  }

  function pathOf(s, sx, sy, st) {
    var d = [], pen = false;
    for (var i = 0; i < s.x.length; i++) {
      var x = s.x[i], y = s.y[i];
      if (!usable(x, st.logx) || !usable(y, st.logy)) { pen = false; continue; }
      d.push((pen ? "L" : "M") + sx.map(x).toFixed(1) + "," + sy.map(y).toFixed(1));
      pen = true;
    }
    return d.join("");
  }

  function bandOf(s, sx, sy, st) {
    var up = [], down = [];
    for (var i = 0; i < s.x.length; i++) {
      if (!usable(s.x[i], st.logx) || !usable(s.y[i], st.logy) ||
        !usable(s.y2[i], st.logy)) { continue; }
      up.push(sx.map(s.x[i]).toFixed(1) + "," + sy.map(s.y2[i]).toFixed(1));
      down.unshift(sx.map(s.x[i]).toFixed(1) + "," + sy.map(s.y[i]).toFixed(1));
    }
    return up.length ? "M" + up.concat(down).join("L") + "Z" : "";
  }

  function draw(box, fig) {
    var st = box.qmrState;
    box.querySelector(".canvas").textContent = "";
    var svg = el("svg", {
      viewBox: "0 0 " + W + " " + H, width: "100%", role: "img",
      "aria-label": fig.title, "class": "chart"
    }, box.querySelector(".canvas"));
    var xr = st.xr || extent(fig, st, "x"), yr = st.yr || extent(fig, st, "y");
    var sx = new Scale(xr[0], xr[1], M.l, W - M.r, st.logx);
    var sy = new Scale(yr[0], yr[1], H - M.b, M.t, st.logy);
    var clipId = "clip-" + box.id;
    var defs = el("defs", {}, svg);
    el("rect", { x: M.l, y: M.t, width: W - M.l - M.r, height: H - M.t - M.b },
      el("clipPath", { id: clipId }, defs));
    var grid = el("g", { "class": "grid" }, svg);
    sx.ticks().forEach(function (v) {
      var p = sx.map(v);
      el("line", { x1: p, x2: p, y1: M.t, y2: H - M.b }, grid);
      el("text", { x: p, y: H - M.b + 16, "text-anchor": "middle" }, grid).textContent = fmt(v);
    });
    sy.ticks().forEach(function (v) {
      var p = sy.map(v);
      el("line", { x1: M.l, x2: W - M.r, y1: p, y2: p }, grid);
      el("text", { x: M.l - 6, y: p + 4, "text-anchor": "end" }, grid).textContent = fmt(v);
    });
    el("rect", { x: M.l, y: M.t, width: W - M.l - M.r, height: H - M.t - M.b, "class": "frame" }, svg);
    el("text", { x: (M.l + W - M.r) / 2, y: H - 8, "text-anchor": "middle", "class": "label" }, svg)
      .textContent = fig.xlabel;
    el("text", {
      x: 14, y: (M.t + H - M.b) / 2, "text-anchor": "middle", "class": "label",
      transform: "rotate(-90 14 " + ((M.t + H - M.b) / 2) + ")"
    }, svg).textContent = fig.ylabel;
    var data = el("g", { "clip-path": "url(#" + clipId + ")", "class": "data" }, svg);
    fig.series.forEach(function (s, k) {
      if (st.off[k]) { return; }
      var c = s.color || COLOURS[k % COLOURS.length];
      if (s.mode === "band") {
        el("path", { d: bandOf(s, sx, sy, st), fill: c, "fill-opacity": 0.18, stroke: "none", "class": "series" }, data);
      } else if (s.mode === "bars") {
        var bw = Math.max(1, (W - M.l - M.r) / Math.max(s.x.length, 1) * 0.8);
        var base = sy.map(st.logy ? yr[0] : Math.max(yr[0], 0));
        for (var i = 0; i < s.x.length; i++) {
          if (!usable(s.x[i], st.logx) || !usable(s.y[i], st.logy)) { continue; }
          var px = sx.map(s.x[i]), py = sy.map(s.y[i]);
          el("rect", {
            x: px - bw / 2, y: Math.min(py, base), width: bw,
            height: Math.abs(base - py), fill: c, "class": "series"
          }, data);
        }
      } else {
        if (s.mode !== "markers") {
          el("path", {
            d: pathOf(s, sx, sy, st), fill: "none", stroke: c, "stroke-width": 1.6,
            "stroke-dasharray": s.dash ? "6 4" : "none", "class": "series"
          }, data);
        }
        if (s.mode === "markers" || (s.mode === "both" && s.x.length <= 60)) {
          for (var j = 0; j < s.x.length; j++) {
            if (!usable(s.x[j], st.logx) || !usable(s.y[j], st.logy)) { continue; }
            el("circle", { cx: sx.map(s.x[j]), cy: sy.map(s.y[j]), r: 2.6, fill: c, "class": "series" }, data);
          }
        }
      }
    });
    var hover = el("g", { "class": "hover" }, svg);
    var zoom = el("rect", { "class": "zoombox", width: 0, height: 0 }, svg);
    var tip = box.querySelector(".tip");
    var area = el("rect", {
      x: M.l, y: M.t, width: W - M.l - M.r, height: H - M.t - M.b,
      fill: "transparent", "class": "area"
    }, svg);
    function local(ev) {
      var r = svg.getBoundingClientRect();
      return [(ev.clientX - r.left) * W / r.width, (ev.clientY - r.top) * H / r.height];
    }
    var start = null;
    area.addEventListener("mousedown", function (ev) { start = local(ev); ev.preventDefault(); });
    area.addEventListener("mousemove", function (ev) {
      var p = local(ev);
      if (start) {
        zoom.setAttribute("x", Math.min(start[0], p[0]));
        zoom.setAttribute("y", Math.min(start[1], p[1]));
        zoom.setAttribute("width", Math.abs(p[0] - start[0]));
        zoom.setAttribute("height", Math.abs(p[1] - start[1]));
        return;
      }
      var best = null, bd = 400;
      fig.series.forEach(function (s, k) {
        if (st.off[k] || s.mode === "band") { return; }
        for (var i = 0; i < s.x.length; i++) {
          if (!usable(s.x[i], st.logx) || !usable(s.y[i], st.logy)) { continue; }
          var dx = sx.map(s.x[i]) - p[0], dy = sy.map(s.y[i]) - p[1];
          var d = dx * dx + dy * dy;
          if (d < bd) { bd = d; best = [k, i]; }
        }
      });
      hover.textContent = "";
      if (!best) { tip.style.display = "none"; return; }
      var s = fig.series[best[0]], i = best[1];
      el("circle", { cx: sx.map(s.x[i]), cy: sy.map(s.y[i]), r: 5, "class": "mark" }, hover);
      tip.textContent = s.name + ": " + fig.xname + " = " + fmt(s.x[i]) + ", " +
        fig.yname + " = " + fmt(s.y[i]) + (s.y2 ? " to " + fmt(s.y2[i]) : "");
      tip.style.display = "block";
    });
    area.addEventListener("mouseleave", function () {
      hover.textContent = ""; tip.style.display = "none";
    });
    area.addEventListener("mouseup", function (ev) {
      if (!start) { return; }
      var p = local(ev), a = start;
      start = null;
      zoom.setAttribute("width", 0); zoom.setAttribute("height", 0);
      if (Math.abs(p[0] - a[0]) < 6 || Math.abs(p[1] - a[1]) < 6) { return; }
      st.xr = [sx.inv(Math.min(a[0], p[0])), sx.inv(Math.max(a[0], p[0]))];
      st.yr = [sy.inv(Math.max(a[1], p[1])), sy.inv(Math.min(a[1], p[1]))];
      draw(box, fig);
    });
    area.addEventListener("dblclick", function () { st.xr = st.yr = null; draw(box, fig); });
  }

  function controls(box, fig) {
    var st = box.qmrState, bar = box.querySelector(".controls");
    function button(text, on, act) {
      var b = document.createElement("button");
      b.type = "button"; b.textContent = text;
      if (on) { b.classList.add("on"); }
      b.addEventListener("click", function () { act(b); draw(box, fig); });
      bar.appendChild(b);
    }
    button("log x", st.logx, function (b) { st.logx = !st.logx; st.xr = null; b.classList.toggle("on"); });
    button("log y", st.logy, function (b) { st.logy = !st.logy; st.yr = null; b.classList.toggle("on"); });
    button("reset zoom", false, function () { st.xr = st.yr = null; });
    var legend = box.querySelector(".legend");
    fig.series.forEach(function (s, k) {
      if (s.legend === false) { return; }
      var b = document.createElement("button");
      b.type = "button"; b.className = "key";
      var sw = document.createElement("span");
      sw.className = "swatch";
      sw.style.background = s.color || COLOURS[k % COLOURS.length];
      b.appendChild(sw);
      b.appendChild(document.createTextNode(s.name));
      b.title = "show or hide this series";
      b.addEventListener("click", function () {
        st.off[k] = !st.off[k]; b.classList.toggle("off"); draw(box, fig);
      });
      legend.appendChild(b);
    });
  }

  function start() {
    var node = document.getElementById("qmr-figures");
    if (!node) { return; }
    var figs = JSON.parse(node.textContent);
    Array.prototype.forEach.call(document.querySelectorAll("figure.plot"), function (box) {
      var fig = figs[box.id];
      if (!fig) { return; }
      box.qmrState = { logx: !!fig.logx, logy: !!fig.logy, off: {}, xr: null, yr: null };
      controls(box, fig);
      draw(box, fig);
      box.setAttribute("data-drawn", "1");
    });
  }

  if (document.readyState === "loading") {
    document.addEventListener("DOMContentLoaded", start);
  } else { start(); }
}());
