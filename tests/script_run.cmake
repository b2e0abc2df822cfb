# run(COMMAND...): runs a command and stops the script with its output if it
# fails; otherwise leaves what it printed in `out`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
