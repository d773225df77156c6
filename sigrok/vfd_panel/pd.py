# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The panel's frame rule on the bytes that sigrok's UART decoder reads: a
# burst of bytes ends after the gap with no byte received, every 8 bytes of
# a burst are a frame, and what remains is a frame cut short or bytes left
# over. A break is the 00 a 16550 receives at its start, a byte like any
# other.
# Time comes from the UART decoder's packets alone, since a stacked decoder
# is not told where the capture ends (see the docstring in __init__.py).

import sigrokdecode as srd

FRAME_LEN = 8
ANN_FRAME, ANN_WARNING, ANN_NOTE = 0, 1, 2


def warning_texts(code, n):
    '''The texts of one warning, longest first, for PulseView's zoom
    levels; n is the byte of the frame it concerns, or the bytes of a
    remnant.'''
    of = '%d of %d' % (n, FRAME_LEN)
    return {
        'framing': ['Framing error in byte ' + of, 'Framing error', 'FE'],
        'parity': ['Parity error in byte ' + of, 'Parity error', 'PE'],
        'break': ['Break at byte ' + of, 'Break', 'B'],
        'out_of_step': ["Out of step: a break's 00 earlier in the burst",
                        'Out of step', 'OS'],
        'gap': ['Gap of more than a character after byte ' + of,
                'Gap after byte %d' % n, 'Gap'],
        'cut_short': ['Frame cut short: %s bytes' % of, 'Cut short', 'CS'],
        'left_over': ['%d byte%s left over' % (n, '' if n == 1 else 's'),
                      'Left over', 'LO'],
    }[code]


def frame_texts(values):
    '''"45: 01 01 01 01 01 00 00", and the command code alone.'''
    code = '%02x' % values[0]
    if len(values) == 1:
        return [code]
    return [code + ': ' + ' '.join('%02x' % v for v in values[1:]), code]


class Decoder(srd.Decoder):
    api_version = 3
    id = 'vfd_panel'
    name = 'VFD panel'
    longname = 'VFD panel command frames'
    desc = '8-byte command frames of a VFD controller at 19200 8N1.'
    license = 'mit'
    inputs = ['uart']
    outputs = ['vfd_panel']
    tags = ['Display']
    options = (
        {'id': 'direction', 'desc': 'Direction to read', 'default': 'rx',
         'values': ('rx', 'tx')},
        {'id': 'gap_ms', 'desc': 'Idle gap that ends a frame (ms)',
         'default': 100},
    )
    annotations = (
        ('frame', 'Frame'),
        ('warning', 'Warning'),
        ('note', 'Note'),
    )
    annotation_rows = (
        ('frames', 'Frames', (ANN_FRAME,)),
        ('warnings', 'Warnings', (ANN_WARNING,)),
        ('notes', 'Notes', (ANN_NOTE,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.samplerate = None
        self.char = None       # faults of the character being read, if any
        self.frame = []        # (value, ss, es, is_break) of the frame under way
        self.warnings = []     # its warning codes
        self.whole = 0         # whole frames in the burst under way
        self.last_es = None    # end of the burst's last byte
        self.gap_told = False  # the idle line since last_es has its note
        self.out_of_step = False  # a break's 00 shifted the burst's frames

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)
        self.out_python = self.register(srd.OUTPUT_PYTHON)
        self.rxtx = 0 if self.options['direction'] == 'rx' else 1

    def metadata(self, key, value):
        if key == srd.SRD_CONF_SAMPLERATE:
            self.samplerate = value

    def decode(self, ss, es, data):
        ptype, rxtx, pdata = data
        if rxtx != self.rxtx:
            return
        if ptype == 'STARTBIT':
            self.char = []
        elif ptype == 'PARITY ERROR' and self.char is not None:
            self.char.append('parity')
        elif ptype == 'INVALID STOPBIT' and self.char is not None:
            self.char.append('framing')
        elif ptype == 'FRAME':
            # Without a start bit it was a glitch, not a character.
            if self.char is not None:
                self.take(ss, es, pdata[0], self.char)
            self.char = None
        elif ptype == 'BREAK':
            self.line_break(es)
        elif ptype == 'IDLE':
            self.idle(es)

    def gap_over(self, at):
        '''Whether no byte has come for the gap by sample at.'''
        if self.last_es is None or not self.samplerate:
            return False
        return (at - self.last_es) * 1000 >= self.options['gap_ms'] * self.samplerate

    def warn(self, ss, es, code, n, texts=None):
        if code not in self.warnings:
            self.warnings.append(code)
        texts = texts or warning_texts(code, n)
        self.put(ss, es, self.out_ann, [ANN_WARNING, texts])

    def take(self, ss, es, value, faults):
        if self.gap_over(ss):
            self.end_burst()
        # A 00 with a framing error is a 16550's break: the line was low
        # at every bit. The break explains the framing and parity errors.
        is_break = value == 0 and 'framing' in faults
        self.frame.append((value, ss, es, is_break))
        n = len(self.frame)
        for code in ['break'] if is_break else faults:
            self.warn(ss, es, code, n)
        self.last_es, self.gap_told = es, False
        if n == FRAME_LEN:
            self.put_frame()
            self.whole += 1
        elif is_break:
            self.out_of_step = True

    def idle(self, es):
        if self.gap_over(es):
            self.end_burst()
        elif self.frame and not self.gap_told:
            self.gap_told = True
            self.put(self.last_es, es, self.out_ann,
                     [ANN_NOTE, warning_texts('gap', len(self.frame))])

    def line_break(self, es):
        # The line held low since the break's 00 received nothing: the
        # burst may have ended meanwhile.
        if self.gap_over(es):
            self.end_burst()

    def end_burst(self):
        if self.frame:
            n = len(self.frame)
            code = 'left_over' if self.whole else 'cut_short'
            self.warn(self.frame[0][1], self.frame[-1][2], code, n)
            self.put_frame()
        self.last_es, self.whole, self.gap_told = None, 0, False
        self.out_of_step = False

    def put_frame(self):
        values = [v for v, _, _, _ in self.frame]
        ss, es = self.frame[0][1], self.frame[-1][2]
        if self.out_of_step and not any(b for _, _, _, b in self.frame):
            self.warn(ss, es, 'break', 0, warning_texts('out_of_step', 0))
        self.put(ss, es, self.out_ann, [ANN_FRAME, frame_texts(values)])
        valid = len(values) == FRAME_LEN and not self.warnings
        self.put(ss, es, self.out_python,
                 ['FRAME', (values, valid, list(self.warnings))])
        self.frame, self.warnings = [], []
