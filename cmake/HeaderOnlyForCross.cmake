# A cross build uses the build machine's header-only libraries (CLI11,
# nlohmann/json) as the native build does. Their installed CMake packages
# would put the build machine's whole /usr/include on the include path, so
# each gets a folder holding only its own headers and a package of ours.
function(kestrune_header_only_package package header_dir)
  set(root ${CMAKE_BINARY_DIR}/header-only/${package})
  if(NOT EXISTS /usr/include/${header_dir})
    message(FATAL_ERROR "${package}: /usr/include/${header_dir} is missing (scripts/install-deps.sh installs it)")
  endif()
  file(MAKE_DIRECTORY ${root}/include)
  if(NOT EXISTS ${root}/include/${header_dir})
    file(CREATE_LINK /usr/include/${header_dir} ${root}/include/${header_dir} SYMBOLIC)
  endif()
  set(target ${ARGV2})
  file(WRITE ${root}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${root}/include\")\n"
    "endif()\n")
  set(${package}_DIR ${root} CACHE PATH "" FORCE)
endfunction()

kestrune_header_only_package(CLI11 CLI CLI11::CLI11)
kestrune_header_only_package(nlohmann_json nlohmann nlohmann_json::nlohmann_json)
