# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
'''
The command frames of a VFD controller on a serial line at 19200 baud,
8N1: 8 bytes each, a command code and 7 data bytes. This decoder stacks
on the UART decoder and groups the bytes of one direction (option
'direction', default rx) into frames by the controller's own rule, the
same as the virtual panel's (panelsim):

 - The bytes come in bursts. A burst ends when no byte has come for the
   gap (option 'gap_ms', default 100 ms), far longer than the 4.17 ms an
   8-byte frame takes on the wire.
 - Every 8 bytes of a burst are a frame. What remains when the burst ends
   is a frame cut short (when the burst held no whole frame) or bytes left
   over (after one).
 - A break (the line held low for a character or longer) is received as
   a 16550 receives it: one 00, with a framing error and the break
   indication, at its start; then nothing while the line stays low. That
   00 is a byte of the frame under way, or the first of a new one, and
   the gap counts from it. So a long break ends the frame it cut, and
   what follows is in step; after a short one the later frames of the
   burst are out of step by the 00, unless it was the last byte of its
   frame. The UART decoder reads the break's first character time as
   that 00 with a framing error; any 00 with a framing error is taken
   as a break, as a 16550 takes it, since every bit of it was low.
 - A shorter low is whatever the UART decoder samples of it, as on the
   controller: nothing under half a bit, an f0 for a low of 5 bits. After
   a byte with a framing error that is no break, a 16550 takes the low
   stop bit for the next start bit, where the UART decoder waits for the
   next fall of the line: the bytes that follow may differ from the
   controller's (and the panel's, which follows the 16550).

Row 'frames' shows each frame, or what remains of one, over its bytes:
the command code and the data bytes, "45: 01 01 01 01 01 00 00".

Row 'warnings' flags, each over the bytes or the time it concerns:
 - a frame cut short: fewer than 8 bytes, then the gap;
 - bytes left over after a whole frame, then the gap;
 - a framing or parity error the UART decoder found in a byte;
 - a break's 00, "Break at byte 4 of 8", and each frame out of step by
   one.

Row 'notes' shows what the controller takes in its stride: a pause of
more than one character of idle line inside a frame, whose next byte
comes before the gap has passed.

The end of a capture: libsigrokdecode 0.5.3 (Debian 12) never tells a
stacked decoder that the capture has ended. This decoder learns that time
has passed from the UART decoder's IDLE packets, one for every character
time of idle line, and ends a burst when they add up to the gap. The
panel's own dumps run on past its last verdict (the gap after the last
byte, or the end of the last break, and a few characters more), so the
last frame shows here as the panel reported it. Where a logic analyser's
capture ends sooner, the frame under way is never closed: it gets no
annotation on row 'frames' and no Python output. What it does get is its
gap note, given at the first character time of idle line after its last
byte, whatever follows: "Gap of more than a character after byte 5 of 8".
So a frame cut short at the very end of a capture is shown all the same,
with the number of its bytes that came.

Python output, for decoders stacked on this one, once per frame or
remnant, from the start of its first byte to the end of its last:

  ['FRAME', (values, valid, warnings)]

 - values: the bytes, a list of 1 to 8 integers (0..255), command first;
 - valid: True for 8 bytes with no warning, else False (a note does not
   count);
 - warnings: the frame's warnings as stable codes, each at most once, in
   the order they arose: 'framing', 'parity', 'break' (a break's 00, or
   out of step by one), 'cut_short', 'left_over'. These are the codes the
   panel gives the same frames.
'''

from .pd import Decoder
