# The exe's version resource (res/version.rc, included by app.rc) takes its
# numbers from the project version through a generated header.

# FILEVERSION needs four numbers; a project version may give fewer.
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    set(ORVEL_VERSION_${part} 0)
  else()
    set(ORVEL_VERSION_${part} ${PROJECT_VERSION_${part}})
  endif()
endforeach()

set(ORVEL_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/res/version.h.in ${ORVEL_GENERATED_DIR}/version.h @ONLY)

# On the resource scripts only, so no C++ source can pick up this version.h.
# OBJECT_DEPENDS: a new version or block recompiles the resources even where
# the generator does not scan .rc includes.
set_source_files_properties(res/app.rc res/app_nobg.rc PROPERTIES
  INCLUDE_DIRECTORIES ${ORVEL_GENERATED_DIR}
  OBJECT_DEPENDS "${ORVEL_GENERATED_DIR}/version.h;${CMAKE_SOURCE_DIR}/res/version.rc")
