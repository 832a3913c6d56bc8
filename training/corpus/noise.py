"""Non-speech sources: synthetic noise families made with numpy, and music changed with sox."""
import os

import numpy as np

from wavio import RATE, sox_to_16k

MOH = '/usr/share/asterisk/moh'
TRAIN_TRACKS = ['macroform-cold_day', 'macroform-robot_dity', 'macroform-the_simplicity',
                'manolo_camp-morning_coffee']
VALID_TRACKS = ['reno_project-system']

SYNTH_TRAIN = ['white', 'pink', 'brown', 'colored', 'beeps', 'chirps', 'drone', 'engine', 'bursts']
SYNTH_VALID = ['sirens', 'rain']
TRAIN_FAMILIES = SYNTH_TRAIN + ['music', 'musicmix', 'mixture']
VALID_FAMILIES = SYNTH_VALID + ['music-reno']


def shaped(n, rng, gain_of_freq):
    """Gaussian noise of n samples whose amplitude spectrum follows gain_of_freq(f in Hz)."""
    m = 1 << int(np.ceil(np.log2(max(n, 2))))
    spec = np.fft.rfft(rng.standard_normal(m))
    f = np.fft.rfftfreq(m, 1.0 / RATE)
    spec *= gain_of_freq(np.maximum(f, 1.0))
    return np.fft.irfft(spec, m)[:n]


def slope(n, rng, exponent):
    return shaped(n, rng, lambda f: (f / 1000.0) ** (-exponent))


def random_spectrum(n, rng):
    bands = np.geomspace(30, 8000, 24)
    gains_db = np.cumsum(rng.normal(0, 5, len(bands)))
    gains_db -= gains_db.max()
    return shaped(n, rng, lambda f: 10 ** (np.interp(np.log(f), np.log(bands), gains_db) / 20))


def slow_envelope(n, rng, depth_db):
    """A smooth random gain curve varying by about depth_db."""
    k = max(2, int(n / RATE * rng.uniform(0.2, 3)) + 2)
    pts = rng.normal(0, depth_db / 2, k)
    return 10 ** (np.interp(np.arange(n), np.linspace(0, n, k), pts) / 20)


