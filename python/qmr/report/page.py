"""One self-contained HTML page: headings, tables and figures, with its
style and script inside the file (nothing is fetched when it opens).

A figure is data (its series, axis labels and scales) in one JSON block
of the page; the page's own script (``report.js``) draws each as SVG with
axes, a legend that toggles series, values on hover and zoom. Series
longer than :data:`MAX_POINTS` are thinned (the first, last, lowest and
highest point of each stretch kept) and the page says so.
"""

from __future__ import annotations

import html
import json
from dataclasses import dataclass, field
from importlib import resources
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Union

import numpy as np

__all__ = ["Page", "Series", "MAX_POINTS", "thin", "esc"]

# The most points a series keeps on the page: a report of a run of 99,998
# elements and thousands of steps stays a few megabytes and opens quickly.
MAX_POINTS = 2000


def esc(text: Any) -> str:
    """Text for HTML."""
    return html.escape(str(text), quote=True)


def thin(x: np.ndarray, y: np.ndarray, limit: int = MAX_POINTS
         ) -> np.ndarray:
    """Indices of the points of a series kept on the page: all of them up
    to `limit`, else in each of about limit/4 stretches the first, the
    last, the lowest and the highest, so peaks and fronts survive."""
    n = len(y)
    if n <= limit:
        return np.arange(n)
    buckets = max(limit // 4, 1)
    b = (np.arange(n) * buckets) // n
    yy = np.asarray(y, dtype=float)
    low = np.where(np.isfinite(yy), yy, np.inf)
    high = np.where(np.isfinite(yy), yy, -np.inf)
    first = np.flatnonzero(np.diff(b, prepend=-1))
    last = np.append(first[1:] - 1, n - 1)
    lo_order = np.lexsort((low, b))
    hi_order = np.lexsort((-high, b))
    keep = np.concatenate([first, last, lo_order[first], hi_order[first]])
    gaps = np.flatnonzero(~np.isfinite(yy))
    return np.unique(np.concatenate([keep, gaps[:limit // 10]]))


def _numbers(values: Any) -> str:
    """Numbers as JSON, seven significant digits, null for NaN and
    infinities."""
    a = np.asarray(values, dtype=float).ravel()
    if not len(a):
        return "[]"
    text = np.char.mod("%.7g", a)
    text = np.where(np.isfinite(a), text, "null")
    return "[" + ",".join(text.tolist()) + "]"


@dataclass
class Series:
    """One series of a figure: a line (``mode`` "line", or "both" with
    markers when short), points ("markers"), bars ("bars") or a band
    between ``y`` and ``y2`` ("band")."""

    name: str
    x: Any
    y: Any
    mode: str = "line"
    y2: Any = None
    color: Optional[str] = None
    dash: bool = False
    legend: bool = True


@dataclass
class _Figure:
    title: str
    xlabel: str
    ylabel: str
    series: List[Series]
    logx: bool = False
    logy: bool = False
    kind: str = "line"
    xname: str = "x"
    yname: str = "y"
    thinned: int = 0       # series thinned
    longest: int = 0       # points of the longest series before thinning

    def json(self) -> str:
        parts = []
        for s in self.series:
            item = [f'"name":{json.dumps(s.name)}', f'"mode":"{s.mode}"',
                    f'"x":{_numbers(s.x)}', f'"y":{_numbers(s.y)}']
            if s.y2 is not None:
                item.append(f'"y2":{_numbers(s.y2)}')
            if s.color:
                item.append(f'"color":{json.dumps(s.color)}')
            if s.dash:
                item.append('"dash":true')
            if not s.legend:
                item.append('"legend":false')
            parts.append("{" + ",".join(item) + "}")
        head = {"title": self.title, "xlabel": self.xlabel,
                "ylabel": self.ylabel, "logx": self.logx, "logy": self.logy,
                "kind": self.kind, "xname": self.xname,
                "yname": self.yname}
        return json.dumps(head)[:-1] + ',"series":[' + ",".join(parts) + "]}"


@dataclass
class Page:
    """A report page: parts appended in order, then :meth:`write`."""

    title: str
    subtitle: str = ""
    parts: List[str] = field(default_factory=list)
    figures: Dict[str, _Figure] = field(default_factory=dict)
    toc: List[tuple] = field(default_factory=list)
    limit: int = MAX_POINTS

    def h2(self, text: str) -> None:
        """A section heading (listed in the contents)."""
        anchor = f"s{len(self.toc) + 1}"
        self.toc.append((anchor, text))
        self.parts.append(f'<h2 id="{anchor}">{esc(text)}</h2>')

    def h3(self, text: str) -> None:
        self.parts.append(f"<h3>{esc(text)}</h3>")

    def p(self, text: str, cls: str = "") -> None:
        """A paragraph of plain text."""
        c = f' class="{cls}"' if cls else ""
        self.parts.append(f"<p{c}>{esc(text)}</p>")

    def raw(self, markup: str) -> None:
        """Markup made by the caller (escaped there)."""
        self.parts.append(markup)

    def facts(self, rows: Sequence[tuple]) -> None:
        """A two-column table of names and values."""
        body = "".join(f"<tr><th>{esc(k)}</th><td>{esc(v)}</td></tr>"
                       for k, v in rows)
        self.parts.append(f'<table class="facts">{body}</table>')

    def table(self, headers: Sequence[str], rows: Sequence[Sequence[Any]],
              text_columns: Sequence[int] = (), cls: str = "",
              cell_styles: Optional[Sequence[Sequence[str]]] = None) -> None:
        """A table; numbers are shown with up to seven digits, the columns
        `text_columns` left-aligned."""
        def cell(k: int, v: Any, tag: str, style: str = "") -> str:
            c = ' class="text"' if k in text_columns else ""
            s = f' style="{style}"' if style else ""
            return f"<{tag}{c}{s}>{esc(_show(v))}</{tag}>"
        head = "".join(cell(k, h, "th") for k, h in enumerate(headers))
        body = []
        for r, row in enumerate(rows):
            styles = cell_styles[r] if cell_styles is not None else \
                [""] * len(row)
            body.append("<tr>" + "".join(cell(k, v, "td", styles[k])
                                         for k, v in enumerate(row))
                        + "</tr>")
        c = f' class="{cls}"' if cls else ""
        self.parts.append(f'<div class="scroll"><table{c}><thead><tr>{head}'
                          f'</tr></thead><tbody>{"".join(body)}</tbody>'
                          f'</table></div>')

    def figure(self, title: str, xlabel: str, ylabel: str,
               series: Sequence[Series], logx: bool = False,
               logy: bool = False, kind: str = "line",
               xname: str = "x", yname: str = "y",
               caption: str = "") -> Optional[str]:
        """A figure of `series` (those with no drawable point left out;
        no figure when none is left). `xname` and `yname` name the values
        shown on hover. Returns the figure's id."""
        kept: List[Series] = []
        fig = _Figure(title, xlabel, ylabel, kept, logx, logy, kind, xname,
                      yname)
        for s in series:
            x = np.asarray(s.x, dtype=float)
            y = np.asarray(s.y, dtype=float)
            if not np.isfinite(y).any():
                continue
            fig.longest = max(fig.longest, len(y))
            if len(y) > self.limit and s.mode != "bars":
                idx = thin(x, y if s.y2 is None else
                           np.asarray(s.y2, dtype=float), self.limit)
                fig.thinned += 1
                s = Series(s.name, x[idx], y[idx], s.mode,
                           None if s.y2 is None else
                           np.asarray(s.y2, dtype=float)[idx],
                           s.color, s.dash, s.legend)
            kept.append(s)
        if not kept:
            return None
        fid = f"fig{len(self.figures) + 1}"
        self.figures[fid] = fig
        note = ""
        if fig.thinned:
            note = (f'<p class="thinned">Thinned for the page: {fig.thinned}'
                    f' series of up to {fig.longest:,} points are shown with'
                    f' at most {self.limit:,} points each (the first, last, '
                    f'lowest and highest of each stretch kept); the CSV '
                    f'files hold every value.</p>')
        cap = f'<p class="note">{esc(caption)}</p>' if caption else ""
        self.parts.append(
            f'<figure class="plot" id="{fid}"><figcaption>{esc(title)}'
            f'</figcaption><div class="controls"></div>'
            f'<div class="canvas"></div><div class="legend"></div>'
            f'<div class="tip"></div>{cap}{note}</figure>')
        return fid

    @property
    def thinned(self) -> int:
        """How many series were thinned on the page."""
        return sum(f.thinned for f in self.figures.values())

    def render(self) -> str:
        """The whole page as text."""
        css = _asset("report.css")
        js = _asset("report.js")
        data = "{" + ",".join(f'"{k}":{f.json()}'
                              for k, f in self.figures.items()) + "}"
        data = data.replace("</", "<\\/")
        toc = ""
        if len(self.toc) > 2:
            toc = '<nav class="toc">' + "".join(
                f'<div><a href="#{a}">{esc(t)}</a></div>'
                for a, t in self.toc) + "</nav>"
        sub = f'<p class="subtitle">{esc(self.subtitle)}</p>' \
            if self.subtitle else ""
        return (
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, "
            "initial-scale=1\">"
            f"<title>{esc(self.title)}</title><style>{css}</style></head>"
            f"<body><h1>{esc(self.title)}</h1>{sub}{toc}"
            "<noscript><p class=\"error\">The figures of this report are "
            "drawn by its script: allow scripts to see them.</p></noscript>"
            + "\n".join(self.parts)
            + f'<script type="application/json" id="qmr-figures">{data}'
            f"</script><script>{js}</script></body></html>\n")

    def write(self, path: Union[str, Path]) -> Path:
        """Writes the page (UTF-8) and returns its path."""
        p = Path(path)
        p.write_text(self.render(), encoding="utf-8")
        return p


def _show(v: Any) -> str:
    if isinstance(v, (bool, np.bool_)):
        return "yes" if v else "no"
    if isinstance(v, (int, np.integer)):
        return str(int(v))
    if isinstance(v, (float, np.floating)):
        f = float(v)
        if not np.isfinite(f):
            return "–" if np.isnan(f) else str(f)
        if f != 0 and (abs(f) < 1e-3 or abs(f) >= 1e7):
            return f"{f:.4e}"
        return f"{f:.7g}"
    return "" if v is None else str(v)


def _asset(name: str) -> str:
    return resources.files(__package__).joinpath(name).read_text(
        encoding="utf-8")
