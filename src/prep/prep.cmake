# Build rules of the preparation module: which installed programs the
# preparation steps run, and the comment-section helper `corvane-mcs`.
#
# The command lines name System V paths. Where such a path exists here it
# is used as it is; otherwise the program of the same behaviour found on
# this platform takes its place.

# The first existing path of `paths`, else what find_program finds for `names`.
function(corvane_pick_program var)
  cmake_parse_arguments(P "" "" "PATHS;NAMES" ${ARGN})
  foreach(p ${P_PATHS})
    if(EXISTS ${p})
      set(${var} ${p} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  find_program(${var}_FOUND NAMES ${P_NAMES})
  if(${var}_FOUND)
    set(${var} ${${var}_FOUND} PARENT_SCOPE)
  else()
    message(WARNING "corvane: none of ${P_NAMES} found; preparation steps using it will fail")
    list(GET P_NAMES 0 first)
    set(${var} ${first} PARENT_SCOPE)
  endif()
endfunction()

corvane_pick_program(CORVANE_GROFF PATHS /usr/gnu/bin/groff NAMES groff)
corvane_pick_program(CORVANE_STRIP PATHS /bin/strip NAMES strip)
corvane_pick_program(CORVANE_AR PATHS /bin/ar NAMES ar)
corvane_pick_program(CORVANE_OBJCOPY PATHS /bin/objcopy NAMES objcopy)

# GNU strip removes every symbol of a relocatable object or archive member by
# default, which leaves it unusable for linking; --strip-unneeded keeps what
# linking needs and still strips executables and shared objects completely,
# as the System V strip does.
set(CORVANE_STRIP_CMD ${CORVANE_STRIP})
execute_process(COMMAND ${CORVANE_STRIP} --version OUTPUT_VARIABLE strip_version
  ERROR_QUIET RESULT_VARIABLE strip_rc)
if(strip_rc EQUAL 0 AND strip_version MATCHES "GNU")
  string(APPEND CORVANE_STRIP_CMD " --strip-unneeded")
endif()

# Programs the command lines name without a path; only checked here.
foreach(p compress gzip gunzip bunzip2)
  find_program(CORVANE_HAVE_${p} ${p})
  if(NOT CORVANE_HAVE_${p})
    message(WARNING "corvane: `${p}' not found; install it (Debian packages ncompress, gzip, bzip2)")
  endif()
endforeach()

target_compile_definitions(corvane_manfmt PRIVATE CORVANE_GROFF="${CORVANE_GROFF}")

include(GNUInstallDirs)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/autoprep.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  CORVANE_STRIP_CMD="${CORVANE_STRIP_CMD}"
  CORVANE_AR_CMD="${CORVANE_AR} -ts"
  CORVANE_MCS_INSTALLED="${CMAKE_INSTALL_FULL_BINDIR}/corvane-mcs")

target_compile_definitions(corvane-mcs PRIVATE
  CORVANE_OBJCOPY="${CORVANE_OBJCOPY}" CORVANE_AR="${CORVANE_AR}")
# corvane finds the helper beside itself, in the build tree as installed.
add_dependencies(corvane corvane-mcs)
