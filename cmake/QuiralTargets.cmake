# Functions that give the project's own targets their common settings.

include(GNUInstallDirs)

# quiral_target_warnings(<target>)
# The project's warning flags, for the project's own sources only (never for
# a parent project or a user of the installed package).
function(quiral_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()

# quiral_library(<target> NAME <name> [PUBLIC_HEADERS <header>...])
# Makes <target>, a shared library of the project, installable: a versioned
# shared object, exported from the package as quiral::<name> (and aliased so
# in the build tree). The project's own sources include each other from the
# source root ("vek/robot.h").
#
# PUBLIC_HEADERS (relative to the current source directory) are the headers
# a user of the library includes. They are installed as
# include/quiral/<dir>/<header>, <dir> being the current source directory
# relative to the source root, and appear under the same name in the build
# tree (build/include/quiral/...), so that `#include <quiral/vek/robot.h>`
# also works for a parent project. A public header includes other public
# headers only, through relative paths ("data_types.h",
# "../base/controller_states.h"), so that it compiles in both trees. A
# library without PUBLIC_HEADERS is installed for the run time only.
function(quiral_library target)
  cmake_parse_arguments(ARG "" "NAME" "PUBLIC_HEADERS" ${ARGN})
  add_library(quiral::${ARG_NAME} ALIAS ${target})
  # SOVERSION: major.minor, as the libraries below the API change their
  # interface between minor releases (all of them are installed together).
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${ARG_NAME}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
    INSTALL_RPATH "$ORIGIN")
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  quiral_target_warnings(${target})
  install(TARGETS ${target} EXPORT quiralbivekTargets)

  if(ARG_PUBLIC_HEADERS)
    file(RELATIVE_PATH dir ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    foreach(header IN LISTS ARG_PUBLIC_HEADERS)
      get_filename_component(subdir quiral/${dir}/${header} DIRECTORY)
      install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${subdir})
      file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/include/${subdir})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header}
           ${PROJECT_BINARY_DIR}/include/quiral/${dir}/${header} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  endif()
endfunction()
