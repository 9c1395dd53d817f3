# kovalith_add_manpage(TARGET WHAT): the manual page of program TARGET, written
# from its help texts at build time (scripts/make-manpage.sh) and installed
# gzipped in share/man/man1, as Debian installs manual pages.
function(kovalith_add_manpage target what)
  set(page ${CMAKE_BINARY_DIR}/${target}.1)
  add_custom_command(OUTPUT ${page} ${page}.gz
                     COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-manpage.sh $<TARGET_FILE:${target}> ${page} "${what}"
                     DEPENDS ${target} ${PROJECT_SOURCE_DIR}/scripts/make-manpage.sh
                     COMMENT "Writing the manual page ${target}.1")
  add_custom_target(${target}_manpage ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION share/man/man1)
endfunction()
