# Installs the build into a fresh prefix, then builds the consumer against
# it twice, with find_package and with pkg-config, and runs both.
# Variables: BUILD, SOURCE, WORK, GENERATOR, C_COMPILER, C_FLAGS,
# TOOLCHAIN (optional), EMULATOR (optional, its words apart by '|'),
# WINDOWS (ON/OFF).
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\n${out}")
  endif()
endfunction()

set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
foreach(file include/vykostra.h)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(GLOB_RECURSE pc_files ${prefix}/*/vykostra.pc)
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
get_filename_component(libdir ${pc_dir} DIRECTORY)

# find_package (a cross build finds packages in its own root only, so it is
# told where this one is)
set(toolchain "")
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run(${CMAKE_COMMAND} -S ${SOURCE}/tests/consumer -B ${WORK}/cmake -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} -DVYKOSTRA_DIR=${libdir}/cmake/VYKOSTRA ${toolchain})
run(${CMAKE_COMMAND} --build ${WORK}/cmake)
file(GLOB consumer_cmake ${WORK}/cmake/consumer ${WORK}/cmake/consumer.exe)

# pkg-config, with nothing but the installed tree in its search path
set(ENV{PKG_CONFIG_LIBDIR} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs vykostra
  OUTPUT_VARIABLE flags RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know vykostra")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
set(consumer_pc ${WORK}/consumer-pc)
if(WINDOWS)
  set(consumer_pc ${consumer_pc}.exe)
  list(APPEND c_flags -static-libgcc)
endif()
run(${C_COMPILER} ${c_flags} ${SOURCE}/tests/consumer/consumer.c ${flags} -o ${consumer_pc})

if(WINDOWS)
  # A DLL is found beside the program that loads it.
  file(COPY ${prefix}/bin/VYKOSTRA.dll DESTINATION ${WORK}/cmake)
  file(COPY ${prefix}/bin/VYKOSTRA.dll DESTINATION ${WORK})
else()
  set(ENV{LD_LIBRARY_PATH} ${libdir})
endif()
foreach(consumer ${consumer_cmake} ${consumer_pc})
  run(${EMULATOR} ${consumer} ${WORK}/out.txt)
endforeach()

# The installed tool finds the installed library by itself.
unset(ENV{LD_LIBRARY_PATH})
file(GLOB tool ${prefix}/bin/pgrmsg-collapse*)
run(${EMULATOR} ${tool} ${SOURCE}/examples/sample.msg ${WORK}/sample.txt)
