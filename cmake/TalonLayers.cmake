# Library layering check, run at configure time after every subdirectory.
#
# Each talon_* library sits on a layer; a library may link only libraries of
# lower layers, so the graph has no cycle and no library reaches up:
#
#   0  talon_misc                          framing, catalogue, shared types
#   1  talon_timing  talon_link            1PPS settings; target proxy + serial ports
#   2  talon_kernel  talon_rtk             navigation kernel; RTK engine
#   3  talon_host                          the host program
#   4  talon_sky talon_sol_plot talon_cn0_stats
#                                          the tools' libraries (never linked by the above);
#                                          talon_sky: the simulated sky, links misc only
#   5  talon_scenario_sim talon_target_sim the simulators, which may build on the sky
#
# A talon_* library missing from the table fails the check: a new library
# takes its place here first. Besides, the executables in
# TALON_STANDALONE_TOOLS must not reach the kernel, the RTK engine or the host
# program through any chain of links: they play the other end of the link
# (talon_target) or read only the program's output files (sol_plot), and
# share at most misc with the receiver.

set(TALON_LAYER_talon_misc 0)
set(TALON_LAYER_talon_timing 1)
set(TALON_LAYER_talon_link 1)
set(TALON_LAYER_talon_kernel 2)
set(TALON_LAYER_talon_rtk 2)
set(TALON_LAYER_talon_host 3)
set(TALON_LAYER_talon_sky 4)
set(TALON_LAYER_talon_scenario_sim 5)
set(TALON_LAYER_talon_target_sim 5)
set(TALON_LAYER_talon_sol_plot 4)
set(TALON_LAYER_talon_cn0_stats 4)

set(TALON_STANDALONE_TOOLS talon_target sol_plot)
set(TALON_STANDALONE_FORBIDDEN talon_kernel talon_rtk talon_host)

# Every target defined in `dir` and below, into `out`.
function(talon_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    talon_collect_targets(${sub} sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The libraries `target` links directly (LINK_LIBRARIES and
# INTERFACE_LINK_LIBRARIES, $<LINK_ONLY:x> unwrapped), into `out`.
function(talon_direct_links target out)
  set(links "")
  foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(items ${target} ${prop})
    if(items)
      foreach(item ${items})
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
        list(APPEND links ${item})
      endforeach()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES links)
  set(${out} ${links} PARENT_SCOPE)
endfunction()

# Every talon_* library `target` reaches through links, into `out`.
function(talon_reachable_libraries target out)
  set(seen "")
  set(todo ${target})
  while(todo)
    list(POP_FRONT todo t)
    talon_direct_links(${t} links)
    foreach(l ${links})
      if(l MATCHES "^talon_" AND TARGET ${l} AND NOT l IN_LIST seen)
        list(APPEND seen ${l})
        list(APPEND todo ${l})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(talon_check_layers)
  talon_collect_targets(${CMAKE_SOURCE_DIR} all_targets)
  set(errors "")
  foreach(t ${all_targets})
    get_target_property(type ${t} TYPE)
    if(NOT t MATCHES "^talon_" OR NOT type MATCHES "_LIBRARY$")
      continue()
    endif()
    if(NOT DEFINED TALON_LAYER_${t})
      string(APPEND errors "\n  ${t} has no layer in cmake/TalonLayers.cmake")
      continue()
    endif()
    talon_direct_links(${t} links)
    foreach(l ${links})
      if(NOT l MATCHES "^talon_")
        continue()
      endif()
      if(NOT DEFINED TALON_LAYER_${l})
        string(APPEND errors "\n  ${t} links ${l}, which has no layer")
      elseif(NOT TALON_LAYER_${l} LESS TALON_LAYER_${t})
        string(APPEND errors
               "\n  ${t} (layer ${TALON_LAYER_${t}}) links ${l} (layer ${TALON_LAYER_${l}}): only lower layers allowed")
      endif()
    endforeach()
  endforeach()
  foreach(tool ${TALON_STANDALONE_TOOLS})
    if(NOT TARGET ${tool})
      continue()
    endif()
    talon_reachable_libraries(${tool} reached)
    foreach(lib ${TALON_STANDALONE_FORBIDDEN})
      if(lib IN_LIST reached)
        string(APPEND errors "\n  ${tool} reaches ${lib}; it may share misc only with the receiver")
      endif()
    endforeach()
  endforeach()
  if(errors)
    message(FATAL_ERROR "Library layering broken (cmake/TalonLayers.cmake):${errors}")
  endif()
endfunction()

talon_check_layers()
