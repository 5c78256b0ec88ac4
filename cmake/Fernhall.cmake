# The loopback test server's certificates: one set for the whole machine, because
# its CA goes into the system trust store (one slot, shared by every build folder).
set(FERNHALL_TLS_DIR "/var/tmp/fernhall-test-tls")

# Build helpers shared by the top-level project and the tests, benchmarks and fuzz targets.

# Warnings for our own code (the framework's sources are compiled without them).
add_library(fernhall_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(fernhall_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                                       -Woverloaded-virtual -Wno-missing-field-initializers)
endif()

# Instrumentation for the fuzz build: our libraries get coverage and sanitizers,
# the framework library does not (it is large and not what is being fuzzed).
add_library(fernhall_instrument INTERFACE)
if(FERNHALL_FUZZ)
    target_compile_options(fernhall_instrument INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(fernhall_instrument INTERFACE -fsanitize=address,undefined)
endif()

# The JUCE modules we use, compiled into one static library. Consumers get the
# module include paths and definitions but not the module sources again.
function(fernhall_add_juce_library name)
    add_library(${name} STATIC)
    target_link_libraries(${name}
        PRIVATE
            juce::juce_core juce::juce_events juce::juce_data_structures juce::juce_graphics
            juce::juce_gui_basics juce::juce_gui_extra juce::juce_cryptography
        PUBLIC
            juce::juce_recommended_config_flags
            juce::juce_recommended_lto_flags)
    target_compile_definitions(${name}
        PUBLIC
            JUCE_WEB_BROWSER=0
            JUCE_USE_CURL=1
            JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
            JUCE_DISPLAY_SPLASH_SCREEN=0
            JUCE_REPORT_APP_USAGE=0
            JUCE_STANDALONE_APPLICATION=1
            JUCE_MODAL_LOOPS_PERMITTED=0
            JUCE_SILENCE_XCODE_15_LINKER_WARNING=1
        INTERFACE
            $<TARGET_PROPERTY:${name},COMPILE_DEFINITIONS>)
    target_include_directories(${name} INTERFACE $<TARGET_PROPERTY:${name},INCLUDE_DIRECTORIES>)
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON VISIBILITY_INLINES_HIDDEN ON)
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        find_package(PkgConfig REQUIRED)
        pkg_check_modules(FERNHALL_X11 REQUIRED IMPORTED_TARGET x11 xext freetype2 fontconfig libcurl libpng libjpeg zlib)
        target_link_libraries(${name} PUBLIC PkgConfig::FERNHALL_X11 ${CMAKE_DL_LIBS} pthread rt)
    endif()
endfunction()

# A library made of one source folder.
#   fernhall_add_folder_library(name file.cpp ...)             explicit sources
#   fernhall_add_folder_library(name GLOB folder [EXCLUDE f...]) every .cpp in the folder (not sub-folders)
# A folder with no sources yet gives an interface library, so later folders can
# already name it in their links.
function(fernhall_add_folder_library name)
    cmake_parse_arguments(ARG "" "GLOB" "EXCLUDE" ${ARGN})
    set(sources ${ARG_UNPARSED_ARGUMENTS})
    if(ARG_GLOB)
        file(GLOB globbed CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_GLOB}/*.cpp")
        foreach(ex IN LISTS ARG_EXCLUDE)
            list(REMOVE_ITEM globbed "${CMAKE_CURRENT_SOURCE_DIR}/${ex}")
        endforeach()
        list(APPEND sources ${globbed})
    endif()
    set(present "")
    foreach(s IN LISTS sources)
        if(IS_ABSOLUTE "${s}")
            set(abs "${s}")
        else()
            set(abs "${CMAKE_CURRENT_SOURCE_DIR}/${s}")
        endif()
        if(EXISTS "${abs}")
            list(APPEND present "${abs}")
        endif()
    endforeach()
    if(present)
        add_library(${name} STATIC ${present})
        target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
        target_link_libraries(${name} PRIVATE fernhall_warnings fernhall_instrument)
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    endif()
endfunction()

# Links a folder library to others, whether it has sources yet or not.
function(fernhall_link name)
    get_target_property(type ${name} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_link_libraries(${name} INTERFACE ${ARGN})
    else()
        target_link_libraries(${name} PUBLIC ${ARGN})
    endif()
endfunction()

# Every sub-folder of `parent` that has a CMakeLists.txt is added; each area of
# the code keeps its tests, benchmarks and fuzz targets in a folder of its own.
function(fernhall_add_subfolders parent)
    file(GLOB children LIST_DIRECTORIES true "${CMAKE_CURRENT_SOURCE_DIR}/${parent}/*")
    list(SORT children)
    foreach(child IN LISTS children)
        if(IS_DIRECTORY "${child}" AND EXISTS "${child}/CMakeLists.txt")
            add_subdirectory("${child}")
        endif()
    endforeach()
endfunction()

# A GoogleTest executable registered with CTest.
#   fernhall_add_gtest(name SOURCES a.cpp ... LIBS lib ... [LABELS l ...])
function(fernhall_add_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} fernhall_juce GTest::gtest GTest::gmock fernhall_warnings)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${ARG_LABELS}"
                   FIXTURES_REQUIRED vendor_tls
                   ENVIRONMENT "FERNHALL_TLS_DIR=${FERNHALL_TLS_DIR}")
endfunction()

# A libFuzzer target; only in the fuzz build.
#   fernhall_add_fuzzer(name SOURCES a.cpp LIBS lib ...)
function(fernhall_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} fernhall_instrument)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
endfunction()

# A test program that starts the loopback HTTPS server (tests/support/VendorServer.h):
# its tests need the certificates of the "vendor_tls" fixture.
function(fernhall_use_vendor_server name)
    target_compile_definitions(${name} PRIVATE FERNHALL_VENDOR_SERVER="${CMAKE_SOURCE_DIR}/tests/support/vendor_server.py")
    set_property(TARGET ${name} APPEND PROPERTY FERNHALL_NEEDS_TLS TRUE)
endfunction()
