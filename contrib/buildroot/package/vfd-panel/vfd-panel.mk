################################################################################
#
# vfd-panel
#
################################################################################

# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT

VFD_PANEL_VERSION = 1.4.0
VFD_PANEL_SOURCE = panel-$(VFD_PANEL_VERSION).tar.gz
VFD_PANEL_SITE = https://example.org/panel/releases
VFD_PANEL_LICENSE = MIT
VFD_PANEL_LICENSE_FILES = LICENSE
# A cross build without testing compiles and installs the two programs,
# their manual pages and their copyright and changelog alone.
VFD_PANEL_CONF_OPTS = -DBUILD_TESTING=OFF

$(eval $(cmake-package))
