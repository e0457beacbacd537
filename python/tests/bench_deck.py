"""Timings of the deck side (not a test): writing and reading a deck at the
legacy capacities (300 elements, 101 typed times, 301 fluxes, 300
non-uniform initial values: 1,011 records).

    PYTHONPATH=python /usr/bin/python3 python/tests/bench_deck.py
"""

import timeit

import qmr


def big_deck() -> qmr.FlowDeck:
    return qmr.FlowDeck(
        listing="big.lst", graphic="big.grf", title="300 elements",
        mesh_code=0, coordinates=[i * 10.5 for i in range(301)],
        property_input=0, medium_numbers=[1 + i % 10 for i in range(300)],
        media=[qmr.FlowMedium(conductivity=1.5 + k, specific_storage=1e-5,
                              storativity=0.1, thickness=10.0,
                              width=100.0 + k) for k in range(10)],
        time_generation=0, initial_time=0.0,
        times=[i * 1.25 for i in range(1, 102)],
        prescribed_values=[qmr.PrescribedValue(1, value=50.0),
                           qmr.PrescribedValue(301, value=45.0)],
        prescribed_fluxes=[qmr.FlowFlux(node=i, rate=-1.5)
                           for i in range(1, 302)],
        initial_value=50.0,
        initial_values=[qmr.InitialValue(i, 49.5) for i in range(1, 301)],
        observation_nodes=list(range(1, 301, 15)),
        profile_steps=list(range(5, 101, 5)))


def main() -> None:
    d = big_deck()
    data = d.to_bytes()
    n = 50
    write = min(timeit.repeat(d.to_bytes, number=n, repeat=3)) / n
    read = min(timeit.repeat(lambda: qmr.Deck.from_text(data), number=n,
                             repeat=3)) / n
    print(f"{len(data.splitlines())} records, {len(data)} bytes: "
          f"write {write * 1e3:.1f} ms, read {read * 1e3:.1f} ms")


if __name__ == "__main__":
    main()
