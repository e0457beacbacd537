"""Writing decks: each value with the most digits its field holds, clear
errors for values that cannot be written, warnings for lost digits."""

import warnings

import pytest

import qmr
from qmr.deck import format_real, parse_real


@pytest.mark.parametrize("value,text", [
    (20.0, "20.0"), (8e-06, "0.000008"), (1e-10, "1E-10"),
    (-1.5e-300, "-1.5E-300"), (1e300, "1E300"), (1234567890.0, "1234567890"),
    (-0.0, "-0.0"), (5e-324, "5E-324"), (-7.0, "-7.0"),
])
def test_exact_values_are_written_readably(value, text):
    assert format_real(value) == (text, True)
    assert parse_real(text.rjust(10)) == value


@pytest.mark.parametrize("value,text", [
    # Nine digits of 1/3 fit only without the leading zero.
    (1 / 3, ".333333333"),
    (-2 / 3, "-.66666667"),
    # Eight digits of 123456789012 fit only with a whole mantissa.
    (123456789012.0, "12345679E4"),
    # Seven digits of 2**-30 = 9.313225746e-10 need the exponent's sign
    # without the letter E.
    (2.0 ** -30, "9313226-16"),
    (12345.678901, "12345.6789"),
    (0.1 + 0.2, "0.3"),
])
def test_inexact_values_take_the_closest_text(value, text):
    got, exact = format_real(value)
    assert (got, exact) == (text, False)
    assert len(got) <= 10


def test_the_largest_double_does_not_round_to_infinity():
    got, exact = format_real(1.7976931348623157e308)
    assert not exact and parse_real(got) < float("inf")
    assert abs(parse_real(got) / 1.7976931348623157e308 - 1) < 1e-5


def small_deck(**kw):
    d = qmr.FlowDeck(listing="a.lst", graphic="a.grf", title="small",
                     mesh_code=1, first_coordinate=0.0, last_coordinate=100.0,
                     grading=1.0, elements=4, steady_state=1, steps=1,
                     property_input=1, zone_starts=[1],
                     media=[qmr.FlowMedium(conductivity=10.0,
                                           storativity=0.1, thickness=5.0)],
                     prescribed_values=[qmr.PrescribedValue(1, value=50.0),
                                        dict(node=5, value=45.0)],
                     initial_value=50.0, observation_nodes=[3])
    for k, v in kw.items():
        setattr(d, k, v)
    return d


def test_written_columns():
    text = small_deck().to_text().splitlines()
    assert text[:4] == ["F 05", "a.lst", "a.grf", "small"]
    assert text[4] == "    4    1    1    2    0    0    1    0"
    assert text[5] == "    1    0    1    0    0    0    0    0    0    1    1"
    assert text[6] == "       0.0     100.0       1.0"
    assert text[8] == "      10.0       0.0       0.1       5.0" + \
        "       0.0" * 5
    assert text[9:] == ["    1    1      50.0", "    5    1      45.0",
                        "      50.0", "    3"]


def test_values_that_cannot_be_written():
    cases = [
        (dict(elements=123456), "elements"),
        (dict(listing="x" * 201), "listing"),
        (dict(title="two\nlines"), "title"),
        (dict(initial_value=float("nan")), "initial_value"),
        (dict(initial_value="50"), "initial_value"),
        (dict(observation_nodes=[2.5]), "observation"),
    ]
    for kw, field in cases:
        with pytest.raises(qmr.DeckError) as e:
            small_deck(**kw).to_bytes()
        assert field in str(e.value)
    d = small_deck()
    d.media[1].conductivity = float("inf")
    with pytest.raises(qmr.DeckError) as e:
        d.to_bytes()
    assert e.value.field == "conductivity" and e.value.section == \
        "Material properties" and "medium record 1" in str(e.value)
    # A list whose length disagrees with its count.
    d = small_deck(property_input=0, medium_numbers=[1, 1, 1])
    with pytest.raises(qmr.DeckError, match="medium_numbers has 3"):
        d.to_bytes()


