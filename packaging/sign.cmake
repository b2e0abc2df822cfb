# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Signatures, when the releaser gives keys; without them nothing is
# signed and every byte is as it would be without this file.
#   VYKOSTRA_SIGN_GPG_KEY   a key in the caller's GnuPG home: after each
#                           CPack generator, SHA256SUMS.asc, a detached,
#                           armoured signature of SHA256SUMS (release.py)
#   VYKOSTRA_SIGN_PKCS12, VYKOSTRA_SIGN_PKCS12_PASSWORD_FILE
#                           Windows: an Authenticode signature (SHA-256) on
#                           VYKOSTRA.dll and pgrmsg-collapse.exe as they are
#                           installed, stripped, so before they are zipped
#   VYKOSTRA_SIGN_TIMESTAMP_URL
#                           an RFC 3161 time-stamp server for Authenticode
set(VYKOSTRA_SIGN_GPG_KEY "" CACHE STRING
  "GnuPG key that signs SHA256SUMS (SHA256SUMS.asc); empty: not signed")
set(VYKOSTRA_SIGN_PKCS12 "" CACHE FILEPATH
  "PKCS#12 file with the Authenticode key and certificate; empty: not signed")
set(VYKOSTRA_SIGN_PKCS12_PASSWORD_FILE "" CACHE FILEPATH
  "File holding the PKCS#12 file's password")
set(VYKOSTRA_SIGN_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 time-stamp server for the Authenticode signatures (optional)")

if(VYKOSTRA_SIGN_GPG_KEY)
  find_program(VYKOSTRA_GPG gpg REQUIRED)
endif()
set(CPACK_VYKOSTRA_SIGN_GPG_KEY "${VYKOSTRA_SIGN_GPG_KEY}")

if(WIN32 AND VYKOSTRA_SIGN_PKCS12)
  find_program(VYKOSTRA_OSSLSIGNCODE osslsigncode REQUIRED)
  if(NOT EXISTS "${VYKOSTRA_SIGN_PKCS12_PASSWORD_FILE}")
    message(FATAL_ERROR "VYKOSTRA_SIGN_PKCS12 needs VYKOSTRA_SIGN_PKCS12_PASSWORD_FILE, "
      "a file holding its password")
  endif()
  set(timestamp "")
  if(VYKOSTRA_SIGN_TIMESTAMP_URL)
    set(timestamp -ts ${VYKOSTRA_SIGN_TIMESTAMP_URL})
  endif()
  foreach(binary runtime:VYKOSTRA.dll tool:pgrmsg-collapse.exe)
    string(REPLACE ":" ";" binary ${binary})
    list(GET binary 0 component)
    list(GET binary 1 name)
    # After the install rule that copied (and stripped) it.
    install(CODE "
      set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")
      execute_process(COMMAND \"${VYKOSTRA_OSSLSIGNCODE}\" sign
          -pkcs12 \"${VYKOSTRA_SIGN_PKCS12}\" -readpass \"${VYKOSTRA_SIGN_PKCS12_PASSWORD_FILE}\"
          -h sha256 -n VYKOSTRA ${timestamp} -in \"\${file}\" -out \"\${file}.signed\"
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR \"osslsigncode could not sign \${file}:\\n\${out}\")
      endif()
      file(RENAME \"\${file}.signed\" \"\${file}\")
      " COMPONENT ${component})
  endforeach()
endif()
