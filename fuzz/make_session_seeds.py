#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_session into corpus/fuzz_session/ (see fuzz_session.cpp and
fuzzport.h for the layout). Each seed is an ECU that echoes and answers every byte, so the
mutations start from sessions that connect and reach live data and the other windows."""
import os

OPTIONS = {"15m": 0, "15Rc": 1, "16m": 2, "P8": 3, "P8-sensor": 4}
BURST = bytes([25, 7, 0x00, 0x55, 0xA3, 0x8F, 0x10, 0x15, 0x02])  # after 500 ms
ECHO_ONLY = 0x04
ANSWER = 0x00          # echo, then one answer byte 2 ms later
ANSWER_STRAY = 0x80    # the same, then stray bytes


def kinds(name):
    return {"Check2": 0, "Command6": 1, "Command7": 2, "Command11": 3, "Command2": 4,
            "Command3": 5, "List1": 6, "Diag": 7, "Form3": 8, "test": 9, "Form1": 10,
            "Form1field": 11, "Check1": 12, "Option": 13, "Check34": 14, "Field": 15}[name]


def seed(option, actions=(), flags=0, lost_after=None, handshake=True, line=b""):
    out = bytes([OPTIONS[option], flags | (0x08 if lost_after is not None else 0)])
    if lost_after is not None:
        out += bytes([lost_after // 500])
    out += bytes([len(actions)])
    for delay_ms, kind, p1, p2 in actions:
        out += bytes([delay_ms // 50, kinds(kind), p1, p2])
    out += BURST
    if handshake:
        out += bytes([ECHO_ONLY] * 3)
    return out + line


def answers(values):
    out = b""
    for v in values:
        out += bytes([ANSWER, v])
    return out


def live(cycles=6):
    return answers(b"KL15M-0427") + answers(
        [0x10, 0x20, 0x03, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0x40] * cycles)


verdict = bytes([ANSWER_STRAY, 0x00, 0xF9, 0xFF])  # answer 00, then FF 31 ms later

SEEDS = {
    "15m-live": seed("15m", line=live()),
    "15Rc-live": seed("15Rc", handshake=False, line=live()),
    "16m-live-scale2": seed("16m", [(3000, "Option", 6, 0), (0, "Option", 8, 0)], line=live()),
    "p8-live": seed("P8", handshake=False, line=live()),
    "p8-sensor-fields": seed("P8-sensor", [(200, "Field", 3, 40), (100, "Field", 1, 5),
                                           (2000, "Check1", 4, 0)], handshake=False,
                             line=live()),
    "15m-faults-immobiliser": seed("15m", [(3000, "Command11", 0, 0), (1000, "Command2", 0, 0),
                                           (1000, "Command3", 0, 0)],
                                   line=answers(b"KL15M-0427") + answers([0x0F] * 60)),
    "16m-testlist": seed("16m", [(4000, "List1", 1, 0)],
                         line=answers(b"KL16M-0311") + answers([0xFF]) + verdict +
                         answers([0xFF] * 40)),
    "p8-test-window": seed("P8", [(1000, "test", 0, 0), (2000, "Form1field", 1, 1),
                                  (500, "Form1", 7, 0), (3000, "Form1", 12, 0)],
                           handshake=False,
                           line=answers(b"KLP8--0815") + answers([0xFF] * 4) + verdict +
                           answers([0xFF] * 40)),
    "15m-diag-window": seed("15m", [(3000, "Diag", 0, 0), (200, "Form3", 0, 0),
                                    (200, "Form3", 5, 0), (200, "Form3", 10, 0)],
                            line=answers(b"KL15M-0427") + answers([0xA5] * 60)),
    "15m-lost-reconnect": seed("15m", [(4000, "Check2", 0, 0), (500, "Check2", 0, 0)],
                               flags=0x01, lost_after=3000, line=live(3)),
}

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_session")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
