# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# After each CPack generator: beside each package its bill of materials,
# then SHA256SUMS and, given a key, SHA256SUMS.asc (packaging/release.py).
execute_process(COMMAND ${CPACK_VYKOSTRA_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/release.py
    ${CPACK_VYKOSTRA_FACTS} ${CPACK_PACKAGE_DIRECTORY} ${CPACK_TOPLEVEL_DIRECTORY}
    "${CPACK_VYKOSTRA_SIGN_GPG_KEY}" ${CPACK_PACKAGE_FILES}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the packages' bills of materials, sums or signature were not made")
endif()
