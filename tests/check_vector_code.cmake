# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# On x86 (X86 set), the library's code scrubs with vectors: SSE2 registers
# for the baseline loop and AVX2 ones for long texts.
if(X86)
  execute_process(COMMAND ${OBJDUMP} -d "${LIBRARY}" OUTPUT_VARIABLE code RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -d failed on ${LIBRARY}")
  endif()
  foreach(register xmm ymm)
    if(NOT code MATCHES "%${register}[0-9]")
      message(FATAL_ERROR "${LIBRARY} holds no instruction on ${register} registers")
    endif()
  endforeach()
endif()
