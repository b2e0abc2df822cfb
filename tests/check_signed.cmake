# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# A release signed with keys of the test's own: a throwaway GnuPG key, and
# on Windows a throwaway code-signing certificate in a PKCS#12 file.  The
# library and the tool are built afresh with them (tests off) and packed;
# then `gpg --verify SHA256SUMS.asc SHA256SUMS` and `sha256sum -c
# SHA256SUMS` hold, the bills of materials still match, and on Windows
# `osslsigncode verify` accepts both binaries, the DLL's PDB still reads
# its export back to our source, and (where Wine runs) the signed tool
# runs the sample on the signed DLL.
# Variables: SOURCE, WORK, GENERATOR, TOOLCHAIN (optional), WINDOWS,
# GPG, GPGCONF, OPENSSL and OSSLSIGNCODE (Windows only), OBJDUMP,
# SYMBOLIZER (optional), EMULATOR (optional, words apart by '|': only
# where Windows programs run), NODE and VALIDATOR (optional).
cmake_policy(VERSION 3.25)
set(variables SOURCE WORK GENERATOR TOOLCHAIN WINDOWS GPG GPGCONF OPENSSL OSSLSIGNCODE OBJDUMP
  SYMBOLIZER EMULATOR NODE VALIDATOR)

# The GnuPG home is a folder of its own under /tmp, whatever the build
# folder's path: where /run/user/UID is missing, gpg-agent makes its
# sockets in the home, and a socket's path must fit in 108 bytes.  The
# check runs in a cmake of its own, so that however it ends, the agent
# (and any other daemon of that home) is stopped and the home removed.
if(NOT DEFINED GNUPGHOME)
  execute_process(COMMAND mktemp -d /tmp/vykostra-gnupg.XXXXXX
    OUTPUT_VARIABLE home OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT IS_DIRECTORY "${home}")
    message(FATAL_ERROR "cannot make a GnuPG home in /tmp (mktemp -d: ${status})")
  endif()
  set(defines "")
  foreach(variable IN LISTS variables)
    list(APPEND defines "-D${variable}=${${variable}}")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} ${defines} -DGNUPGHOME=${home}
    -P ${CMAKE_CURRENT_LIST_FILE} RESULT_VARIABLE status)
  execute_process(COMMAND ${GPGCONF} --homedir ${home} --kill all)
  execute_process(COMMAND ${GPGCONF} --homedir ${home} --remove-socketdir
    OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE ${home})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the signed release failed its check (${status}), as printed above")
  endif()
  return()
endif()

string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/check_pdb.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{GNUPGHOME} ${GNUPGHOME})

run(${GPG} --batch --passphrase "" --quick-generate-key "VYKOSTRA test <test@example.org>"
  ed25519 sign 1d)
run(${GPG} --batch --with-colons --list-secret-keys)
string(REGEX MATCH "\nfpr:+([0-9A-F]+):" found "${out}")
set(key ${CMAKE_MATCH_1})

set(signing -DVYKOSTRA_SIGN_GPG_KEY=${key})
if(WINDOWS)
  set(pki ${WORK}/pki)
  file(MAKE_DIRECTORY ${pki})
  file(WRITE ${pki}/password "throwaway\n")
  run(${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VYKOSTRA test"
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning"
    -keyout ${pki}/key.pem -out ${pki}/cert.pem)
  run(${OPENSSL} pkcs12 -export -inkey ${pki}/key.pem -in ${pki}/cert.pem
    -passout file:${pki}/password -out ${pki}/signing.p12)
  list(APPEND signing -DVYKOSTRA_SIGN_PKCS12=${pki}/signing.p12
    -DVYKOSTRA_SIGN_PKCS12_PASSWORD_FILE=${pki}/password)
endif()

set(toolchain "")
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G ${GENERATOR} ${toolchain}
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF ${signing})
run(${CMAKE_COMMAND} --build ${WORK}/build)
run(cpack --config ${WORK}/build/CPackConfig.cmake -B ${WORK}/packages)
set(packages ${WORK}/packages)

run(${GPG} --batch --verify ${packages}/SHA256SUMS.asc ${packages}/SHA256SUMS)
run(${CMAKE_COMMAND} -E chdir ${packages} sha256sum -c SHA256SUMS)
set(PACKAGES ${packages})
set(CPACK_CONFIG ${WORK}/build/CPackConfig.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/check_sbom.cmake)

if(WINDOWS)
  file(GLOB zips ${PACKAGES}/*.zip)
  set(root ${WORK}/unpacked)
  file(MAKE_DIRECTORY ${root})
  foreach(zip IN LISTS zips)
    run(${CMAKE_COMMAND} -E chdir ${root} ${CMAKE_COMMAND} -E tar xf ${zip})
  endforeach()
  file(GLOB prefix ${root}/*)
  foreach(binary VYKOSTRA.dll pgrmsg-collapse.exe)
    run(${OSSLSIGNCODE} verify -CAfile ${pki}/cert.pem -in ${prefix}/bin/${binary})
    if(NOT out MATCHES "Signature verification: ok")
      message(FATAL_ERROR "osslsigncode does not verify ${binary}:\n${out}")
    endif()
  endforeach()
  if(SYMBOLIZER)
    check_pdb_reads_export(${prefix}/bin/VYKOSTRA.dll)
  endif()
  if(EMULATOR)
    run(${EMULATOR} ${prefix}/bin/pgrmsg-collapse.exe ${SOURCE}/examples/sample.msg
      ${WORK}/sample.txt)
    if(NOT out MATCHES "result 0x00000000")
      message(FATAL_ERROR "the signed tool and DLL gave:\n${out}")
    endif()
  endif()
endif()
