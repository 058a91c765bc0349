# Build options and small helpers shared by every folder.
option(ORVEX_WERROR "Treat compiler warnings as errors" OFF)
option(ORVEX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ORVEX_BUILD_EDITOR "Build the Qt 6 configuration editor" ON)

add_library(orvex_options INTERFACE)
target_compile_options(orvex_options INTERFACE -Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # g++ 12 reports -Wrestrict for plain std::string concatenation at -O3 (GCC bug 105329).
  target_compile_options(orvex_options INTERFACE -Wno-restrict)
endif()
if(ORVEX_WERROR)
  target_compile_options(orvex_options INTERFACE -Werror)
endif()
if(ORVEX_SANITIZE)
  target_compile_options(orvex_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined)
  target_link_options(orvex_options INTERFACE -fsanitize=address,undefined)
endif()

# orvex_add_library(<target> <sources...> DEPS <targets...>)
# One static library per source folder; its headers are included as "folder/File.h".
function(orvex_add_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_library(${target} STATIC ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC orvex_options ${ARG_DEPS})
endfunction()

# orvex_add_test(<target> <sources...> DEPS <targets...> [LABELS <label>])
# Labels: unit (default; also run in the sanitizer build), program (runs the real programs;
# also run in the sanitizer build), integration (starts real servers; release build only).
# A GoogleTest executable whose tests are registered with ctest one by one.
function(orvex_add_test target)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE orvex_options orvex_test_support ${ARG_DEPS} GTest::gtest_main GTest::gmock)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  gtest_discover_tests(${target} PROPERTIES LABELS "${ARG_LABELS}" DISCOVERY_TIMEOUT 60)
endfunction()
