# Saves, as a long text file, a TextGrid of 2.3 s whose first tier is a point
# tier, followed by the interval tier "words" (0-0.5 s "sil", 0.5-1.2 s "spc",
# 1.2-2.3 s "sil") and the interval tier "other".
form Make a reference TextGrid
    sentence path
endform

Create TextGrid: 0, 2.3, "events words other", "events"
Insert point: 1, 0.25, "click"
Insert boundary: 2, 0.5
Insert boundary: 2, 1.2
Set interval text: 2, 1, "sil"
Set interval text: 2, 2, "spc"
Set interval text: 2, 3, "sil"
Insert boundary: 3, 1
Set interval text: 3, 1, "other"
Save as text file: path$
