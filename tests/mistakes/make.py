#!/usr/bin/env python3
"""Writes the corpus of deck mistakes: each case a folder holding the decks
of one run (or of a chain, run in name order), made from an example deck by
one mistake a user makes at the keyboard, and cases.json, which says for
each case the exit status and the texts that standard error must (and must
not) hold. Run it from anywhere; it rewrites tests/mistakes/."""
import json
import pathlib
import shutil

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLES = HERE.parent.parent / "examples"


def lines(example: str, deck: str = "VELDA.INP") -> list:
    return (EXAMPLES / example / deck).read_text().split("\n")


def shift_right(rec: str) -> str:
    return " " + rec


def replace(rec: str, old: str, new: str) -> str:
    assert old in rec, (rec, old)
    assert len(old) == len(new), (old, new)
    return rec.replace(old, new, 1)


CASES = []


def case(name, decks, status, expect, forbid=(), note=""):
    """decks: list of (file name, list of lines); expect: texts that
    standard error holds; forbid: texts it must not hold."""
    # A case with nothing to tell must tell nothing at all.
    forbid = list(forbid) if expect else list(forbid) + ["qmr:"]
    CASES.append({"name": name, "decks": decks, "status": status,
                  "expect": list(expect), "forbid": forbid, "note": note})


def flow(name, edit, status, expect, forbid=(), note=""):
    d = lines("valley")
    edit(d)
    case("valley-" + name, [("VELDA.INP", d)], status, expect, forbid, note)


def radial(name, edit, status, expect, forbid=(), note=""):
    d = lines("pumping")
    edit(d)
    case("pumping-" + name, [("VELDA.INP", d)], status, expect, forbid, note)


def transport(name, edit, status, expect, forbid=(), note=""):
    d = lines("plume")
    edit(d)
    case("plume-" + name, [("VELDA.INP", d)], status, expect, forbid, note)


def chain(name, edit, status, expect, forbid=(), note=""):
    d1 = lines("chain", "deck1.inp")
    d2 = lines("chain", "deck2.inp")
    edit(d2)
    case("chain-" + name, [("deck1.inp", d1), ("deck2.inp", d2)], status,
         expect, forbid, note)


def at(k, fn):
    """An edit of record k (1-based)."""
    def edit(d):
        d[k - 1] = fn(d[k - 1])
    return edit


def drop(k):
    def edit(d):
        del d[k - 1]
    return edit


def twice(k):
    def edit(d):
        d.insert(k, d[k - 1])
    return edit


