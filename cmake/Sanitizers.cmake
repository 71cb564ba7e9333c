# Applied to the whole tree (GoogleTest included) so that every object agrees.
if(TAVREL_SANITIZE)
  string(REPLACE ";" "," _tavrel_sanitizers "${TAVREL_SANITIZE}")
  add_compile_options(-fsanitize=${_tavrel_sanitizers} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${_tavrel_sanitizers})
  if("undefined" IN_LIST TAVREL_SANITIZE)
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
