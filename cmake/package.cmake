# The release zip (cpack, or the "package" target): the exe, the three guides,
# the pictures they show, the browser and Windows policy files and a SHA256SUMS
# of it all.
# Everything here is in one install component and CPack installs only that
# component, so an install rule from a test or a third-party folder can never
# slip into the zip.

set(ORVEL_PACKAGE_COMPONENT orvel-cbt)
set(ORVEL_PACKAGE_DOCS panduan-pengawas.md it-guide.md exam-server.md)
set(ORVEL_PACKAGE_POLICIES edge-exam.reg chrome-exam.reg windows-exam.reg)

# Every file of the package, relative to its root, for SHA256SUMS.
set(ORVEL_PACKAGE_FILES orvel-cbt.exe)

install(TARGETS orvel-cbt RUNTIME DESTINATION . COMPONENT ${ORVEL_PACKAGE_COMPONENT})

# The pictures come from the guides' own image links, ![alt](path "title"),
# relative to docs/. A missing one only warns: the guides and their pictures
# are made separately.
set(pictures "")
set(missing_pictures "")
foreach(doc ${ORVEL_PACKAGE_DOCS})
  set(doc_path ${CMAKE_SOURCE_DIR}/docs/${doc})
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${doc_path})
  install(FILES ${doc_path} DESTINATION docs COMPONENT ${ORVEL_PACKAGE_COMPONENT})
  list(APPEND ORVEL_PACKAGE_FILES docs/${doc})

  file(READ ${doc_path} text)
  string(REGEX MATCHALL "!\\[[^]]*\\]\\([^)]*\\)" links "${text}")
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^!\\[[^]]*\\]\\([ \t]*<?([^ \t>)]*)>?.*\\)$" "\\1" target "${link}")
    if(target STREQUAL "" OR target MATCHES "^[A-Za-z][A-Za-z0-9+.-]*:")
      continue()  # empty, or a web address / data URL: nothing to ship
    endif()
    cmake_path(SET packaged NORMALIZE "docs/${target}")
    if(NOT packaged MATCHES "^docs/")
      message(WARNING "docs/${doc}: picture '${target}' lies outside docs/ and is not packaged")
      continue()
    endif()
    if(packaged IN_LIST pictures OR packaged IN_LIST missing_pictures)
      continue()
    endif()
    # Its folder changes when a picture is added or removed there, so the
    # next build (or cpack) configures again and the list follows.
    cmake_path(GET packaged PARENT_PATH folder)
    while(NOT IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${folder})
      cmake_path(GET folder PARENT_PATH folder)
    endwhile()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY
      CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder})
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${packaged} OR IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${packaged})
      list(APPEND missing_pictures ${packaged})
      message(WARNING "docs/${doc} shows ${packaged}, which does not exist: "
                      "the release package will not contain it. The build configures "
                      "again once it is there.")
      continue()
    endif()
    list(APPEND pictures ${packaged})
    cmake_path(GET packaged PARENT_PATH destination)
    install(FILES ${CMAKE_SOURCE_DIR}/${packaged} DESTINATION ${destination}
            COMPONENT ${ORVEL_PACKAGE_COMPONENT})
    list(APPEND ORVEL_PACKAGE_FILES ${packaged})
  endforeach()
endforeach()
list(LENGTH pictures picture_count)
message(STATUS "Release package: ${picture_count} pictures from the guides")

# The browser and Windows policy files the IT guide has the school import, as they are
# (ASCII with CRLF line ends, which regedit reads).
foreach(policy ${ORVEL_PACKAGE_POLICIES})
  install(FILES ${CMAKE_SOURCE_DIR}/docs/policies/${policy} DESTINATION docs/policies
          COMPONENT ${ORVEL_PACKAGE_COMPONENT})
  list(APPEND ORVEL_PACKAGE_FILES docs/policies/${policy})
endforeach()

# Written after the files, over them as staged, in `sha256sum` format.
list(SORT ORVEL_PACKAGE_FILES)
set(quoted_files "")
foreach(file IN LISTS ORVEL_PACKAGE_FILES)
  string(APPEND quoted_files " \"${file}\"")
endforeach()
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(sums \"\")
  foreach(file${quoted_files})
    file(SHA256 \"\${root}/\${file}\" hash)
    string(APPEND sums \"\${hash}  \${file}\\n\")
  endforeach()
  file(WRITE \"\${root}/SHA256SUMS\" \"\${sums}\")
  message(STATUS \"Installing: \${root}/SHA256SUMS\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${root}/SHA256SUMS\")
" COMPONENT ${ORVEL_PACKAGE_COMPONENT})

set(CPACK_PACKAGE_NAME orvel-cbt)
set(CPACK_PACKAGE_VENDOR "ORVEL Selvaro")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORVEL Selvaro CBT exam launcher")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME orvel-cbt-${PROJECT_VERSION}-win64)
# Unpacks into one folder named after the release, so releases stay apart and
# nothing lands loose in the folder the zip was opened in.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${ORVEL_PACKAGE_COMPONENT};/")
include(CPack)
