# sysmon_place_dll_beside(<target>): copies vantorel-sysmon.dll into the
# target's build directory before the target is built. Hosts load the library
# at run time by its file name, and Windows looks beside the executable first.
function(sysmon_place_dll_beside target)
  set(dll ${CMAKE_CURRENT_BINARY_DIR}/vantorel-sysmon.dll)
  add_custom_command(
    OUTPUT ${dll}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:vantorel-sysmon> ${dll}
    DEPENDS vantorel-sysmon
    COMMENT "Placing vantorel-sysmon.dll beside ${target}")
  add_custom_target(${target}_dll ALL DEPENDS ${dll})
  add_dependencies(${target} ${target}_dll)
endfunction()
