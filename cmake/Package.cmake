# cmake --build <build> --target package: a ZIP of the command line with the
# README and the licence, named with the version, e.g.
# kestrune-1.0-windows-x86_64.zip.
if(WIN32)
  set(kestrune_doc_destination .)
else()
  set(kestrune_doc_destination share/doc/kestrune)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${kestrune_doc_destination})
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" kestrune_package_system)
set(CPACK_PACKAGE_FILE_NAME "kestrune-${PROJECT_VERSION}-${kestrune_package_system}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)  # the debug information stays in the build
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
