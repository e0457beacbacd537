"""The commands of the package, installed as console entry points
(``qmr-plot``, ``qmr-ensemble``) and run from a checkout by the thin
wrappers in tools/. Each prints one line on standard error and exits
non-zero when it refuses its input."""
