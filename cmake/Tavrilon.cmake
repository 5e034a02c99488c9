# Helper functions shared by every subsystem's CMakeLists.txt.
#
# The same source tree is configured twice:
#   - the Windows tree (mingw-w64 toolchain): every deliverable, Windows tests run under Wine;
#   - the host tree (native clang): portable libraries, their native tests with
#     AddressSanitizer/UBSan, fuzz targets, the device emulator and other test tools.
include_guard(GLOBAL)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(TV_WINDOWS_TREE ON)
    set(TV_HOST_TREE OFF)
else()
    set(TV_WINDOWS_TREE OFF)
    set(TV_HOST_TREE ON)
endif()

# GoogleTest from Debian's source package, built inside each tree.
if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Windows tests run in Wine prefixes that the test command makes alike and hands out as the ctest
# resource "prefix" (tools/test-prefix.sh puts a test in the one it was given). A prefix has
# TV_PREFIX_SLOTS slots: a test takes one, and a test that must be alone in its prefix (RUN_SERIAL,
# or the "devices" lock: it plugs devices into the prefix's test USB driver, and every hub of the
# prefix loads every device factory) takes them all, so it runs beside the tests of the other
# prefixes only. Tests labelled "own_prefix" make a prefix of their own and take none; benchmarks
# keep their RUN_SERIAL and run in the first prefix. A plain ctest run gets one prefix
# (test-prefixes.json); the test command gives its own spec with more.
set(TV_PREFIX_SLOTS 4)
set(TV_IN_TEST_PREFIX bash ${CMAKE_CURRENT_LIST_DIR}/../tools/test-prefix.sh)

function(_tv_place_tests_in_prefixes)
    get_property(tests DIRECTORY PROPERTY TESTS)
    foreach(test IN LISTS tests)
        get_test_property(${test} LABELS labels)
        if("own_prefix" IN_LIST labels OR "benchmark" IN_LIST labels)
            continue()
        endif()
        get_test_property(${test} RUN_SERIAL serial)
        get_test_property(${test} RESOURCE_LOCK locks)
        if(NOT locks)
            set(locks "")
        endif()
        set(slots 1)
        if(serial OR "devices" IN_LIST locks)
            set(slots ${TV_PREFIX_SLOTS})
            list(REMOVE_ITEM locks devices)
        endif()
        set_tests_properties(${test} PROPERTIES RUN_SERIAL FALSE RESOURCE_GROUPS "prefix:${slots}"
                                                RESOURCE_LOCK "${locks}")
    endforeach()
endfunction()

# Places the current directory's tests at the end of the directory, when their properties are set.
function(_tv_schedule_prefix_placement)
    get_property(scheduled DIRECTORY PROPERTY TV_PREFIX_PLACEMENT_SCHEDULED)
    if(TV_WINDOWS_TREE AND NOT scheduled)
        set_property(DIRECTORY PROPERTY TV_PREFIX_PLACEMENT_SCHEDULED ON)
        cmake_language(DEFER CALL _tv_place_tests_in_prefixes)
    endif()
endfunction()

# tv_portable_library(<name> SOURCES <files...> [LIBS <libs...>])
# A static library without Windows headers, built in both trees; its folder is its include path.
function(tv_portable_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARG_LIBS)
        target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    endif()
endfunction()

# One GoogleTest executable registered as one ctest entry (both trees use it).
function(_tv_gtest_executable name timeout)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    if(NOT timeout)
        set(timeout 300)
    endif()
    if(TV_WINDOWS_TREE)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TV_TEST_BIN_DIR})
        add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${TV_TEST_BIN_DIR})
        _tv_schedule_prefix_placement()
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout})
endfunction()

# tv_host_test(<name> SOURCES <files...> [LIBS <libs...>] [TIMEOUT <s>])
# A native GoogleTest executable (host tree only), one ctest entry.
function(tv_host_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "" ${ARGN})
    if(TV_HOST_TREE)
        _tv_gtest_executable(${name} "${ARG_TIMEOUT}" ${ARG_UNPARSED_ARGUMENTS})
    endif()
