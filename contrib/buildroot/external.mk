# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
include $(sort $(wildcard $(BR2_EXTERNAL_VFD_PANEL_PATH)/package/*/*.mk))
