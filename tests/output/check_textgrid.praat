# Reads a TextGrid and checks its tier count, its end time and the interval
# count of every tier; fails with an error message on the first mismatch.
form Check a TextGrid
    sentence path
    integer tiers 1
    real end_time 0
    comment Interval counts per tier, separated by blanks
    sentence interval_counts
endform

Read from file: path$
counts$# = splitByWhitespace$# (interval_counts$)
tier_count = Get number of tiers
if tier_count <> tiers or size (counts$#) <> tiers
    exitScript: path$, ": ", tier_count, " tiers, expected ", tiers, " (", size (counts$#), " interval counts given)"
endif
actual_end = Get end time
if abs (actual_end - end_time) > 1e-9
    exitScript: path$, ": end time ", actual_end, ", expected ", end_time
endif
for tier to tier_count
    intervals = Get number of intervals: tier
    if intervals <> number (counts$# [tier])
        exitScript: path$, ": tier ", tier, " has ", intervals, " intervals, expected ", counts$# [tier]
    endif
endfor
appendInfoLine: "ok: ", path$
