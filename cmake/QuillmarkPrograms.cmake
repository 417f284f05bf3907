# quillmark_add_program(name SOURCES ... LIBS ...)
# An executable of the tests or the benchmarks: our warnings, the shared test
# helpers of tests/ on the include path, the given libraries and threads.
# quillmark_add_test and quillmark_add_benchmark build on it.
function(quillmark_add_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  quillmark_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${P_LIBS} Threads::Threads)
endfunction()

# Adds every folder below the current one that has a CMakeLists.txt: tests/
# and bench/ mirror src/, and a new subsystem's folder joins by itself.
macro(quillmark_add_subsystem_dirs)
  file(GLOB _quillmark_lists RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(_list IN LISTS _quillmark_lists)
    get_filename_component(_sub ${_list} DIRECTORY)
    add_subdirectory(${_sub})
  endforeach()
endmacro()
