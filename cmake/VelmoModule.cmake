# velmo_add_module(NAME SOURCES...): an in-process component module.
# Built as build/lib/NAME.so without a "lib" prefix, with hidden visibility so
# only the four Dll* entry points are exported, and with RUNPATH $ORIGIN so it
# finds libvelmo_platform.so beside it.
function(velmo_add_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    INSTALL_RPATH "$ORIGIN"
    BUILD_RPATH "$ORIGIN")
  target_link_libraries(${name} PRIVATE velmo_platform)
  # libc is named even when a module calls it only through the platform
  # library, as every Debian library must.
  target_link_options(${name} PRIVATE "LINKER:--push-state,--no-as-needed,-lc,--pop-state")
  # Static libraries linked in stay private to the module.
  target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)
endfunction()

# velmo_add_program(NAME SOURCES...): a program in build/bin, which knows the
# project's version as VELMO_VERSION (interfaces/StandardOptions.h). It finds
# the platform library in build/lib, and installed in lib/velmo.
function(velmo_add_program name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib/velmo:$ORIGIN/../lib"
                                           BUILD_RPATH "$ORIGIN/../lib")
  target_link_libraries(${name} PRIVATE velmo_platform)
  target_compile_definitions(${name} PRIVATE VELMO_VERSION="${PROJECT_VERSION}")
endfunction()
