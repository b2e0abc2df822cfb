# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""The checks of VYKOSTRA's builds (python3 -m check: see __main__)."""