def build():
    # --- flow run: records typed one column to the right ---------------
    flow("counts-shifted", at(6, shift_right), 1,
         ["record 6, columns 5-6 (counts record)", "shifted"],
         note="the counts read 5 elements and 0 steps; the failure six "
              "records later points back to record 6")
    flow("codes-shifted", at(7, shift_right), 1,
         ["record 7, columns 56-56 (option codes record)"])
    flow("mesh-shifted", at(8, shift_right), 0,
         ["record 8", "(graded mesh record)"])
    flow("medium-shifted", at(12, shift_right), 0,
         ["record 12, columns 8-11 (medium record of medium 1)"])
    flow("medium3-shifted", at(14, shift_right), 0,
         ["record 14", "(medium record of medium 3)"])
    flow("prescribed-shifted", at(16, shift_right), 1,
         ["record 16, columns 11-20 (prescribed-value record 1)",
          "see the warning about record 16 above"])
    flow("observation-shifted", at(19, shift_right), 1,
         ["record 19, columns 6-6 (observation nodes)",
          "observation node 0 is outside 1..51; see the warning about "
          "record 19 above"])
    flow("profile-shifted", at(24, shift_right), 0,
         ["record 24, columns 6-6 (profile steps)"])
    moved = at(6, lambda r: replace(r, "   50   41", "    50  41"))
    flow("digit-moved", moved, 1,
         ["record 6, columns 5-6 (counts record)"])
    flow("tab-in-counts", at(6, lambda r: replace(r, "   41", "\t  41")), 2,
         ["record 6, columns 6-10 (counts record): \"\\t  41\""])
    # Shifted to the left, the values stay what they were: nothing to tell.
    flow("medium-left", at(12, lambda r: r[1:]), 0, [])
    # --- flow run: values no physical model has --------------------------
    flow("negative-conductivity",
         at(12, lambda r: replace(r, "      25.0", "     -25.0")), 1,
         ["record 12, columns 1-10 (medium record of medium 1): negative "
          "hydraulic conductivity"])
    flow("negative-thickness",
         at(13, lambda r: replace(r, "      15.0", "     -15.0")), 1,
         ["record 13, columns 31-40 (medium record of medium 2): negative "
          "aquifer thickness"])
    flow("negative-width",
         at(13, lambda r: replace(r, "    1200.0", "   -1200.0")), 0,
         ["record 13, columns 71-80 (medium record of medium 2): negative "
          "aquifer width"])
    flow("grading-zero",
         at(8, lambda r: replace(r, "       1.0", "       0.0")), 1,
         ["record 8, columns 21-30 (graded mesh record): grading factor 0"])
    flow("mesh-backwards",
         at(8, lambda r: replace(r, "   10000.0", "      -1.0")), 0,
         ["record 8, columns 11-20 (graded mesh record)", "does not exceed"])
    flow("step-zero",
         at(15, lambda r: replace(r, "       0.1", "       0.0")), 0,
         ["record 15, columns 11-20 (time-step generation record): time "
          "step 0"])
    flow("zero-media",
         at(6, lambda r: replace(r, "    3    2", "    0    2")), 1,
         ["record 6, columns 11-15 (counts record): number of media 0"])
    flow("prescribed-twice", at(17, lambda r: replace(r, "   51", "    1")),
         0, ["record 17, columns 1-5 (prescribed-value record 2): node 1 is "
             "given a prescribed value twice"])
    flow("observation-twice", at(20, lambda r: replace(r, "   16", "    6")),
         0, ["record 20, columns 1-5 (observation nodes): observation node 6 "
             "is listed twice"])
    flow("profiles-out-of-order",
         lambda d: (d.__setitem__(24, "    5")), 0,
         ["record 25, columns 1-5 (profile steps): profile step 5 does not "
          "follow step 11"])
    flow("profile-beyond", at(27, lambda r: replace(r, "   41", "   99")), 0,
         ["record 27, columns 1-5 (profile steps): profile step 99 is "
          "beyond the 41 steps"])
    # --- flow run: records missing or added -----------------------------
    flow("initial-value-missing", drop(18), 1,
         ["end of file after record", "(profile steps)",
          "is a record missing above"], forbid=["(observation nodes)"])
    flow("title-missing", drop(5), 1,
         ["record 7, columns 6-10 (option codes record)",
          "a floating value stands where an integer is expected: is a "
          "record missing before it"])
    # The reading looks back for the record that went missing or was typed
    # twice and names it.
    flow("counts-missing", drop(6), 1,
         ["record 7, columns 6-10 (option codes record)",
          "is a record missing just before record 6?"])
    flow("prescribed-value-missing", drop(17), 1,
         ["record 17, columns 6-10 (prescribed-value record 2)",
          "is a record missing just before record 17?"])
    flow("zone-start-twice", twice(9), 1,
         ["main input record 10: zone start 1 of medium 2 does not follow "
          "the start 1 of medium 1; is record 10, which repeats record 9, "
          "one too many?"])
    flow("byte-order-mark", at(1, lambda r: "\ufeff" + r), 0, [])
    # --- radial run ------------------------------------------------------
    radial("log-mesh-at-zero",
           at(8, lambda r: replace(r, "       0.1", "       0.0")), 1,
           ["record 8, columns 1-10 (logarithmic mesh record): a "
            "logarithmic mesh needs coordinates greater than 0"])
    radial("medium-shifted", at(10, shift_right), 0,
           ["record 10", "(medium record of medium 1)"])
    radial("flux-shifted", at(13, shift_right), 1,
           ["record 13, columns 11-20 (prescribed-flux record 1)",
            "the field has blanks between its characters: is the record "
            "shifted by a column?"])
    # --- transport run ---------------------------------------------------
    transport("medium-shifted", at(9, shift_right), 0,
              ["record 9, columns 8-11 (medium record of medium 1)"])
    transport("porosity-percent",
              at(9, lambda r: replace(r, "      0.25", "      25.0")), 0,
              ["record 9, columns 21-30 (medium record of medium 1): "
               "porosity 25 is outside 0 to 1"])
    transport("retardation-below-one",
              at(9, lambda r: replace(r, "       2.0", "       0.5")), 0,
              ["record 9, columns 31-40 (medium record of medium 1): "
               "retardation factor 0.5 is below 1"])
    transport("negative-dispersivity",
              at(9, lambda r: replace(r, "      10.0", "     -10.0")), 0,
              ["record 9, columns 1-10 (medium record of medium 1): negative "
               "dispersivity"])
    transport("negative-decay",
              at(9, lambda r: replace(r, "    0.0005", "   -0.0005")), 0,
              ["record 9, columns 41-50 (medium record of medium 1): negative "
               "decay"])
    # The decay typed in full, 5.0000E-04, and one column to the left with
    # the rest of the record: its 5 makes the retardation 2.5, and the decay
    # reads 0.
    slip = at(9, lambda r: r[:39] + "5.0000E-04" + r[50:])
    transport("decay-slipped-left", slip, 0,
              ["record 9, columns 31-50 (medium record of medium 1): "
               "\"       2.5\" (columns 31-40) ends in its last column and "
               "\".0000E-04 \" (columns 41-50) starts in its first column",
               "column 40 holds the first character of the second field"])
    transport("prescribed-shifted", at(11, shift_right), 1,
              ["record 11, columns 11-20 (prescribed-value record 1)",
               "see the warning about record 11 above"])
    transport("default-velocity-shifted", at(13, shift_right), 0,
              ["record 13", "(default velocity record)"])
    beyond = at(22, lambda r: replace(r, "  100", "  101"))
    transport("profile-beyond", beyond, 0,
              ["record 22, columns 1-5 (profile steps): profile step 101 is "
               "beyond the 100 steps"])
    transport("byte-order-mark", at(1, lambda r: "\ufeff" + r), 0, [])
    # --- flow-to-transport chain -----------------------------------------
    chain("shorter-mesh",
          lambda d: (d.__setitem__(4, replace(d[4], "   40", "   30")),
                     d.__setitem__(17, replace(d[17], "   33", "   23"))),
          0, ["chain.vel, record 31, columns 1-5 (velocity block of step 1): "
              "element 31 follows the block of 30 elements"])
    chain("velocity-file-misspelt",
          at(7, lambda r: replace(r, "chain.vel", "chian.vel")), 1,
          ["chian.vel: the file does not exist"])
    chain("note-missing", drop(8), 1,
          ["record 9, columns 21-30 (graded mesh record): grading factor 0",
           "see the warning about record 9 above"])
    chain("zone-shifted", at(10, shift_right), 1,
          ["record 10, columns 6-6 (zone or control node numbers)",
           "see the warning about record 10 above"])
    chain("transport-medium-shifted", at(11, shift_right), 0,
          ["record 11", "(medium record of medium 1)"])


def main() -> None:
    build()
    for old in HERE.iterdir():
        if old.is_dir():
            shutil.rmtree(old)
    for c in CASES:
        folder = HERE / c["name"]
        folder.mkdir()
        for name, recs in c.pop("decks"):
            (folder / name).write_text("\n".join(recs), encoding="utf-8")
    (HERE / "cases.json").write_text(json.dumps(CASES, indent=1) + "\n")
    print(f"{len(CASES)} cases")


if __name__ == "__main__":
    main()
