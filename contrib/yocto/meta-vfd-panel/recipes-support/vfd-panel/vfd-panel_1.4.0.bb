# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
SUMMARY = "Command tools for a serial VFD controller"
DESCRIPTION = "panelcmd sends one 8-byte command frame, given in hexadecimal, \
to the controller of a vacuum fluorescent display on /dev/ttyS1 at 19200 \
baud, 8N1, raw; panel45 sends the fixed frame 45 01 01 01 01 01 00 00. They \
need nothing at run time but the C library."
HOMEPAGE = "https://example.org/panel"
SECTION = "utils"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=761eaabe0d3dd8a05eb123e93503b614"

SRC_URI = "https://example.org/panel/releases/panel-${PV}.tar.gz"
SRC_URI[sha256sum] = "c9ec0d13b775d8043be5b28940512e055adf491dc76c2edba96dce592e80a078"
S = "${UNPACKDIR}/panel-${PV}"

inherit cmake

# A cross build without testing compiles and installs the two programs,
# their manual pages and their copyright and changelog alone (no panelsim).
EXTRA_OECMAKE = "-DBUILD_TESTING=OFF"

# As Debian's package panel: the programs on the device, their manual pages
# and documents in the -doc package.
FILES:${PN} = "${bindir}/panelcmd ${bindir}/panel45"
FILES:${PN}-doc = "${mandir}/man1/panelcmd.1.gz ${mandir}/man1/panel45.1.gz ${docdir}/panel"
