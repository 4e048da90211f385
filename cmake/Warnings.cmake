# Strict warnings for Brontide's own targets only (system headers are not ours to fix).
function(brontide_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor)
endfunction()

# A core library: plain C++, no Qt or media library may be linked (checked at the end of src/).
function(brontide_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  brontide_warnings(${name})
  set_property(GLOBAL APPEND PROPERTY BRONTIDE_CORE_TARGETS ${name})
endfunction()

# An adapter library under src/linux/: may link system libraries.
function(brontide_adapter_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  brontide_warnings(${name})
endfunction()

function(brontide_check_core_dependencies)
  get_property(targets GLOBAL PROPERTY BRONTIDE_CORE_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(libs ${target} LINK_LIBRARIES)
    foreach(lib IN LISTS libs)
      if(lib MATCHES "Qt|PkgConfig|pipewire|avahi|gst|avcodec|avutil|systemd")
        message(FATAL_ERROR "core library ${target} links ${lib}: only src/linux and app may use system media libraries or Qt")
      endif()
    endforeach()
  endforeach()
endfunction()
