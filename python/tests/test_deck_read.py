"""Reading decks: the field rules of the program and the record sequence."""

import pytest

import qmr
from qmr.deck import parse_int, parse_real

MEDIUM = "      20.0  0.000008       0.0      25.0" + "       0.0" * 5
PUMP = f"""\
F
pumping.lst
pumping.grf
pumping.flx
Radial pumping test
   60   41    1    1    1    0    5    4
    3    1    1    1    0    0    0    1    0    0    1
       0.1   10000.0
    1
{MEDIUM}
       0.0    0.0001   10
   61    1      50.0
    1    1  -159.155
      50.0
    1
   13
   25
   37
   49
   11
   21
   31
   41
"""


def test_integer_fields():
    assert parse_int("     ") == 0
    assert parse_int("  1 2") == 12          # blanks ignored wherever
    assert parse_int("   -7") == -7
    assert parse_int("+  42") == 42
    for bad, why in [("  1.0", "not an integer"), ("    -", "sign without"),
                     ("  1a ", "not an integer"), ("\t   1", "not an")]:
        with pytest.raises(ValueError, match=why):
            parse_int(bad)
    with pytest.raises(ValueError, match="too large"):
        parse_int("9999999999")


def test_real_fields():
    assert parse_real(" " * 10) == 0.0
    assert parse_real("       100") == 100.0      # no point: whole number
    assert parse_real("    1.5E-3") == 0.0015
    assert parse_real("    1.5D-3") == 0.0015
    assert parse_real("    1.5d-3") == 0.0015
    assert parse_real("     1.5-3") == 0.0015     # sign and digits alone
    assert parse_real("    1.5+3 ") == 1500.0
    assert parse_real("   2 5. 5") == 25.5
    assert parse_real("      -.25") == -0.25
    assert parse_real("       1E2") == 100.0
    for bad in ["1.2.3", "1.5E", "E5", "1.5Q3", "abc", "1,5", "1.5E-3x"]:
        with pytest.raises(ValueError, match="not a number"):
            parse_real(bad.rjust(10))
    with pytest.raises(ValueError, match="too large"):
        parse_real("     1E999")


def test_pumping_deck_values():
    d = qmr.Deck.from_text(PUMP)
    assert isinstance(d, qmr.FlowDeck)
    assert (d.listing, d.graphic, d.flux_file) == \
        ("pumping.lst", "pumping.grf", "pumping.flx")
    assert (d.elements, d.steps, d.media_count) == (60, 41, 1)
    assert (d.mesh_code, d.radial, d.property_input) == (3, 1, 1)
    assert (d.first_coordinate, d.last_coordinate) == (0.1, 10000.0)
    assert d.zone_starts == [1]
    m = d.media[1]
    assert (m.conductivity, m.specific_storage, m.thickness, m.width) == \
        (20.0, 8e-06, 25.0, 0.0)
    assert (d.initial_time, d.first_step, d.steps_per_decade) == \
        (0.0, 0.0001, 10)
    assert d.prescribed_values[1] == qmr.PrescribedValue(61, 1, 50.0)
    assert d.prescribed_fluxes[1].rate == -159.155
    assert d.initial_value == 50.0
    assert d.observation_nodes == [1, 13, 25, 37, 49]
    assert d.profile_steps == [11, 21, 31, 41]
    assert d.observation_count == 5 and d.profile_count == 4
    with pytest.raises(IndexError):
        d.observation_nodes[0]          # numbered from 1
    assert d.observation_nodes[5] == 49


def test_line_ends_bom_and_record_lengths():
    base = qmr.Deck.from_text(PUMP)
    crlf = PUMP.replace("\n", "\r\n").encode()
    assert qmr.Deck.from_text(b"\xef\xbb\xbf" + crlf) == base
    # Records longer than their layout (comments after the fields) and
    # shorter (trailing blank fields left off) read the same.
    longer = PUMP.replace("   61    1      50.0",
                          "   61    1      50.0  fixed head far away")
    shorter = PUMP.replace(MEDIUM, MEDIUM[:40])
    assert qmr.Deck.from_text(longer) == base
    assert qmr.Deck.from_text(shorter) == base
    # No end of line after the last record.
    assert qmr.Deck.from_text(PUMP.rstrip("\n")) == base


def test_flux_variant_and_flow_transport_sections():
    no_flux = PUMP.replace("F\n", "F 05\n", 1).replace("pumping.flx\n", "")
    d = qmr.Deck.from_text(no_flux)
    assert d.flux_file is None and d.variant == "05"
    # Lower case is not a variant code: the flux-file name is expected.
    lower = PUMP.replace("F\n", "F ow\n", 1)
    assert qmr.Deck.from_text(lower).flux_file == "pumping.flx"


def test_faults_name_record_and_columns():
    bad = PUMP.replace("      20.0  0.000008", "      2x.0  0.000008")
    with pytest.raises(qmr.DeckError) as e:
        qmr.Deck.from_text(bad, name="VELDA.INP")
    assert e.value.line == 10 and e.value.field == "conductivity"
    assert "record 10, columns 1-10" in str(e.value)
    short = "\n".join(PUMP.splitlines()[:20]) + "\n"
    with pytest.raises(qmr.DeckError, match="end of file after record 20"):
        qmr.Deck.from_text(short)
    with pytest.raises(qmr.DeckError, match="neither F"):
        qmr.Deck.from_text("f\n" + PUMP[2:])


def test_empty_zone_list_takes_a_record():
    # No media, zones: the zone record still stands where the list goes.
    text = """\
T 05
a.lst
a.grf
title
    2    1    0    0    0    0    0    0
    0    0    1    1    0    0    0    1    0    1    1
       0.0       1.0       2.0
zone record, empty
      50.0
       1.0      10.0
"""
    d = qmr.Deck.from_text(text)
    assert d.zone_starts == [] and d.media_count == 0
    assert d.initial_value == 50.0 and d.steady_state == 1
    assert d.to_text().splitlines()[7] == ""
