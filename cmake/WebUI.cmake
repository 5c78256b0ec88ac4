# The page files compiled into the application as BinaryData:
#   index.html      WebUI/index.html
#   bundle.js       the page-side bridge, then WebUI/kit/*.js, then WebUI/main/*.js
#                   (each folder in file-name order), joined at build time
#   tarvo-logo.svg  WebUI/tarvo-logo.svg
set(FERNHALL_BRIDGE_JS ${CMAKE_SOURCE_DIR}/platform/webhost/bridge.js)
file(GLOB FERNHALL_KIT_JS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/WebUI/kit/*.js)
file(GLOB FERNHALL_MAIN_JS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/WebUI/main/*.js)
list(SORT FERNHALL_KIT_JS)
list(SORT FERNHALL_MAIN_JS)
set(FERNHALL_BUNDLE_INPUTS ${FERNHALL_BRIDGE_JS} ${FERNHALL_KIT_JS} ${FERNHALL_MAIN_JS})

set(FERNHALL_PAGE_DIR ${CMAKE_BINARY_DIR}/page)
set(FERNHALL_BUNDLE_JS ${FERNHALL_PAGE_DIR}/bundle.js)
# The binary-data generator wants its inputs to exist when the project is configured.
execute_process(COMMAND ${CMAKE_COMMAND} -DOUT=${FERNHALL_BUNDLE_JS} "-DINPUTS=${FERNHALL_BUNDLE_INPUTS}"
                        -P ${CMAKE_SOURCE_DIR}/cmake/JoinFiles.cmake)
file(COPY ${CMAKE_SOURCE_DIR}/WebUI/index.html ${CMAKE_SOURCE_DIR}/WebUI/tarvo-logo.svg DESTINATION ${FERNHALL_PAGE_DIR})
add_custom_command(
    OUTPUT ${FERNHALL_BUNDLE_JS} ${FERNHALL_PAGE_DIR}/index.html ${FERNHALL_PAGE_DIR}/tarvo-logo.svg
    COMMAND ${CMAKE_COMMAND} -DOUT=${FERNHALL_BUNDLE_JS} "-DINPUTS=${FERNHALL_BUNDLE_INPUTS}"
            -P ${CMAKE_SOURCE_DIR}/cmake/JoinFiles.cmake
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/WebUI/index.html ${FERNHALL_PAGE_DIR}/index.html
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/WebUI/tarvo-logo.svg ${FERNHALL_PAGE_DIR}/tarvo-logo.svg
    DEPENDS ${FERNHALL_BUNDLE_INPUTS} ${CMAKE_SOURCE_DIR}/cmake/JoinFiles.cmake
            ${CMAKE_SOURCE_DIR}/WebUI/index.html ${CMAKE_SOURCE_DIR}/WebUI/tarvo-logo.svg
    COMMENT "Joining the page files"
    VERBATIM)
add_custom_target(fernhall_page DEPENDS ${FERNHALL_BUNDLE_JS} ${FERNHALL_PAGE_DIR}/index.html ${FERNHALL_PAGE_DIR}/tarvo-logo.svg)

juce_add_binary_data(fernhall_webui
    HEADER_NAME BinaryData.h
    NAMESPACE BinaryData
    SOURCES ${FERNHALL_PAGE_DIR}/index.html ${FERNHALL_BUNDLE_JS} ${FERNHALL_PAGE_DIR}/tarvo-logo.svg)
add_dependencies(fernhall_webui fernhall_page)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/WebUI/index.html ${CMAKE_SOURCE_DIR}/WebUI/tarvo-logo.svg ${FERNHALL_BUNDLE_INPUTS})
