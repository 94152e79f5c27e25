# Compiler settings shared by every target of the project.

if(MSVC)
  add_compile_options(/W4 /utf-8 /permissive-)
else()
  add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false -Wrestrict overlaps inside libstdc++ string code (GCC bug 105329).
    add_compile_options(-Wno-restrict)
  endif()
endif()

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  if(MINGW)
    # One self-contained .exe: no libstdc++, libgcc or winpthread DLLs beside it.
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
endif()

if(NULVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(NULVANE_FUZZ)
  # Coverage instrumentation for every library the fuzz targets link.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(NULVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# nulvane_layer(NAME DIR [DEPS...]): a static library of every .cpp in src/DIR, plus
# src/DIR/win32 or src/DIR/posix for the target system.
function(nulvane_layer name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/*.cpp)
  if(WIN32)
    file(GLOB os_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/win32/*.cpp)
  else()
    file(GLOB os_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/posix/*.cpp)
  endif()
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(NOT sources AND NOT os_sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty_layer.cpp)
  endif()
  add_library(${name} STATIC ${sources} ${os_sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
endfunction()
