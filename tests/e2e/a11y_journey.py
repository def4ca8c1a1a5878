#!/usr/bin/python3
# The softphone as a screen reader meets it: every step goes through the
# accessibility bus (AT-SPI), finding controls by their accessible names and
# pressing them through their actions, never by position or object name.
#   a11y_journey.py MICROPHONE.wav SPEAKER.wav
# Logs in by itself (a stored login), types the echo test's number into the
# number field, presses Call, hears the echo in the speaker file, presses
# Hang up and reads a contact out of the phonebook. Prints the accessible
# names it read; exits non-zero with the reason on the first failure.
import math
import struct
import sys
import time
import wave

import pyatspi

APP = "Ondavox"


class JourneyFailed(Exception):
    pass


def poll(what, check, seconds):
    """check() until it returns something true, or fail after seconds."""
    deadline = time.monotonic() + seconds
    last_error = None
    while time.monotonic() < deadline:
        try:
            found = check()
            if found:
                return found
        except Exception as error:  # the tree changes while it is read
            last_error = error
        time.sleep(0.1)
    raise JourneyFailed("timed out: %s%s" % (what, " (%s)" % last_error if last_error else ""))


def children(acc):
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield child


def walk(acc, depth=0):
    yield acc
    if depth > 40:
        return
    for child in children(acc):
        yield from walk(child, depth + 1)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in children(desktop):
        if app.name == APP:
            return app
    return None


def showing(acc):
    states = acc.getState()
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def enabled(acc):
    return acc.getState().contains(pyatspi.STATE_ENABLED)


def find(root, role, name):
    """The showing control of this role and accessible name, or None."""
    for acc in walk(root):
        if acc.getRole() == role and acc.name == name and showing(acc):
            return acc
    return None


def shown_names(root, role):
    """The names of the showing controls of this role: what a failure saw."""
    return [acc.name for acc in walk(root) if acc.getRole() == role and showing(acc)]


def press(acc):
    actions = acc.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    index = names.index("Press") if "Press" in names else 0
    if not actions.doAction(index):
        raise JourneyFailed("%r did not take its action %r" % (acc.name, names))


