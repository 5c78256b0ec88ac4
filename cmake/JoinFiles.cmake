# cmake -DOUT=file -DINPUTS="a;b;c" -P JoinFiles.cmake
# Writes the inputs one after another into OUT, each followed by a line break.
set(content "")
foreach(f IN LISTS INPUTS)
    file(READ "${f}" part)
    string(APPEND content "${part}\n")
endforeach()
if(EXISTS "${OUT}")
    file(READ "${OUT}" old)
    if(old STREQUAL content)
        return()
    endif()
endif()
file(WRITE "${OUT}" "${content}")
