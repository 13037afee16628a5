# Configures the project in WORK with libzip hidden from pkg-config: a build without the tests
# must not need it, a build with them must say that it does.
#   cmake -DSOURCE=<checkout> -DWORK=<empty dir> -P configure_without_libzip.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/pc)
execute_process(COMMAND pkg-config --variable pc_path pkg-config
  OUTPUT_VARIABLE dirs OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE ":" ";" dirs "${dirs}")
foreach(dir ${dirs})
  file(GLOB pcs ${dir}/*.pc)
  foreach(pc ${pcs})
    get_filename_component(name ${pc} NAME)
    if(NOT name STREQUAL "libzip.pc" AND NOT EXISTS ${WORK}/pc/${name})
      file(CREATE_LINK ${pc} ${WORK}/pc/${name} SYMBOLIC)
    endif()
  endforeach()
endforeach()
set(ENV{PKG_CONFIG_LIBDIR} ${WORK}/pc)
unset(ENV{PKG_CONFIG_PATH})

foreach(tests OFF ON)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build-${tests} -DQEM_BUILD_TESTS=${tests}
      -DQEM_BUILD_CLI=OFF
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(tests STREQUAL "OFF" AND NOT rc EQUAL 0)
    message(FATAL_ERROR "without the tests, configuring needed libzip:\n${out}\n${err}")
  endif()
  if(tests STREQUAL "ON" AND (rc EQUAL 0 OR NOT "${out}${err}" MATCHES "libzip"))
    message(FATAL_ERROR "with the tests, a missing libzip went unnoticed:\n${out}\n${err}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
