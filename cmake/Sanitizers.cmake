# -DBRONTIDE_SANITIZE=address,undefined or =thread instruments everything built here.
if(BRONTIDE_SANITIZE)
  set(flags "-fsanitize=${BRONTIDE_SANITIZE}" -fno-omit-frame-pointer -g)
  if(BRONTIDE_SANITIZE MATCHES "undefined")
    list(APPEND flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${flags})
  add_link_options("-fsanitize=${BRONTIDE_SANITIZE}")
endif()