def samples_of(path):
    """The 16-bit mono samples written so far; the writer brings the header
    up to date only now and then, so the data is read to the file's end."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    if len(data) < 44 or data[:4] != b"RIFF" or data[36:40] != b"data":
        return []
    body = data[44:]
    body = body[: len(body) // 2 * 2]
    return list(struct.unpack("<%dh" % (len(body) // 2), body))


def envelope(samples, window=160):
    return [math.sqrt(sum(s * s for s in samples[i:i + window]) / window)
            for i in range(0, len(samples) - window + 1, window)]


def correlation(a, b):
    mean_a = sum(a) / len(a)
    mean_b = sum(b) / len(b)
    da = [x - mean_a for x in a]
    db = [x - mean_b for x in b]
    norm = math.sqrt(sum(x * x for x in da) * sum(x * x for x in db))
    return sum(x * y for x, y in zip(da, db)) / norm if norm else 0.0


def echo_likeness(spoken, heard):
    """How well the heard loudness envelope (20 ms frames) follows the spoken
    one: the median, over one-second stretches of the spoken signal, of the
    best correlation at a delay of up to 2 s (each stretch finds its own, as
    the delay may shift a little during the call), the delay of the whole,
    and the heard loudness over the spoken one at that delay."""
    a = envelope(spoken)
    b = envelope(heard)
    stretch = 50
    bests = []
    for start in range(0, len(a) - stretch + 1, stretch):
        part = a[start:start + stretch]
        best = -1.0
        for lag in range(0, 100):
            other = b[start + lag:start + lag + stretch]
            if len(other) < stretch:
                break
            best = max(best, correlation(part, other))
        bests.append(best)
    bests.sort()
    whole = max(range(0, 100), key=lambda lag: correlation(a, b[lag:lag + len(a)]) if len(b) >= lag + len(a) else -1.0)
    part = b[whole:whole + len(a)]
    loudness = math.sqrt(sum(x * x for x in part) / max(1e-9, sum(x * x for x in a)))
    return bests[len(bests) // 2], whole * 20, loudness


def make_microphone(path, seconds=4.0, rate=8000):
    """Speech-like sound: voiced bursts of a few harmonics, 80 to 300 ms
    long, with pauses between them, the same every run."""
    import random
    rng = random.Random(2024)
    samples = []
    total = int(seconds * rate)
    while len(samples) < total:
        length = int(rate * rng.uniform(0.08, 0.3))
        pitch = rng.uniform(110, 260)
        level = rng.uniform(3000, 9000)
        for n in range(length):
            t = n / rate
            fade = min(1.0, n / 80, (length - n) / 80)
            value = sum(math.sin(2 * math.pi * pitch * k * t) / k for k in (1, 2, 3, 4))
            samples.append(int(level * fade * value / 2))
        samples.extend([0] * int(rate * rng.uniform(0.05, 0.2)))
    samples = samples[:total]
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def main():
    if sys.argv[1] == "--make-microphone":
        make_microphone(sys.argv[2])
        return
    microphone, speaker = sys.argv[1], sys.argv[2]
    with wave.open(microphone, "rb") as w:
        spoken = list(struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes())))
    read_back = []

    app = poll("the program on the accessibility bus", application, 60)
    window = poll("the main window", lambda: find(app, pyatspi.ROLE_FRAME, APP), 60)

    # Logged in by itself; the number field opens once the phone is registered.
    number = poll("the number field", lambda: find(window, pyatspi.ROLE_TEXT, "Number"), 60)
    poll("the number field enabled", lambda: enabled(number), 60)
    read_back.append(("number field", number.getRoleName(), number.name, number.description))
    for acc in walk(window):
        if acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and showing(acc):
            read_back.append(("button", acc.getRoleName(), acc.name, acc.description))

    number.queryEditableText().setTextContents("999")
    poll("999 in the number field", lambda: number.queryText().getText(0, -1) == "999", 10)

    call = poll("the Call button", lambda: find(window, pyatspi.ROLE_PUSH_BUTTON, "Call"), 10)
    press(call)

    try:
        hang_up = poll("the Hang up button", lambda: find(window, pyatspi.ROLE_PUSH_BUTTON, "Hang up"), 30)
    except JourneyFailed:
        raise JourneyFailed("no Hang up button among %r" % shown_names(window, pyatspi.ROLE_PUSH_BUTTON))
    read_back.append(("call page", hang_up.getRoleName(), hang_up.name, hang_up.description))
    # The echo test answers at once and plays the voice back in real time:
    # the speaker holds the whole of it plus the way there and back.
    enough = len(spoken) + 8000
    poll("the echo in the speaker file", lambda: len(samples_of(speaker)) >= enough, 60)
    press(hang_up)
    poll("back on the phonebook", lambda: find(window, pyatspi.ROLE_TEXT, "Number"), 30)

    likeness, lag_ms, loudness = echo_likeness(spoken, samples_of(speaker))
    print("echo: envelope correlation %.2f (median of one-second stretches), delay %d ms, "
          "loudness %.2f of the spoken signal" % (likeness, lag_ms, loudness))
    # A speaker without the echo stays near 0.
    if likeness < 0.6 or not 0.3 < loudness < 3.0:
        raise JourneyFailed("the speaker did not play the echo back")

    # A contact read out of the phonebook: its row's name and numbers.
    def phonebook_rows():
        for acc in walk(window):
            if acc.getRole() == pyatspi.ROLE_TREE and acc.name == "Phonebook" and showing(acc):
                rows = [c for c in children(acc) if c.getRole() in (pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TREE_ITEM)]
                return rows if any(r.name.startswith("Echo test") for r in rows) else None
        return None
    rows = poll("the phonebook's rows", phonebook_rows, 30)
    echo = next(r for r in rows if r.name.startswith("Echo test"))
    if "+999" not in echo.name.replace(" ", "") and "999" not in echo.name:
        raise JourneyFailed("the echo test's row does not read its number: %r" % echo.name)
    for row in rows:
        read_back.append(("phonebook row", row.getRoleName(), row.name, row.description))

    for kind, role, name, description in read_back:
        print("%-14s %-12s %r%s" % (kind, role, name, " (%s)" % description if description else ""))
    unnamed = [r for r in read_back if r[0] == "button" and not r[2]]
    if unnamed:
        raise JourneyFailed("buttons without a name: %d" % len(unnamed))


if __name__ == "__main__":
    try:
        main()
    except JourneyFailed as failure:
        print("FAIL: %s" % failure)
        sys.exit(1)
