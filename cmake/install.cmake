# Installation of a component that other programs build on: its library in lib/, its public
# headers under include/zq/ (kept at their place in the tree, so "dbengine/dataset/db_table.h"
# reaches them as it does here), the target zq::<name> of the zq CMake package, and a pkg-config
# file zq-<name>.pc.
#
#   zq_install_component(<target> <name> DESCRIPTION <one line for pkg-config>
#     HEADERS <the component's public headers, relative to its folder>
#     [WITH_HEADERS <headers that public class definitions include; installed with them so the
#                    installed tree compiles, but not part of the documented surface>])
#
# Each component lists its headers here once, in its own CMakeLists.txt; a file that moves only
# changes that list.
function(zq_install_component target name)
  cmake_parse_arguments(C "" "DESCRIPTION" "HEADERS;WITH_HEADERS" ${ARGN})
  set(headers ${C_HEADERS} ${C_WITH_HEADERS})
  list(TRANSFORM headers PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  target_sources(${target} PUBLIC FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR} FILES ${headers})
  # The documented surface, for scripts/package's check of what a package holds.
  set(public ${C_HEADERS})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  list(TRANSFORM public PREPEND ${folder}/)
  set_property(GLOBAL APPEND PROPERTY ZQ_PUBLIC_HEADERS ${public})
  # The headers need C++20; consumers of the package get the same standard at least.
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${name} VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS ${target} EXPORT zqTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zq COMPONENT Development)

  # pkg-config: the component's own zq-* dependencies are always required (their headers are part
  # of this one's); the outside libraries only for static linking when the library is shared.
  get_target_property(deps ${target} INTERFACE_LINK_LIBRARIES)
  set(own_requires "")
  set(outside_requires "")
  foreach(dep IN LISTS deps)
    if(dep MATCHES "^zq_(.+)$")
      list(APPEND own_requires "zq-${CMAKE_MATCH_1}")
    elseif(dep STREQUAL "ZLIB::ZLIB")
      list(APPEND outside_requires zlib)
    elseif(dep MATCHES "^ICU::(uc|i18n)$")
      list(APPEND outside_requires "icu-${CMAKE_MATCH_1}")
    elseif(dep MATCHES "libisal\\.")
      list(APPEND outside_requires libisal)
    else()
      message(FATAL_ERROR "${target}: no pkg-config name known for the dependency ${dep}")
    endif()
  endforeach()
  if(BUILD_SHARED_LIBS)
    set(requires_private "${outside_requires}")
  else()
    list(APPEND own_requires ${outside_requires})
    set(requires_private "")
  endif()
  list(JOIN own_requires " " PC_REQUIRES)
  list(JOIN requires_private " " PC_REQUIRES_PRIVATE)
  set(PC_NAME ${name})
  set(PC_DESCRIPTION "${C_DESCRIPTION}")
  get_target_property(PC_LIBRARY ${target} OUTPUT_NAME)
  if(NOT PC_LIBRARY)
    set(PC_LIBRARY ${target})
  endif()
  # The prefix is found from the file's own place, so the tree can be installed anywhere.
  file(RELATIVE_PATH PC_PREFIX_FROM_PCFILEDIR "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" PC_PREFIX_FROM_PCFILEDIR "${PC_PREFIX_FROM_PCFILEDIR}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/zq.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/zq-${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/zq-${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endfunction()