def ramp_env(length, ramp):
    e = np.ones(length)
    r = min(ramp, length // 2)
    if r > 0:
        e[:r] = np.linspace(0, 1, r)
        e[-r:] = np.linspace(1, 0, r)
    return e


def on_off(n, rng, on_range, off_range, make):
    """Places events make(length) separated by pauses, each duration drawn in seconds."""
    x = np.zeros(n)
    t = int(rng.uniform(0, off_range[1]) * RATE)
    while t < n:
        length = max(8, int(rng.uniform(*on_range) * RATE))
        ev = make(length)[: n - t]
        x[t:t + len(ev)] += ev
        t += length + int(rng.uniform(*off_range) * RATE)
    return x


def tone(length, freqs, ramp=80):
    t = np.arange(length) / RATE
    return sum(np.sin(2 * np.pi * f * t) for f in freqs) * ramp_env(length, ramp)


def beeps(n, rng):
    mode = rng.integers(4)
    if mode == 0:  # dial-pad pairs
        lo, hi = [697, 770, 852, 941], [1209, 1336, 1477, 1633]
        make = lambda L: tone(L, [lo[rng.integers(4)], hi[rng.integers(4)]])
        x = on_off(n, rng, (0.05, 0.3), (0.05, 0.8), make)
    elif mode == 1:  # call-progress cadences
        f = [[440, 480], [480, 620], [425], [400, 450], [350, 440]][rng.integers(5)]
        on, off = rng.uniform(0.2, 2.0), rng.uniform(0.2, 4.0)
        x = on_off(n, rng, (on, on), (off, off), lambda L: tone(L, f))
    elif mode == 2:  # pips at random pitches
        x = on_off(n, rng, (0.03, 0.6), (0.05, 2.5),
                   lambda L: tone(L, [rng.uniform(300, 5000)], ramp=int(rng.uniform(10, 200))))
    else:  # chords with harmonics
        x = on_off(n, rng, (0.1, 1.5), (0.1, 3.0),
                   lambda L: tone(L, list(rng.uniform(200, 2000) * np.array([1, 2, 3, 1.5])[:rng.integers(1, 5)])))
    return x + 0.01 * slope(n, rng, 0.5)


def sweep(length, f0, f1, rng):
    f = np.geomspace(f0, f1, length) if rng.random() < 0.5 else np.linspace(f0, f1, length)
    ph = 2 * np.pi * np.cumsum(f) / RATE
    return (np.sin(ph) + 0.3 * np.sin(2 * ph)) * ramp_env(length, 40)


def chirps(n, rng):
    return on_off(n, rng, (0.02, 1.5), (0.05, 2.0),
                  lambda L: sweep(L, rng.uniform(200, 6000), rng.uniform(200, 6000), rng))


def sirens(n, rng):
    t = np.arange(n) / RATE
    mode = rng.integers(3)
    lo, hi = rng.uniform(450, 900), rng.uniform(1100, 1800)
    if mode == 0:  # wail
        f = lo + (hi - lo) * 0.5 * (1 - np.cos(2 * np.pi * t / rng.uniform(2, 6)))
    elif mode == 1:  # yelp
        f = lo + (hi - lo) * ((t * rng.uniform(2, 6)) % 1.0)
    else:  # hi-lo
        f = np.where((t * rng.uniform(0.8, 2.5)) % 1.0 < 0.5, lo, hi)
    ph = 2 * np.pi * np.cumsum(f) / RATE
    x = sum(np.sin(k * ph) / k ** rng.uniform(0.7, 1.5) for k in range(1, 6))
    return x * slow_envelope(n, rng, 10) + 0.05 * slope(n, rng, 1.0)


def drone(n, rng):
    t = np.arange(n) / RATE
    mains = rng.choice([50.0, 60.0]) * (1 + rng.normal(0, 0.002))
    x = sum(rng.uniform(0, 1) / k * np.sin(2 * np.pi * mains * k * t + rng.uniform(0, 6.3))
            for k in range(1, 20))
    for _ in range(rng.integers(0, 4)):
        f = rng.uniform(80, 3000)
        x += rng.uniform(0.05, 0.5) * np.sin(2 * np.pi * f * t + 3 * np.sin(2 * np.pi * 0.3 * t))
    fan = random_spectrum(n, rng)
    return x / (np.std(x) + 1e-9) + rng.uniform(0, 2) * fan / (np.std(fan) + 1e-9)


def engine(n, rng):
    rpm = slow_envelope(n, rng, 8) * rng.uniform(20, 110)
    ph = 2 * np.pi * np.cumsum(rpm) / RATE
    x = sum(np.sin(k * ph + rng.uniform(0, 6.3)) / k ** rng.uniform(0.5, 1.2) for k in range(1, 40))
    firing = 1 + rng.uniform(0.2, 0.8) * np.sign(np.sin(ph * rng.choice([1, 2, 4])))
    rumble = slope(n, rng, 1.0)
    return x * firing / (np.std(x) + 1e-9) + rng.uniform(0.3, 2) * rumble / (np.std(rumble) + 1e-9)


def rain(n, rng):
    rate = rng.uniform(100, 4000)
    k = rng.poisson(rate * n / RATE)
    imp = np.zeros(n)
    imp[rng.integers(0, n, k)] = rng.lognormal(0, 1, k) * rng.choice([-1, 1], k)
    decay = np.exp(-np.arange(int(RATE * rng.uniform(0.001, 0.008))) / (RATE * rng.uniform(0.0005, 0.002)))
    drops = np.convolve(imp, decay * rng.standard_normal(len(decay)), mode='same')
    bed = shaped(n, rng, lambda f: np.minimum(1, f / 500) * (f / 1000) ** -0.3)
    return drops / (np.std(drops) + 1e-9) + rng.uniform(0.2, 1.5) * bed / (np.std(bed) + 1e-9)


def bursts(n, rng):
    mode = rng.integers(3)
    if mode == 0:  # noise bursts of random spectra
        x = on_off(n, rng, (0.02, 1.0), (0.05, 3.0),
                   lambda L: random_spectrum(L, rng) * ramp_env(L, int(rng.uniform(5, 400))))
    elif mode == 1:  # clicks and typing
        x = on_off(n, rng, (0.002, 0.02), (0.03, 0.6),
                   lambda L: rng.standard_normal(L) * np.exp(-np.arange(L) / (L / 4)))
    else:  # knocks and slams: decaying low resonances
        def knock(L):
            t = np.arange(L) / RATE
            return np.sin(2 * np.pi * rng.uniform(60, 800) * t) * np.exp(-t / rng.uniform(0.01, 0.2))
        x = on_off(n, rng, (0.05, 0.6), (0.2, 3.0), knock)
    return x + rng.uniform(0, 0.05) * slope(n, rng, 0.5)


def music(n, rng, tracks):
    """A random stretch of one track, changed in speed, pitch and equalisation."""
    name = tracks[rng.integers(len(tracks))]
    path = os.path.join(MOH, name + '.wav')
    seconds = (os.path.getsize(path) - 44) / 2 / 8000.0
    speed = rng.uniform(0.8, 1.25)
    need = n / RATE * speed + 0.5
    start = rng.uniform(0, max(0.0, seconds - need))
    fx = ['trim', '%.3f' % start, '%.3f' % need, 'rate', str(RATE), 'speed', '%.3f' % speed,
          'pitch', str(int(rng.uniform(-500, 500))),
          'equalizer', str(int(rng.uniform(100, 4000))), '1q', '%.1f' % rng.uniform(-12, 12),
          'bass', '%.1f' % rng.uniform(-10, 10), 'treble', '%.1f' % rng.uniform(-10, 10),
          'rate', str(RATE)]
    x = sox_to_16k(path, fx)
    if len(x) < n:  # loop short stretches
        x = np.tile(x, n // max(len(x), 1) + 1)
    return x[:n].astype(np.float64)


GENERATORS = {
    'white': lambda n, rng: rng.standard_normal(n) * slow_envelope(n, rng, rng.uniform(0, 6)),
    'pink': lambda n, rng: slope(n, rng, 0.5) * slow_envelope(n, rng, rng.uniform(0, 6)),
    'brown': lambda n, rng: slope(n, rng, 1.0) * slow_envelope(n, rng, rng.uniform(0, 6)),
    'colored': lambda n, rng: random_spectrum(n, rng) * slow_envelope(n, rng, rng.uniform(0, 10)),
    'beeps': beeps, 'chirps': chirps, 'drone': drone, 'engine': engine, 'bursts': bursts,
    'sirens': sirens, 'rain': rain,
    'music': lambda n, rng: music(n, rng, TRAIN_TRACKS),
    'music-reno': lambda n, rng: music(n, rng, VALID_TRACKS),
}


def unit(x):
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-12)


def generate(family, n, rng):
    """n samples of the family's noise, scaled to unit mean power."""
    if family == 'musicmix':  # two tracks, or a track over a synthetic noise
        a = unit(music(n, rng, TRAIN_TRACKS))
        other = music(n, rng, TRAIN_TRACKS) if rng.random() < 0.6 else \
            GENERATORS[SYNTH_TRAIN[rng.integers(len(SYNTH_TRAIN))]](n, rng)
        return unit(a + unit(other) * 10 ** (rng.uniform(-10, 6) / 20))
    if family == 'mixture':  # two or three synthetic families
        picks = rng.choice(SYNTH_TRAIN, rng.integers(2, 4), replace=False)
        return unit(sum(unit(GENERATORS[f](n, rng)) * 10 ** (rng.uniform(-10, 0) / 20) for f in picks))
    return unit(GENERATORS[family](n, rng))
