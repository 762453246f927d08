# SPDX-License-Identifier: Apache-2.0
# Warnings and sanitizers shared by every target of the project.

function(zaq_set_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast)
    if(ZAQ_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${ZAQ_WARNINGS_AS_ERRORS}>:/WX>)
  endif()
endfunction()

# Calls between the members of an exported class may be inlined: nobody is
# meant to interpose the library's own symbols (clang assumes this already).
function(zaq_library_options target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  endif()
endfunction()

if(ZAQ_SANITIZE AND ZAQ_TSAN)
  message(FATAL_ERROR "ZAQ_SANITIZE and ZAQ_TSAN cannot be combined")
endif()
if(ZAQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
if(ZAQ_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
