# Runs a session load script and checks what it loaded: one Sound and one
# TextGrid per session, each Sound at 16000 Hz lasting its frames (10 ms each),
# its TextGrid ending 2.5 ms before the Sound does.
form Check a session load script
    sentence script
    comment Frame counts per session, separated by blanks
    sentence frame_counts
endform

frames$# = splitByWhitespace$# (frame_counts$)
runScript: script$
select all
sounds = numberOfSelected ("Sound")
grids = numberOfSelected ("TextGrid")
if sounds <> size (frames$#) or grids <> sounds
    exitScript: script$, ": ", sounds, " Sounds and ", grids, " TextGrids, expected ", size (frames$#), " of each"
endif
for session to sounds
    select all
    sound = selected ("Sound", session)
    grid = selected ("TextGrid", session)
    frames = number (frames$# [session])
    selectObject: sound
    rate = Get sampling frequency
    duration = Get total duration
    selectObject: grid
    grid_end = Get end time
    if rate <> 16000
        exitScript: script$, ": session ", session, " plays at ", rate, " Hz"
    endif
    if abs (duration - frames * 0.01) > 1e-9
        exitScript: script$, ": session ", session, " lasts ", duration, " s, expected ", frames * 0.01
    endif
    if abs (grid_end - (duration - 0.0025)) > 1e-9
        exitScript: script$, ": session ", session, " TextGrid ends at ", grid_end, ", the Sound at ", duration
    endif
endfor
appendInfoLine: "ok: ", script$
