# SPDX-License-Identifier: MIT
# Hardening as Debian builds its programs and libraries, in one place for
# everything we install: vykostra_harden(TARGET).  On ELF systems: the stack
# protector, stack clash protection, the C library's checked calls (where
# the build optimises, as they need, and no sanitizer checks the same calls
# its own way), position-independent code (PIE for a program), full RELRO
# with immediate binding and a stack that cannot run.  Windows images get
# their own flags where the DLL is linked.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

add_library(vykostra_hardening INTERFACE)
if(NOT WIN32)
  target_compile_options(vykostra_hardening INTERFACE
    -fstack-protector-strong -fstack-clash-protection)
  if(NOT VYKOSTRA_COVERAGE AND NOT VYKOSTRA_SANITIZE)
    target_compile_definitions(vykostra_hardening INTERFACE
      $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  endif()
  target_link_options(vykostra_hardening INTERFACE
    -Wl,-z,relro,-z,now -Wl,-z,noexecstack)
endif()

function(vykostra_harden target)
  target_link_libraries(${target} PRIVATE vykostra_hardening)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
