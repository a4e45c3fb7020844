# Fails when a file of the portable core includes anything but the C++
# standard library or another core header. Platform code lives in the
# qt/, posix/, win32/ and asio/ folders below a subsystem and is not checked.
#
# Usage: cmake -DROOT=<src dir> -P CheckCoreIncludes.cmake

cmake_minimum_required(VERSION 3.25)

set(standard_headers
  algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono condition_variable
  cinttypes climits cmath compare concepts cstddef cstdint cstdio cstdlib cstring ctime
  deque exception filesystem fstream functional initializer_list iomanip ios iosfwd
  iostream istream iterator limits list map memory mutex numbers numeric optional ostream
  random ranges ratio set span sstream stdexcept string string_view system_error tuple
  type_traits typeinfo unordered_map unordered_set utility variant vector)
set(core_dirs common target link speech display ui app)

set(failures "")
foreach(dir IN LISTS core_dirs)
  file(GLOB files "${ROOT}/${dir}/*.h" "${ROOT}/${dir}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "<([^>]+)>")
        if(NOT CMAKE_MATCH_1 IN_LIST standard_headers)
          list(APPEND failures "${file}: <${CMAKE_MATCH_1}> is not a standard C++ header")
        endif()
      elseif(line MATCHES "\"([^\"]+)\"")
        set(header "${CMAKE_MATCH_1}")
        string(REGEX MATCH "^[a-z]+" top "${header}")
        if(NOT top IN_LIST core_dirs OR header MATCHES "/(qt|posix|win32|asio)/" OR NOT EXISTS "${ROOT}/${header}")
          list(APPEND failures "${file}: \"${header}\" is not a core header")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n" report)
  message(FATAL_ERROR "The core must stay portable:\n${report}")
endif()
message(STATUS "Core includes: standard library and own headers only")