endfunction()

# tv_host_executable(<name> SOURCES <files...> [LIBS <libs...>])
# A native program used by tests (emulator, fake peers); host tree only.
function(tv_host_executable name)
    if(NOT TV_HOST_TREE)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_LIBS)
        target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    endif()
endfunction()

# tv_fuzz_target(<name> SOURCES <files...> [LIBS <libs...>] [SECONDS <n>])
# A libFuzzer target (host tree only); the test command runs it for a bounded time.
function(tv_fuzz_target name)
    if(NOT TV_HOST_TREE OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        return()
    endif()
    cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 20)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048 ${corpus})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS fuzz)
endfunction()

# tv_win_test(<name> SOURCES <files...> [LIBS <libs...>] [TIMEOUT <s>])
# A Windows GoogleTest executable run under Wine (Windows tree only), one ctest entry.
function(tv_win_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "" ${ARGN})
    if(TV_WINDOWS_TREE)
        _tv_gtest_executable(${name} "${ARG_TIMEOUT}" ${ARG_UNPARSED_ARGUMENTS})
    endif()
endfunction()

# tv_win_executable(<name> SOURCES <files...> [LIBS <libs...>] [GUI] [TEST_ONLY])
# A Windows program; deliverables go to bin/, test-only programs to tests/bin/.
function(tv_win_executable name)
    if(NOT TV_WINDOWS_TREE)
        return()
    endif()
    cmake_parse_arguments(ARG "GUI;TEST_ONLY;UNICODE" "" "SOURCES;LIBS" ${ARGN})
    _tv_schedule_prefix_placement()
    if(ARG_GUI)
        add_executable(${name} WIN32 ${ARG_SOURCES})
    else()
        add_executable(${name} ${ARG_SOURCES})
    endif()
    if(ARG_UNICODE)
        target_link_options(${name} PRIVATE -municode)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(ARG_TEST_ONLY)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TV_TEST_BIN_DIR})
    endif()
endfunction()

# tv_com_dll(<name> SOURCES <files...> DEF <file.def> [LIBS <libs...>] [TEST_ONLY] [NO_REGISTER])
# An in-process COM server. Deliverables land in bin/ and are registered by the install script
# in the order they are declared; TEST_ONLY servers land in tests/bin/ and are registered too.
function(tv_com_dll name)
    if(NOT TV_WINDOWS_TREE)
        return()
    endif()
    cmake_parse_arguments(ARG "TEST_ONLY;NO_REGISTER" "DEF" "SOURCES;LIBS" ${ARGN})
    _tv_schedule_prefix_placement()
    add_library(${name} MODULE ${ARG_SOURCES} ${ARG_DEF})
    set_target_properties(${name} PROPERTIES PREFIX "")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(ARG_TEST_ONLY)
        set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${TV_TEST_BIN_DIR})
    endif()
    # The debug information moves to <dll>.debug beside the DLL (a debugger finds it through the
    # debug link): Wine maps every section of an image, so debug sections left inside made each
    # load of the server read megabytes it never uses.
    if(CMAKE_OBJCOPY)
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${name}> $<TARGET_FILE:${name}>.debug
            COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE:${name}>.debug
                    $<TARGET_FILE:${name}>
            VERBATIM)
    endif()
    if(NOT ARG_NO_REGISTER)
        set_property(GLOBAL APPEND PROPERTY TV_REGISTERED_SERVERS "dll:$<TARGET_FILE:${name}>")
    endif()
endfunction()

# tv_register_exe(<target>): the install script runs "<exe> /RegServer" for this local server.
function(tv_register_exe name)
    if(TV_WINDOWS_TREE)
        set_property(GLOBAL APPEND PROPERTY TV_REGISTERED_SERVERS "exe:$<TARGET_FILE:${name}>")
    endif()
endfunction()

