"""Small helpers for the benchmarks: percentiles and the figure line format."""


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    k = (len(ordered) - 1) * p / 100.0
    lo = int(k)
    hi = min(lo + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (k - lo)


def figure(name, value, unit, target=None, better="lower"):
    """Prints one figure; target is the bound the issue sets (inclusive)."""
    text = "   %-52s %12.3f %s" % (name, value, unit)
    if target is not None:
        ok = value <= target if better == "lower" else value >= target
        text += "   target %s %g %s%s" % ("<=" if better == "lower" else ">=", target, unit,
                                           "" if ok else "   OVER TARGET")
    print(text, flush=True)
