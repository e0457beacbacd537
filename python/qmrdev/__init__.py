"""Development tooling of qmr, beside the product package and not
installed with it: the random deck generator (``randomdeck``), the
comparison of two builds (``compare_builds``), the statistics of deck
mistakes (``mistake_stats``), and what they and the tests share
(``common``: running the program in a folder, the ``%%AUX`` split, the
Ew.d formatter)."""