# tv_resource_dll(<name> RC <file.rc>): a resource-only DLL (no code, no entry point).
function(tv_resource_dll name)
    if(NOT TV_WINDOWS_TREE)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "RC" ${ARGN})
    add_library(${name} MODULE ${ARG_RC})
    set_target_properties(${name} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
    target_link_options(${name} PRIVATE -nostdlib -Wl,-e,0 -s)
endfunction()

# tv_idl(<target> IDL <file.idl> [PROXY]) generates <base>.h, <base>_i.c and <base>.tlb into the
# build's generated folder; <target> is an interface library that carries the include path and
# the _i.c. With PROXY, also the stubless proxy/stub code <base>_p.c (listed in TV_PROXY_SOURCES).
function(tv_idl target)
    if(NOT TV_WINDOWS_TREE)
        return()
    endif()
    cmake_parse_arguments(ARG "PROXY" "IDL" "DEPENDS" ${ARGN})
    get_filename_component(base ${ARG_IDL} NAME_WE)
    get_filename_component(idl ${ARG_IDL} ABSOLUTE)
    set(out ${TV_GENERATED_DIR})
    set(widl_flags -m64 -I${CMAKE_SOURCE_DIR}/common -I/usr/include/wine/wine/windows
                   -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(outputs ${out}/${base}.h ${out}/${base}_i.c ${out}/${base}.tlb)
    set(cmds COMMAND ${TV_WIDL} ${widl_flags} -h -o ${out}/${base}.h ${idl}
             COMMAND ${TV_WIDL} ${widl_flags} -u -o ${out}/${base}_i.c ${idl}
             COMMAND ${TV_WIDL} ${widl_flags} -t -o ${out}/${base}.tlb ${idl})
    if(ARG_PROXY)
        list(APPEND outputs ${out}/${base}_p.c)
        list(APPEND cmds COMMAND ${TV_WIDL} ${widl_flags} -Oif -p -o ${out}/${base}_p.c ${idl})
        set_property(GLOBAL APPEND PROPERTY TV_PROXY_SOURCES ${out}/${base}_p.c)
        set_property(GLOBAL APPEND PROPERTY TV_PROXY_IDLS ${idl})
    endif()
    add_custom_command(OUTPUT ${outputs} ${cmds}
                       DEPENDS ${idl} ${ARG_DEPENDS} VERBATIM
                       COMMENT "widl ${base}.idl")
    add_custom_target(${target}_gen DEPENDS ${outputs})
    add_library(${target} STATIC ${out}/${base}_i.c)
    add_dependencies(${target} ${target}_gen)
    target_include_directories(${target} PUBLIC ${out})
    set_property(TARGET ${target} PROPERTY TV_TLB ${out}/${base}.tlb)
endfunction()

# tv_debian_source(<var> <package> <marker file>): the folder of Debian's source package <package>,
# fetched with "apt-get source" into the build folder at configure time when it is not there yet
# (tools/setup-deps.sh adds the deb-src entry); <marker file> is a file at the top of its tree.
function(tv_debian_source var package marker)
    set(fetch_dir ${CMAKE_BINARY_DIR}/_deps/${package}-source)
    file(GLOB found LIST_DIRECTORIES true ${fetch_dir}/${package}-*/${marker})
    if(NOT found)
        file(MAKE_DIRECTORY ${fetch_dir})
        message(STATUS "Fetching Debian's ${package} source package into ${fetch_dir}")
        execute_process(COMMAND apt-get source -qq ${package}
                        WORKING_DIRECTORY ${fetch_dir}
                        RESULT_VARIABLE fetch_result OUTPUT_QUIET ERROR_VARIABLE fetch_errors)
        file(GLOB found LIST_DIRECTORIES true ${fetch_dir}/${package}-*/${marker})
        if(NOT found)
            message(FATAL_ERROR "apt-get source ${package} failed (run tools/setup-deps.sh first): ${fetch_errors}")
        endif()
    endif()
    list(GET found 0 found)
    get_filename_component(found ${found} DIRECTORY)
    set(${var} ${found} PARENT_SCOPE)
endfunction()
