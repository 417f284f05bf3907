# Dear ImGui: the core as one static library (unit tests link only this) and
# the GLFW + OpenGL3 backends as a second one.
#
# Sources, in order of preference: -DIMGUI_SOURCE_DIR=..., a system imgui
# found by pkg-config, the source package that scripts/setup unpacks.

set(IMGUI_SOURCE_DIR "" CACHE PATH "Dear ImGui source tree (>= 1.92) to build instead of the default")
set(_imgui_min 19200)

function(_imgui_check_version header)
  file(STRINGS "${header}" _line REGEX "^#define IMGUI_VERSION_NUM[ \t]+[0-9]+")
  string(REGEX MATCH "[0-9]+$" _num "${_line}")
  if(NOT _num OR _num LESS ${_imgui_min})
    message(FATAL_ERROR "Dear ImGui at ${header} is version '${_num}'; Quillmark needs 1.92 or newer "
                        "(IMGUI_VERSION_NUM >= ${_imgui_min}). Run scripts/setup or pass -DIMGUI_SOURCE_DIR=.")
  endif()
  message(STATUS "Dear ImGui: ${header} (IMGUI_VERSION_NUM ${_num})")
endfunction()

find_package(PkgConfig QUIET)
set(_imgui_dir "")
if(IMGUI_SOURCE_DIR)
  set(_imgui_dir "${IMGUI_SOURCE_DIR}")
elseif(PKG_CONFIG_FOUND)
  pkg_check_modules(SYSTEM_IMGUI QUIET IMPORTED_TARGET imgui>=1.92)
endif()
if(NOT _imgui_dir AND NOT SYSTEM_IMGUI_FOUND)
  set(_imgui_dir "${PROJECT_SOURCE_DIR}/.cache/imgui/src")
endif()

if(_imgui_dir)
  if(NOT EXISTS "${_imgui_dir}/imgui.h")
    message(FATAL_ERROR "Dear ImGui sources not found in ${_imgui_dir}. Run scripts/setup first, "
                        "or pass -DIMGUI_SOURCE_DIR=<path to Dear ImGui 1.92 or newer>.")
  endif()
  _imgui_check_version("${_imgui_dir}/imgui.h")
  add_library(imgui_core STATIC
    ${_imgui_dir}/imgui.cpp ${_imgui_dir}/imgui_draw.cpp
    ${_imgui_dir}/imgui_tables.cpp ${_imgui_dir}/imgui_widgets.cpp
    ${_imgui_dir}/imgui_demo.cpp)
  target_include_directories(imgui_core SYSTEM PUBLIC ${_imgui_dir})
  set(_backend_dir "${_imgui_dir}/backends")
else()
  add_library(imgui_core INTERFACE)
  target_link_libraries(imgui_core INTERFACE PkgConfig::SYSTEM_IMGUI)
  # The system package ships headers and the core; the backends are compiled
  # from its include directory when it carries them.
  find_path(_backend_dir imgui_impl_glfw.cpp PATHS ${SYSTEM_IMGUI_INCLUDE_DIRS}
            PATH_SUFFIXES backends NO_DEFAULT_PATH)
  if(NOT _backend_dir)
    message(FATAL_ERROR "The system imgui has no GLFW/OpenGL3 backend sources; pass -DIMGUI_SOURCE_DIR=.")
  endif()
endif()

find_package(glfw3 3.3 REQUIRED)
find_package(OpenGL REQUIRED COMPONENTS OpenGL GLX)
add_library(imgui_backends STATIC
  ${_backend_dir}/imgui_impl_glfw.cpp ${_backend_dir}/imgui_impl_opengl3.cpp)
target_include_directories(imgui_backends SYSTEM PUBLIC ${_backend_dir})
target_link_libraries(imgui_backends PUBLIC imgui_core glfw OpenGL::GL ${CMAKE_DL_LIBS})
