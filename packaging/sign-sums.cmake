# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# After each CPack generator's sums (sha256sums.cmake): SHA256SUMS.asc, a
# detached, armoured signature of SHA256SUMS by the releaser's GnuPG key
# (VYKOSTRA_SIGN_GPG_KEY), which `gpg --verify SHA256SUMS.asc SHA256SUMS`
# checks.
set(sums ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
execute_process(COMMAND ${CPACK_VYKOSTRA_GPG} --batch --yes --armor --detach-sign
    --local-user ${CPACK_VYKOSTRA_SIGN_GPG_KEY} --output ${sums}.asc ${sums}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gpg could not sign ${sums} with ${CPACK_VYKOSTRA_SIGN_GPG_KEY}:\n${out}")
endif()
