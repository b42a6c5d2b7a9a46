# One library per layer, built from every .cpp file of the layer's folder and of the subfolders
# named in FOLDERS (a layer whose concerns have folders of their own): static, or shared with
# BUILD_SHARED_LIBS=ON. A layer without code yet is an interface library, so dependants link
# already. Headers are found from the top of the tree ("dbengine/dataset/db_table.h").
function(zq_add_layer target)
  cmake_parse_arguments(L "" "" "DEPS;FOLDERS" ${ARGN})
  set(patterns ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  foreach(folder IN LISTS L_FOLDERS)
    list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  endforeach()
  file(GLOB srcs CONFIGURE_DEPENDS ${patterns})
  if(srcs)
    add_library(${target} ${srcs})
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
    target_link_libraries(${target} PUBLIC ${L_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
    target_link_libraries(${target} INTERFACE ${L_DEPS})
  endif()
endfunction()

# One GoogleTest executable per folder of tests/, registered as one CTest test.
# QT: the folder supplies its own main() (it needs a QApplication); otherwise tests/support's is used.
# Both exit with 77 when a test was skipped and none failed, which CTest reports as skipped.
# Tests find the source tree and the programs of this build through ZQ_TEST_SOURCE_DIR and
# ZQ_TEST_BINARY_DIR, so a run outside CTest tests the same things.
function(zq_add_test_suite name)
  cmake_parse_arguments(T "QT" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  if(NOT T_QT)
    list(APPEND srcs ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp)
  endif()
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE ZQ_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             ZQ_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZQ_SOURCE_DIR=${PROJECT_SOURCE_DIR};ZQ_BINARY_DIR=${PROJECT_BINARY_DIR}"
    SKIP_RETURN_CODE 77
    TIMEOUT 1800)
endfunction()
