# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# CPack's External generator runs this once it has installed each
# component into its own staging folder: the Debian packages
# (packaging/debs.py).
execute_process(COMMAND ${CPACK_VYKOSTRA_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/../debs.py
    ${CPACK_VYKOSTRA_SOURCE} ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_TOPLEVEL_DIRECTORY}/debs
    ${CPACK_PACKAGE_VERSION} ${CPACK_VYKOSTRA_ARCHITECTURE} "${CPACK_VYKOSTRA_MAINTAINER}"
    ${CPACK_VYKOSTRA_READELF}
  RESULT_VARIABLE status OUTPUT_VARIABLE built OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the Debian packages were not made")
endif()
string(REPLACE "\n" ";" CPACK_EXTERNAL_BUILT_PACKAGES "${built}")
