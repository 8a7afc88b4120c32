#!/usr/bin/python3
"""Writes the hand-made seeds of the fuzz corpus: plausible host sessions, encoded in the
harness's call format (ApiSequenceHarness.cpp), for the fuzzer to mutate from."""
import os
import struct
import sys

# Opcodes (the harness takes the opcode byte modulo 40).
CREATE, DELETE, RATE, IN_SIZE, OUT_SIZE, MAX_WAIT, EPSILON, OFFSET, TIME_BASE = range(9)
ATTENUATION, PERCENT, SYNC, SYNC2, ASYNC, ASYNC2, ASYNC3, ARRAY = range(9, 17)
DATA, VALUE, TIMES, TIME, MASTER_TIMES, BLOCK_END, END, INIT, CALC = range(17, 26)
READ_DATA, READ_TIMES, COUNT, EXPECTED, ALL_COUNT, LEGACY_READ = range(26, 32)
FILTER_LENGTH, CAN_ACCEPT, STREAM, READ_ALL, SET_UP = 32, 33, 34, 37, 38

# Indices into the harness's double palette.
D = {0.0: 0, 1.0: 2, 0.5: 4, 10.0: 7, 100.0: 8, 500.0: 10, 1000.0: 12, 2000.0: 14, 2500.0: 15,
     0.001: 19, 'nan': 31, 'inf': 29, '-inf': 30, 1e300: 25, '-0': 1}
# Indices into the size palette.
S = {1: 1, 2: 2, 3: 3, 5: 5, 8: 7, 16: 8, 64: 11, 100: 12, 1000: 14, 4096: 17,
     '2^60': 18, '2^63': 23, 'max': 29}
HOLD, LINEAR, ALIAS_FREE = 0, 1, 2


def raw_double(value):
    return bytes([0xF0]) + struct.pack('<d', value)


def seeds():
    yield 'hold-stream', [CREATE, 0, HOLD, SET_UP, 0, 0, 3, 0, 0, 2, 1, 3, 2,
                          STREAM, 0, 5, 20, 0, 1]
    yield 'linear-stream', [CREATE, 0, LINEAR, SET_UP, 0, 0, 2, 2, 0, 3, 3,
                            STREAM, 0, 7, 33, 1, 0, STREAM, 0, 2, 50, 0, 1]
    yield 'aliasfree-stream', [CREATE, 0, ALIAS_FREE, SET_UP, 0, 0, 1, 0, 1, 0, 2,
                               STREAM, 0, 7, 63, 0, 0, STREAM, 0, 7, 63, 1, 1]
    yield 'two-resamplers', [CREATE, 0, HOLD, CREATE, 1, ALIAS_FREE,
                             SET_UP, 0, 1, 1, 2, 3, SET_UP, 1, 0, 0, 0, 1,
                             STREAM, 0, 3, 10, 0, 0, STREAM, 1, 3, 40, 1, 0,
                             TIMES, 0, 1, 5, 0, 0, COUNT, 1, 0, READ_ALL, 0, DELETE, 0,
                             STREAM, 1, 2, 20, 0, 1]
    yield 'explicit-master-times', [CREATE, 0, LINEAR, TIME_BASE, 0, 1, ASYNC, 0,
                                    INIT, 0, MASTER_TIMES, 0, 20, 0, 0,
                                    STREAM, 0, 3, 12, 0, 0, MASTER_TIMES, 0, 5, 3, 12,
                                    CALC, 0, READ_ALL, 0]
    yield 'bad-output-parameters', [CREATE, 0, HOLD, SYNC, 0, D[1000.0], D[0.0], 3,
                                    RATE, 0, D['nan'], INIT, 0, CALC, 0,
                                    OFFSET, 0, D['inf'], RATE, 0, D[1000.0], CALC, 0,
                                    OFFSET, 0, D['-0'], INIT, 0, STREAM, 0, 2, 8, 0, 1]
    yield 'array-channel', [CREATE, 0, HOLD, ARRAY, 0, 1, 3, D[0.0], D[1.0],
                            ARRAY, 0, 1, 18, D[0.0], D[1.0], INIT, 0,
                            STREAM, 0, 4, 16, 0, 0, READ_DATA, 0, 0, 0x90]
    yield 'overrun', [CREATE, 0, HOLD, IN_SIZE, 0, S[5], OUT_SIZE, 0, S[8], ASYNC, 0,
                      SYNC, 0, D[2000.0], D[0.0], 0, INIT, 0,
                      STREAM, 0, 3, 60, 3, 0, STREAM, 0, 1, 3, 0, 1]
    yield 'huge-sizes', [CREATE, 0, ALIAS_FREE, IN_SIZE, 0, S['max'], OUT_SIZE, 0, S['2^63'],
                         IN_SIZE, 0, S['2^60'], SYNC, 0, D[500.0], D[0.0], 0,
                         CREATE, 1, HOLD, IN_SIZE, 1, S['max'], OUT_SIZE, 1, S['max'],
                         IN_SIZE, 1, 28, INIT, 0, STREAM, 0, 2, 30, 0, 1]
    yield 'block-ends-and-waits', [CREATE, 0, HOLD, ASYNC, 0, ASYNC2, 0, D[100.0], D[0.0], 0,
                                   MAX_WAIT, 0, D[10.0], INIT, 0, STREAM, 0, 2, 10, 0, 0,
                                   BLOCK_END, 0, 0, D[1e300], BLOCK_END, 0, 1, D['inf'],
                                   CALC, 0, READ_ALL, 0, END, 0, D[1000.0], CALC, 0, READ_ALL, 0]
    yield 'queries', [FILTER_LENGTH, D[1000.0], D[2500.0], 1, D[0.0],
                      FILTER_LENGTH, D['nan'], D[1e300], 0, D['inf'],
                      CAN_ACCEPT, 2, 0, S[1000], D[1000.0], D[2500.0], 10, 100,
                      CAN_ACCEPT, 1, 0, S['max'], D['-inf'], D[0.5], 0, D[1e300]]


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                                'corpus')
    os.makedirs(target, exist_ok=True)
    for name, program in seeds():
        with open(os.path.join(target, 'seed-' + name), 'wb') as out:
            out.write(bytes(program))


if __name__ == '__main__':
    main()