def test_lost_digits_warn_and_exact_values_do_not():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        small_deck().to_bytes()
    d = small_deck()
    d.media[1].conductivity = 1 / 3
    with pytest.warns(qmr.DigitsLostWarning, match="conductivity"):
        d.to_bytes()


def test_write_then_read_gives_an_equal_object(tmp_path):
    d = small_deck(flux_file="a.flx", variant="")
    d.write(tmp_path / "deck.inp")
    back = qmr.Deck.read(tmp_path / "deck.inp")
    assert back == d
    assert back.prescribed_values[2].value == 45.0
    back.prescribed_values[2].value = 46.0
    assert back != d


def test_counts_follow_the_lists():
    d = small_deck()
    d.observation_nodes.append(4)
    assert d.observation_count == 2
    with pytest.raises(AttributeError):
        d.media_count = 3
    d.mesh_code = 0
    d.coordinates = [0.0, 1.0, 2.5]
    d.property_input = 0
    d.medium_numbers = [1, 1]
    d.prescribed_values[2].node = 3
    d.observation_nodes = [2]
    lines = d.to_text().splitlines()
    assert lines[4].startswith("    2    1    1")        # two elements
    assert lines[6] == "       0.0       1.0       2.5"


def test_misspelt_names_are_refused():
    d = small_deck()
    with pytest.raises(AttributeError, match="steps_per_decade"):
        d.steps_per_decad = 10
    with pytest.raises(AttributeError):
        d.media[1].conductivty = 5.0
    with pytest.raises(TypeError):
        qmr.TransportDeck(conductivity=1.0)
    t = qmr.TransportDeck(media=[dict(dispersivity=2.0, porosity=0.3)])
    assert t.media[1].porosity == 0.3 and t.media[1].retardation == 0.0


def test_flux_file_and_variant_code():
    assert small_deck().to_text().startswith("F 05\n")
    d = small_deck(flux_file="a.flx")
    assert d.to_text().splitlines()[:4] == ["F", "a.lst", "a.grf", "a.flx"]
    d = small_deck(variant="")              # a flux file asked, no name
    with pytest.raises(qmr.DeckError, match="flux_file"):
        d.to_bytes()
    d = small_deck(variant="AN", flux_file="ignored.flx")
    assert d.to_text().splitlines()[:4] == ["F AN", "a.lst", "a.grf", "small"]


def test_locate_a_record_and_column_in_the_object():
    d = small_deck(mesh_code=0, coordinates=[float(i) for i in range(10)],
                   steady_state=0, time_generation=0, initial_time=0.5,
                   times=[1.0 + i for i in range(9)], property_input=0,
                   medium_numbers=[1] * 9)
    d.prescribed_values[2].node = 10
    lines = d.to_text().splitlines()
    # Records 1-4 job, 5-6 control, 7-8 coordinates (8 + 2), 9-17 medium
    # numbers, 18 medium, 19-20 times (initial + 7, then 2).
    assert lines[7] == "       8.0       9.0"
    assert d.locate(1, 1) == "run_type" and d.locate(5, 3) == "elements"
    assert d.locate(6, 52) == "property_input"
    assert d.locate(7, 11) == "coordinates[2]"
    assert d.locate(8, 11) == "coordinates[10]"
    assert d.locate(9, 1) == "medium_numbers[1]"
    assert d.locate(17, 1) == "medium_numbers[9]"
    assert d.locate(18, 25) == "media[1].storativity"
    assert d.locate(18) == "media[1]"
    assert d.locate(19, 5) == "initial_time"
    assert d.locate(19, 71) == "times[7]"
    assert d.locate(20, 11) == "times[9]"
    assert d.locate(22, 20) == "prescribed_values[2].value"
    assert d.locate(23, 1) == "initial_value"
    with pytest.raises(IndexError):
        d.locate(25)
